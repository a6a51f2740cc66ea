// The exact local fits of tests/data/stiff_reference.txt (written by
// tests/data/stiff_reference.py with mpmath): the inputs of each case as the
// bits of their doubles, and at chosen evaluation points the exact outputs
// with the scale each is measured against.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/loader.h"

namespace stiff {

struct Data {
    int n = 0, p = 0;
    std::vector<double> x;  // n × p, column-major
    std::vector<double> y;
};

struct Point {
    int j = 0;
    std::vector<double> mh, sh;    // exact outputs, B each
    std::vector<double> smh, ssh;  // the scale of each output's error
};

struct Case {
    std::string title, name, data;
    int m = 0, deg = 1, vol = 1, nloo = 0, nr = 0, lam = 0;
    std::vector<double> h, t;  // t: m × pc, column-major
    std::vector<Point> points;
};

struct CvScore {
    double h, score;
};

struct Reference {
    std::map<std::string, Data> data;
    std::vector<Case> cases;
    std::vector<CvScore> engel_cv;

    // The host's view of a case: the problem an export is called with.
    host::Problem problem(const Case& c) const
    {
        const Data& d = data.at(c.data);
        host::Problem pr;
        pr.n = d.n;
        pr.p = d.p;
        pr.x = d.x;
        pr.y = d.y;
        pr.nr = c.nr;
        pr.m = c.m;
        pr.h = c.h;
        // The continuous columns of t; the dummy columns are never read.
        pr.t.assign(static_cast<std::size_t>(c.m) * d.p, 0.0);
        for (std::size_t k = 0; k < c.t.size(); ++k) pr.t[k] = c.t[k];
        pr.deg = c.deg;
        pr.vol = c.vol;
        pr.nloo = c.nloo;
        pr.lam = c.lam;
        return pr;
    }
};

inline double from_bits(const std::string& hex)
{
    const std::uint64_t b = std::strtoull(hex.c_str(), nullptr, 16);
    double v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

inline std::vector<double> bit_list(std::istringstream& in)
{
    std::vector<double> v;
    std::string w;
    while (in >> w) v.push_back(from_bits(w));
    return v;
}

inline std::vector<double> decimal_list(std::istringstream& in)
{
    std::vector<double> v;
    std::string w;
    while (in >> w) v.push_back(std::strtod(w.c_str(), nullptr));
    return v;
}

inline Reference load(const std::string& path)
{
    std::ifstream file(path);
    if (!file) throw std::runtime_error("cannot read " + path);
    Reference r;
    Data* data = nullptr;
    Case* c = nullptr;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream in(line);
        std::string key;
        in >> key;
        if (key == "data") {
            std::string name;
            Data d;
            in >> name >> d.n >> d.p;
            data = &(r.data[name] = d);
        } else if (key == "x") {
            const std::vector<double> v = bit_list(in);
            data->x.insert(data->x.end(), v.begin(), v.end());
        } else if (key == "y") {
            data->y = bit_list(in);
        } else if (key == "case") {
            r.cases.emplace_back();
            c = &r.cases.back();
            c->title = line.substr(5);
        } else if (key == "call") {
            std::string word;
            in >> c->name >> c->data >> word >> c->m >> word >> c->deg >> word >> c->vol >> word >> c->nloo >> word >>
                c->nr >> word >> c->lam;
        } else if (key == "h") {
            c->h = bit_list(in);
        } else if (key == "t") {
            const std::vector<double> v = bit_list(in);
            c->t.insert(c->t.end(), v.begin(), v.end());
        } else if (key == "point") {
            c->points.emplace_back();
            in >> c->points.back().j;
        } else if (key == "mh") {
            c->points.back().mh = decimal_list(in);
        } else if (key == "sh") {
            c->points.back().sh = decimal_list(in);
        } else if (key == "smh") {
            c->points.back().smh = decimal_list(in);
        } else if (key == "ssh") {
            c->points.back().ssh = decimal_list(in);
        } else if (key == "cv") {
            std::string set, h;
            double score = 0;
            in >> set >> h >> score;
            r.engel_cv.push_back({from_bits(h), score});
        } else if (key != "end") {
            throw std::runtime_error(path + ": unknown line " + line);
        }
    }
    return r;
}

}  // namespace stiff
