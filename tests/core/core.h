// A small owner of the core's request and fit for the tests, and problems to fit.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "lpcore.h"
#include "support.h"

struct Request {
    lpc_request* s;
    explicit Request(const char* estimator) : s(lpc_request_new(estimator)) {}
    ~Request() { lpc_request_free(s); }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    Request& y(const std::vector<double>& v, const char* name = "y")
    {
        lpc_set_response(s, name, v.data(), v.size());
        return *this;
    }
    Request& x(const char* name, const std::vector<double>& v, bool dummy = false)
    {
        lpc_add_regressor(s, name, v.data(), v.size(), dummy ? 1 : 0);
        return *this;
    }
    Request& set(const char* name, long long v)
    {
        lpc_set_int(s, name, v);
        return *this;
    }
    Request& set(const char* name, double v)
    {
        lpc_set_double(s, name, v);
        return *this;
    }
    Request& set(const char* name, const std::vector<double>& v)
    {
        lpc_set_doubles(s, name, v.data(), v.size());
        return *this;
    }
    Request& set(const char* name, const char* v)
    {
        lpc_set_text(s, name, v);
        return *this;
    }
};

struct Fit {
    lpc_fit* f = nullptr;
    int status = -1;
    explicit Fit(const Request& request, lpc_progress progress = nullptr, void* ctx = nullptr)
    {
        status = lpc_run(request.s, progress, ctx, &f);
    }
    ~Fit() { lpc_fit_free(f); }
    Fit(const Fit&) = delete;
    Fit& operator=(const Fit&) = delete;

    std::string message() const { return lpc_message(f); }
    std::vector<std::string> names() const
    {
        std::vector<std::string> v;
        for (std::size_t k = 0; k < lpc_columns(f); ++k) v.push_back(lpc_column_name(f, k));
        return v;
    }
    std::vector<double> values(const char* name) const
    {
        std::size_t n = 0;
        const double* v = lpc_values(f, name, &n);
        return v == nullptr ? std::vector<double>() : std::vector<double>(v, v + n);
    }
    std::vector<long long> points(const char* name) const
    {
        std::size_t n = 0;
        const long long* v = lpc_points(f, name, &n);
        return v == nullptr ? std::vector<long long>() : std::vector<long long>(v, v + n);
    }
    std::string text(const char* name, int base = 1) const
    {
        const char* t = lpc_text(f, name, base);
        return t == nullptr ? "<null>" : t;
    }
};

// Every column of two fits has the same bits.
inline bool same_table(const Fit& a, const Fit& b)
{
    if (a.names() != b.names()) return false;
    for (const std::string& c : a.names()) {
        const std::vector<double> u = a.values(c.c_str()), v = b.values(c.c_str());
        if (u.size() != v.size()) return false;
        for (std::size_t i = 0; i < u.size(); ++i)
            if (!same_bits(u[i], v[i])) return false;
    }
    return true;
}

// Data of n observations: x1, x2 uniform on [0, 1], a 0/1 dummy d and a smooth
// response with noise.
struct Data {
    std::vector<double> x1, x2, d, y;
    explicit Data(int n, unsigned seed = 7)
    {
        std::mt19937 gen(seed);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        std::normal_distribution<double> noise(0.0, 0.3);
        for (int i = 0; i < n; ++i) {
            x1.push_back(unit(gen));
            x2.push_back(unit(gen));
            d.push_back(unit(gen) < 0.4 ? 1.0 : 0.0);
            y.push_back(std::sin(3 * x1.back()) + x2.back() * x2.back() + 0.5 * d.back() + noise(gen));
        }
    }
};
