// Product kernels over the continuous regressors and the kernel stage: the
// weights of all observations at one evaluation point and their density sums.
//
// Dummies never enter the kernel. The density at point j is the sum of the
// weights, sum_i K((x_i - t_j)/h) / (D·hprod), with D = n, or n - 1 under
// leave-one-out; with groups, observation i falls in group (i + phase - 1)
// mod K and each group cell is scaled by grp[0].
#include <cmath>

#include "estimators/frame.h"

namespace lp {

double gaussian_kernel(int d, const double* u)
{
    double r = 1.0;
    for (int k = 0; k < d; ++k) {
        const double e = std::exp(((-u[k]) * u[k]) / 2.0);
        r = r * (e / std::sqrt(6.283185307179586));
    }
    return r;
}

double quartic_kernel(int d, const double* u)
{
    double r = 1.0;
    for (int k = 0; k < d; ++k) {
        const double a = u[k] * u[k];
        if (a > 1) return 0.0;
        r = r * (0.9375 * (1 - a) * (1 - a));
    }
    return r;
}

void kernel_stage(const Args& a, int j, double norm, double* u, double* w)
{
    const bool grouped = a.K >= 2;
    const std::ptrdiff_t m = a.m;
    double* fj = a.fh + j;  // fj[0]: density; fj[(g + 1)·m]: group g
    for (int i = 0; i < a.n; ++i) {
        for (int k = 0; k < a.pc; ++k)
            u[k] = (a.x[i + static_cast<std::ptrdiff_t>(k) * a.n] - a.t[j + k * m]) / a.h[k];
        w[i] = (a.nloo == 1 && i == j) ? 0.0 : gaussian_kernel(a.pc, u) / norm;
        if (!grouped) {
            fj[0] = fj[0] + w[i];
        } else {
            const std::int64_t g = (static_cast<std::int64_t>(i) + a.phase - 1) % a.K;
            fj[(g + 1) * m] = fj[(g + 1) * m] + w[i];
        }
    }
    if (grouped) {
        const double scale = a.grp[0];
        for (std::int64_t g = 0; g < a.K; ++g) fj[(g + 1) * m] = fj[(g + 1) * m] * scale;
        for (std::int64_t g = 0; g < a.K; ++g) fj[0] = fj[0] + fj[(g + 1) * m];
        fj[0] = fj[0] / scale;
    }
}

}  // namespace lp
