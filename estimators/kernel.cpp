// Product kernels over the continuous regressors. The engine's batch kernels
// evaluate the Gaussian one lane by lane with the same operations; this
// scalar form states it and serves single values.
#include <cmath>

#include "estimators/frame.h"

namespace lp {

double gaussian_kernel(int d, const double* u)
{
    double r = 1.0;
    for (int k = 0; k < d; ++k) {
        const double e = expo(((-u[k]) * u[k]) / 2.0);
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

}  // namespace lp
