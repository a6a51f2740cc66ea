// Counter-based draws and the logarithm they need.
#include "core/random.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "core/intervals.h"

namespace lpc {

double log_det(double x)
{
    if (!(x > 0)) return x == 0 ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::quiet_NaN();
    if (!std::isfinite(x)) return x;
    // x = 2^k·m with m in [1, 2), subnormals scaled into the normal range first.
    int k = 0;
    if (x < 0x1p-1022) {
        x *= 0x1p54;
        k = -54;
    }
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    k += static_cast<int>((bits >> 52) & 0x7FF) - 1023;
    bits = (bits & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull;
    double m;
    std::memcpy(&m, &bits, sizeof m);
    if (m > 1.4142135623730951) {
        m = m / 2;
        ++k;
    }
    // log(1 + f) = f - (f²/2 - s·(f²/2 + R)), R = Σ_j 2/(2j + 1)·s^(2j), j >= 1,
    // s = f/(2 + f) <= 0.172, so that eleven terms leave less than 1e-18.
    const double f = m - 1.0, s = f / (2.0 + f), z = s * s;
    double R = 2.0 / 23.0;
    for (int j = 10; j >= 1; --j) R = R * z + 2.0 / (2.0 * j + 1.0);
    R = R * z;
    const double hf = 0.5 * f * f;
    const double log1pf = f - (hf - s * (hf + R));
    // k·ln 2 in two parts: the leading 32 bits make k·ln2_hi exact.
    const double ln2_hi = 6.93147180369123816490e-01, ln2_lo = 1.90821492927058770002e-10;
    return k * ln2_hi + (log1pf + k * ln2_lo);
}

double uniform(std::uint64_t seed, std::uint64_t counter)
{
    std::uint64_t z = seed * 0x9E3779B97F4A7C15ull + counter + 0x632BE59BD9B4E019ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return (static_cast<double>(z >> 11) + 0.5) * 0x1p-53;
}

double normal(std::uint64_t seed, std::uint64_t counter) { return normal_quantile(uniform(seed, counter)); }

}  // namespace lpc
