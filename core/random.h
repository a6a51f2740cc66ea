// Random draws that are the same bits on every platform and for any thread
// count: each draw is a function of (seed, counter) alone, from the integer
// mixing of splitmix64 and the normal quantile, with a logarithm of the
// core's own (the C libraries' logarithms differ in their last bits).
#pragma once

#include <cstdint>

namespace lpc {

// log x for x > 0, within about 1 ulp, by the same operations everywhere:
// x = 2^k·m, m in [√2/2, √2], log m = 2·atanh(s), s = (m - 1)/(m + 1).
double log_det(double x);

// A uniform draw in (0, 1): the counter's splitmix64 hash under the seed.
double uniform(std::uint64_t seed, std::uint64_t counter);

// A standard normal draw: the normal quantile of uniform(seed, counter).
double normal(std::uint64_t seed, std::uint64_t counter);

}  // namespace lpc
