// Estimation problems for the export tests, built as a host would hold them.
#pragma once

#include <cmath>
#include <random>

#include "host/loader.h"

// n observations of pc continuous regressors on [0, 1] and p - pc 0/1
// dummies, a smooth response with heteroscedastic noise, and m evaluation
// points inside the data.
inline host::Problem random_problem(int n, int p, int pc, int m, unsigned seed, double bandwidth = 0.4)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 1.0);
    host::Problem pr;
    pr.n = n;
    pr.p = p;
    pr.nr = n;
    pr.m = m;
    pr.x.resize(static_cast<std::size_t>(n) * p);
    pr.y.resize(n);
    for (int k = 0; k < p; ++k)
        for (int i = 0; i < n; ++i) pr.x[i + k * n] = k < pc ? unit(gen) : (unit(gen) < 0.4 ? 1.0 : 0.0);
    for (int i = 0; i < n; ++i) {
        double f = 1.0, s = 0.2;
        for (int k = 0; k < p; ++k) {
            const double v = pr.x[i + k * n];
            f += k < pc ? std::sin(2.0 * v + k) + v * v : 0.5 * v;
            s += k < pc ? 0.2 * v : 0.0;
        }
        pr.y[i] = f + s * noise(gen);
    }
    pr.t.resize(static_cast<std::size_t>(m) * p);
    for (int k = 0; k < p; ++k)
        for (int j = 0; j < m; ++j) pr.t[j + k * m] = 0.2 + 0.6 * unit(gen);
    pr.h.assign(p, bandwidth);
    if (pc < p) pr.h[p - 1] = -pc;
    return pr;
}

// One continuous regressor on a grid, the response exactly f(x), evaluation
// at the given points.
template <class F>
host::Problem exact_problem(int n, const std::vector<double>& t, double h, F f)
{
    host::Problem pr;
    pr.n = pr.nr = n;
    pr.p = 1;
    pr.m = static_cast<double>(t.size());
    for (int i = 0; i < n; ++i) {
        const double x = -1.0 + 2.0 * i / (n - 1);
        pr.x.push_back(x);
        pr.y.push_back(f(x));
    }
    pr.t = t;
    pr.h = {h};
    return pr;
}

// Fifty observations at 0, 20, ..., 980 and a local fit in 1, x - t, (x - t)²
// and (x - t)⁴ (dorvane, deg = 3). Inside the data the fit is well
// determined; at t = 2000 the quartic column dwarfs the others and the check
// sum comes out near 1e12.
inline host::Problem extrapolated(std::vector<double> t)
{
    host::Problem pr;
    for (int i = 0; i < 50; ++i) {
        pr.x.push_back(20.0 * i);
        pr.y.push_back(std::sin(0.1 * i));
    }
    pr.n = pr.nr = 50;
    pr.p = 1;
    pr.m = static_cast<double>(t.size());
    pr.t = std::move(t);
    pr.h = {50.0};
    pr.deg = 3;
    return pr;
}
