// The benchmarks' data: n observations of p regressors uniform on [0, 1],
// y = Σ_k sin(2π x_k) + 0.3·ε, evaluated at n uniform points, with vol.
#pragma once

#include <cmath>
#include <random>

#include "host/loader.h"

inline host::Problem uniform_problem(int n, int p, int deg, double h)
{
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 1.0);
    host::Problem pr;
    pr.n = pr.nr = pr.m = n;
    pr.p = p;
    pr.deg = deg;
    pr.vol = 1;
    pr.lam = 1;
    pr.x.resize(static_cast<std::size_t>(n) * p);
    pr.t.resize(static_cast<std::size_t>(n) * p);
    for (double& v : pr.x) v = unit(gen);
    for (double& v : pr.t) v = unit(gen);
    pr.y.resize(n);
    for (int i = 0; i < n; ++i) {
        double f = 0.0;
        for (int k = 0; k < p; ++k) f += std::sin(6.283185307179586 * pr.x[i + static_cast<std::size_t>(k) * n]);
        pr.y[i] = f + 0.3 * noise(gen);
    }
    pr.h.assign(p, h);
    return pr;
}
