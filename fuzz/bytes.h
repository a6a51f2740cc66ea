// Decoding of fuzz inputs: a cursor over the bytes that hands out the values
// a host could pass. Once the bytes run out every request gets its default,
// so a short input is still a whole call.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace fuzz {

// Values that stress the reading of scalars: zeros, negatives, fractions that
// truncate, the edges of 32- and 64-bit integers and beyond, huge and tiny
// magnitudes, NaN and the infinities.
inline double special(unsigned k)
{
    static const double table[] = {
        0.0, -0.0, -1.0, -2.0, -7.0, 0.5, -0.5, 2.99, -0.9, 2147483647.0, 2147483648.0, 2147483649.0,
        -2147483648.0, -2147483649.0, 4294967296.0, 4294967297.0, 4294967298.0, 8589934597.0,
        9007199254740994.0, 9223372036854775808.0, -9223372036854775808.0, 18446744073709555712.0, 1e19, 1e300,
        -1e300, DBL_MAX, std::numeric_limits<double>::denorm_min(), 1e-300,
        std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    return table[k % (sizeof table / sizeof table[0])];
}

class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : p(data), end(data + size) {}

    bool empty() const { return p == end; }
    // The next byte, or `otherwise` when there is none.
    unsigned byte(unsigned otherwise = 0) { return p < end ? *p++ : otherwise; }

    // A scalar argument: byte 0xFF is followed by a raw double (NaN payloads
    // made plain), bytes 0xE0-0xFE pick a special value, and every other byte
    // b is mapped by `usual`, which gives the common, meaningful values.
    template <class F>
    double scalar(F usual, unsigned otherwise)
    {
        const unsigned b = byte(otherwise);
        if (b == 0xFF) return raw();
        if (b >= 0xE0) return special(b - 0xE0);
        return usual(b);
    }

    // An element of a data array: mostly values in [-2, 2), now and then a
    // 0/1, a special or a raw double.
    double element(std::size_t index)
    {
        if (empty()) return std::fmod(0.37 * static_cast<double>(index), 1.0);
        const unsigned b = byte();
        if (b == 0xFF) return raw();
        if (b >= 0xF0) return special(b - 0xF0 + 16);
        if (b >= 0xE0) return static_cast<double>(b & 1);
        return b / 56.0 - 2.0;
    }

private:
    double raw()
    {
        std::uint8_t bits[8] = {};
        for (std::uint8_t& c : bits) c = static_cast<std::uint8_t>(byte());
        double v;
        std::memcpy(&v, bits, sizeof v);
        return std::isnan(v) ? std::numeric_limits<double>::quiet_NaN() : v;
    }

    const std::uint8_t* p;
    const std::uint8_t* end;
};

// Ends the run with the fault, which libFuzzer saves as a finding.
[[noreturn]] inline void finding(const char* what, const char* detail = "")
{
    std::fprintf(stderr, "FINDING: %s %s\n", what, detail);
    std::abort();
}

}  // namespace fuzz
