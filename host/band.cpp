// Normal quantile and the confidence band of the local linear fit.
#include "host/band.h"

#include <cmath>
#include <limits>

namespace lpfit {

namespace {

const double kPi = 3.14159265358979323846;

// Acklam's approximation of the quantile for p <= 1/2: a rational function of
// p - 1/2 in the centre, of sqrt(-2 log p) in the tail.
double acklam(double p)
{
    static const double a[] = {-3.969683028665376e+01, 2.209460984245205e+02, -2.759285104469687e+02,
                               1.383577518672690e+02,  -3.066479806614716e+01, 2.506628277459239e+00};
    static const double b[] = {-5.447609879822406e+01, 1.615858368580409e+02, -1.556989798598866e+02,
                               6.680131188771972e+01,  -1.328068155288572e+01};
    static const double c[] = {-7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
                               -2.549732539343734e+00, 4.374664141464968e+00,  2.938163982698783e+00};
    static const double d[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                               3.754408661907416e+00};
    if (p < 0.02425) {
        const double q = std::sqrt(-2.0 * std::log(p));
        return (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
               ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1.0);
    }
    const double q = p - 0.5, r = q * q;
    return (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
           (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1.0);
}

}  // namespace

double normal_quantile(double p)
{
    if (!(p > 0.0 && p < 1.0)) return std::numeric_limits<double>::quiet_NaN();
    // Phi^-1(p) = -Phi^-1(1 - p); for p >= 1/2, 1 - p is exact, and working in
    // the lower half keeps Phi(x) - p free of cancellation.
    if (p > 0.5) return -normal_quantile(1.0 - p);
    const double x = acklam(p);
    // Halley step on Phi(x) - p = 0 with Phi(x) = erfc(-x/sqrt 2)/2.
    const double e = 0.5 * std::erfc(-x / std::sqrt(2.0)) - p;
    const double u = e * std::sqrt(2.0 * kPi) * std::exp(x * x / 2.0);
    // (Far in the tail, below p = 1e-300 or so, exp overflows; keep Acklam's value.)
    return std::isfinite(u) ? x - u / (1.0 + x * u / 2.0) : x;
}

std::vector<double> band_halfwidths(const std::vector<double>& var, const std::vector<double>& f, double n, double h,
                                    double conf)
{
    const double z = -normal_quantile((1.0 - conf) / 2.0);
    const double R = 1.0 / (2.0 * std::sqrt(kPi));
    std::vector<double> half(var.size());
    for (std::size_t j = 0; j < var.size(); ++j)
        half[j] = var[j] < 0 ? std::numeric_limits<double>::quiet_NaN() : z * std::sqrt(var[j] * R / (n * h * f[j]));
    return half;
}

}  // namespace lpfit
