// Helpers for the command-line tool's tests: a scratch directory, small files,
// a run of the built lpfit binary with its exit status and both streams, and
// its table read back.
#pragma once

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"

// A directory under /tmp, removed with its files when the test ends.
class Scratch {
public:
    Scratch()
    {
        char pattern[] = "/tmp/lpfit_test_XXXXXX";
        dir = mkdtemp(pattern);
    }
    ~Scratch() { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string path(const std::string& name) const { return dir + "/" + name; }
    // Writes `text` into file `name` and returns its path.
    std::string file(const std::string& name, const std::string& text) const
    {
        std::ofstream(path(name), std::ios::binary) << text;
        return path(name);
    }
    std::string dir;
};

inline std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The names in directory `dir`, sorted, without those that start with a dot.
inline std::vector<std::string> names_in(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs `lpfit ARGS` (ARGS as the shell reads them) in directory `where`.
inline Result run_lpfit(const std::string& args, const Scratch& where)
{
    const std::string out = where.path(".stdout"), err = where.path(".stderr");
    const std::string cmd = "cd '" + where.dir + "' && " LPFIT_PATH " " + args + " >'" + out + "' 2>'" + err + "' </dev/null";
    const int rc = std::system(cmd.c_str());
    Result r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

// Data on which tremsal (h = 50) fails the conditioning test far beyond the
// observations, at x = 2000, and the evaluation points 0, 25, ..., 975 with
// point `far` (from 0) moved there. Writes spread.csv and far.csv.
inline void far_point_files(const Scratch& s, int far)
{
    std::string data = "x,y\n", at = "x\n";
    for (int i = 0; i < 50; ++i) data += std::to_string(20 * i) + "," + std::to_string(std::sin(0.1 * i)) + "\n";
    for (int j = 0; j < 40; ++j) at += std::to_string(j == far ? 2000 : 25 * j) + "\n";
    s.file("spread.csv", data);
    s.file("far.csv", at);
}

// The rows of a CSV table written by lpfit, each cell read back as a double.
struct Parsed {
    std::vector<std::string> header;
    std::vector<std::vector<double>> rows;
};
inline Parsed parse_table(const std::string& text)
{
    Parsed p;
    std::istringstream in(text);
    std::string line, cell;
    bool first = true;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<double> row;
        while (std::getline(fields, cell, ',')) {
            if (first)
                p.header.push_back(cell);
            else
                row.push_back(cell == "NaN" ? NAN : cell == "Inf" ? HUGE_VAL : cell == "-Inf" ? -HUGE_VAL : std::strtod(cell.c_str(), nullptr));
        }
        if (!first) p.rows.push_back(row);
        first = false;
    }
    return p;
}

// Column `name` of a parsed table.
inline std::vector<double> column(const Parsed& t, const std::string& name)
{
    const auto at = std::find(t.header.begin(), t.header.end(), name);
    if (at == t.header.end()) {
        ADD_FAILURE() << "no column " << name;
        return {};
    }
    std::vector<double> v;
    for (const std::vector<double>& row : t.rows) v.push_back(row[static_cast<std::size_t>(at - t.header.begin())]);
    return v;
}

// The count of lines of `text` that start with `start`.
inline std::size_t lines_starting(const std::string& text, const std::string& start)
{
    std::size_t count = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) count += line.compare(0, start.size(), start) == 0 ? 1 : 0;
    return count;
}
