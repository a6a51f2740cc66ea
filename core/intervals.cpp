// The normal quantile and the intervals of the outputs.
#include "core/intervals.h"

#include <cmath>
#include <limits>

namespace lpc {

namespace {

const double kPi = 3.14159265358979323846;

// Horner's rule over coefficients from the highest power down.
template <std::size_t N>
double horner(const double (&c)[N], double r)
{
    double v = c[0];
    for (std::size_t k = 1; k < N; ++k) v = v * r + c[k];
    return v;
}

}  // namespace

double normal_quantile(double p)
{
    // Wichura's algorithm AS 241 (PPND16), accurate to about 1e-16: rational
    // functions of (p - 1/2)² in the centre and of sqrt(-log p) in the tails.
    // R's qnorm and Python's statistics.NormalDist compute the same
    // expressions, so the three front ends give the same bits.
    if (!(p > 0.0 && p < 1.0)) return std::numeric_limits<double>::quiet_NaN();
    const double q = p - 0.5;
    if (std::fabs(q) <= 0.425) {
        static const double a[] = {2.5090809287301226727e+3, 3.3430575583588128105e+4, 6.7265770927008700853e+4,
                                   4.5921953931549871457e+4, 1.3731693765509461125e+4, 1.9715909503065514427e+3,
                                   1.3314166789178437745e+2, 3.3871328727963666080e+0};
        static const double b[] = {5.2264952788528545610e+3, 2.8729085735721942674e+4, 3.9307895800092710610e+4,
                                   2.1213794301586595867e+4, 5.3941960214247511077e+3, 6.8718700749205790830e+2,
                                   4.2313330701600911252e+1, 1.0};
        const double r = 0.180625 - q * q;
        return horner(a, r) * q / horner(b, r);
    }
    double r = std::sqrt(-std::log(q <= 0.0 ? p : 1.0 - p));
    double x;
    if (r <= 5.0) {
        static const double c[] = {7.74545014278341407640e-4, 2.27238449892691845833e-2, 2.41780725177450611770e-1,
                                   1.27045825245236838258e+0, 3.64784832476320460504e+0, 5.76949722146069140550e+0,
                                   4.63033784615654529590e+0, 1.42343711074968357734e+0};
        static const double d[] = {1.05075007164441684324e-9, 5.47593808499534494600e-4, 1.51986665636164571966e-2,
                                   1.48103976427480074590e-1, 6.89767334985100004550e-1, 1.67638483018380384940e+0,
                                   2.05319162663775882187e+0, 1.0};
        r = r - 1.6;
        x = horner(c, r) / horner(d, r);
    } else {
        static const double e[] = {2.01033439929228813265e-7, 2.71155556874348757815e-5, 1.24266094738807843860e-3,
                                   2.65321895265761230930e-2, 2.96560571828504891230e-1, 1.78482653991729133580e+0,
                                   5.46378491116411436990e+0, 6.65790464350110377720e+0};
        static const double f[] = {2.04426310338993978564e-15, 1.42151175831644588870e-7, 1.84631831751005468180e-5,
                                   7.86869131145613259100e-4, 1.48753612908506148525e-2, 1.36929880922735805310e-1,
                                   5.99832206555887937690e-1, 1.0};
        r = r - 5.0;
        x = horner(e, r) / horner(f, r);
    }
    return q < 0.0 ? -x : x;
}

void intervals(const Spec& s, const Design& d, const std::vector<double>& h, const Points& at, const Run& r,
               lpc_fit& fit)
{
    // The pointwise asymptotic band of a local linear fit in one continuous
    // regressor: level ± z·sqrt(var·R(K)/(n·h·f)), R(K) = 1/(2·sqrt(pi)) the
    // roughness of the Gaussian kernel; NaN where the variance estimate is
    // negative. It ignores the smoothing bias.
    const bool band = d.vol && std::string(d.est->name) == "dorvane" && d.deg == 1 && d.pc == 1 && d.q == 0 &&
                      d.nr == static_cast<int>(d.n);
    if (!band) return;
    const double conf = s.conf.given ? *s.conf : 0.95;
    const double z = -normal_quantile((1.0 - conf) / 2.0);
    const double R = 1.0 / (2.0 * std::sqrt(kPi));
    const std::size_t m = at.m;
    std::vector<double> lower(m), upper(m);
    for (std::size_t j = 0; j < m; ++j) {
        const double var = r.sh[j], f = r.fh[j], level = r.mh[j];
        const double half = var < 0 ? std::numeric_limits<double>::quiet_NaN()
                                    : z * std::sqrt(var * R / (static_cast<double>(d.n) * h[0] * f));
        lower[j] = level - half;
        upper[j] = level + half;
    }
    fit.column("ci_lower", lower);
    fit.column("ci_upper", upper);
}

}  // namespace lpc
