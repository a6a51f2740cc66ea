// Brent's method and Nelder and Mead's simplex, as in the numerical analysis
// textbooks, with the care a criterion that may be +inf needs: a parabola is
// only fitted through finite values, and comparisons order +inf last.
#include "core/minimise.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace lpc {

namespace {

const double golden = 0.3819660112501051;  // (3 - sqrt(5)) / 2

// Brent's minimisation on [a, b] with x inside, f(x) = fx the least value seen.
Found brent(const Objective& f, double a, double b, double x, double fx, double tol)
{
    double w = x, v = x, fw = fx, fv = fx, d = 0.0, e = 0.0;
    for (int iter = 0; iter < 200; ++iter) {
        const double mid = 0.5 * (a + b), tol2 = 2.0 * tol;
        if (std::fabs(x - mid) <= tol2 - 0.5 * (b - a)) break;
        bool golden_step = true;
        if (std::fabs(e) > tol && std::isfinite(fx) && std::isfinite(fw) && std::isfinite(fv)) {
            // The parabola through (x, fx), (w, fw), (v, fv).
            const double r = (x - w) * (fx - fv);
            double q = (x - v) * (fx - fw);
            double p = (x - v) * q - (x - w) * r;
            q = 2.0 * (q - r);
            if (q > 0.0) p = -p;
            q = std::fabs(q);
            const double last = e;
            e = d;
            if (std::fabs(p) < std::fabs(0.5 * q * last) && p > q * (a - x) && p < q * (b - x)) {
                d = p / q;
                const double u = x + d;
                if (u - a < tol2 || b - u < tol2) d = mid > x ? tol : -tol;
                golden_step = false;
            }
        }
        if (golden_step) {
            e = x >= mid ? a - x : b - x;
            d = golden * e;
        }
        const double u = std::fabs(d) >= tol ? x + d : x + (d > 0 ? tol : -tol);
        const double fu = f({u});
        if (fu <= fx) {
            (u >= x ? a : b) = x;
            v = w, fv = fw;
            w = x, fw = fx;
            x = u, fx = fu;
        } else {
            (u < x ? a : b) = u;
            if (fu <= fw || w == x) {
                v = w, fv = fw;
                w = u, fw = fu;
            } else if (fu <= fv || v == x || v == w) {
                v = u, fv = fu;
            }
        }
    }
    return Found{{x}, fx, false};
}

}  // namespace

Found minimise_line(const Objective& f, double u0, double step, double lo, double hi, double tol)
{
    // The grid, widened while its least value is at an edge inside the range.
    std::vector<double> u, fu;
    for (int k = -3; k <= 2; ++k) {
        const double at = u0 + k * step;
        if (at >= lo - 1e-12 && at <= hi + 1e-12) u.push_back(at), fu.push_back(f({at}));
    }
    if (u.empty()) u.push_back(std::min(std::max(u0, lo), hi)), fu.push_back(f({u.back()}));
    for (;;) {
        const std::size_t best = static_cast<std::size_t>(std::min_element(fu.begin(), fu.end()) - fu.begin());
        if (best == 0 && u.front() - step >= lo - 1e-12) {
            u.insert(u.begin(), u.front() - step);
            fu.insert(fu.begin(), f({u.front()}));
        } else if (best + 1 == u.size() && u.back() + step <= hi + 1e-12) {
            u.push_back(u.back() + step);
            fu.push_back(f({u.back()}));
        } else {
            if (!std::isfinite(fu[best])) return Found{{u[best]}, fu[best], false};
            if (best == 0 || best + 1 == u.size()) return Found{{u[best]}, fu[best], true};
            return brent(f, u[best - 1], u[best + 1], u[best], fu[best], tol);
        }
    }
}

Found minimise_simplex(const Objective& f, const std::vector<double>& u0, double step,
                       const std::vector<double>& lo, const std::vector<double>& hi, double tol, int max_evals,
                       bool restart)
{
    const std::size_t dim = u0.size();
    auto clamp = [&](std::vector<double> u) {
        for (std::size_t k = 0; k < dim; ++k) u[k] = std::min(std::max(u[k], lo[k]), hi[k]);
        return u;
    };
    int evals = 0;
    auto value = [&](const std::vector<double>& u) {
        ++evals;
        return f(clamp(u));
    };

    std::vector<double> best = clamp(u0);
    double fbest = value(best);
    for (int round = 0; round < (restart ? 2 : 1); ++round) {
        const double edge = round == 0 ? step : std::min(step, 0.1);
        std::vector<std::vector<double>> s(dim + 1, best);
        std::vector<double> fs(dim + 1, fbest);
        for (std::size_t k = 0; k < dim; ++k) {
            s[k + 1][k] += edge;
            fs[k + 1] = value(s[k + 1]);
        }
        std::vector<std::size_t> order(dim + 1);
        while (evals < max_evals) {
            std::iota(order.begin(), order.end(), 0);
            std::stable_sort(order.begin(), order.end(), [&](std::size_t i, std::size_t j) { return fs[i] < fs[j]; });
            const std::size_t b = order[0], worst = order[dim], second = order[dim - 1];
            double size = 0;
            for (std::size_t i = 0; i <= dim; ++i)
                for (std::size_t k = 0; k < dim; ++k) size = std::max(size, std::fabs(s[i][k] - s[b][k]));
            if (size < tol) break;

            std::vector<double> c(dim, 0.0);
            for (std::size_t i = 0; i <= dim; ++i)
                if (i != worst)
                    for (std::size_t k = 0; k < dim; ++k) c[k] += s[i][k] / static_cast<double>(dim);
            auto towards = [&](const std::vector<double>& from, double t) {
                std::vector<double> u(dim);
                for (std::size_t k = 0; k < dim; ++k) u[k] = c[k] + t * (from[k] - c[k]);
                return u;
            };
            const std::vector<double> r = towards(s[worst], -1.0);
            const double fr = value(r);
            if (fr < fs[b]) {
                const std::vector<double> x = towards(s[worst], -2.0);
                const double fx = value(x);
                if (fx < fr) s[worst] = x, fs[worst] = fx;
                else s[worst] = r, fs[worst] = fr;
            } else if (fr < fs[second]) {
                s[worst] = r, fs[worst] = fr;
            } else {
                const bool outside = fr < fs[worst];
                const std::vector<double> x = towards(outside ? r : s[worst], 0.5);
                const double fx = value(x);
                if (fx < (outside ? fr : fs[worst])) {
                    s[worst] = x, fs[worst] = fx;
                } else {
                    for (std::size_t i = 0; i <= dim; ++i) {
                        if (i == b) continue;
                        for (std::size_t k = 0; k < dim; ++k) s[i][k] = s[b][k] + 0.5 * (s[i][k] - s[b][k]);
                        fs[i] = value(s[i]);
                    }
                }
            }
        }
        const std::size_t b = static_cast<std::size_t>(std::min_element(fs.begin(), fs.end()) - fs.begin());
        if (fs[b] <= fbest) best = clamp(s[b]), fbest = fs[b];
    }
    bool edge = false;
    for (std::size_t k = 0; k < dim; ++k) edge = edge || best[k] <= lo[k] || best[k] >= hi[k];
    return Found{best, fbest, edge};
}

}  // namespace lpc
