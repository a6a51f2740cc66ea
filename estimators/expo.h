// The exponential of the kernel, in every lane type of simd.h.
//
//   exp(x) = 2^k · 2^(j/16) · e^r,   x = (16k + j)·ln2/16 + r,   |r| <= ln2/32 (+ rounding).
//
// Range reduction: N = 16k + j = round(x·16/ln2) by the 1.5·2^52 shift, then
// r = (x - N·L1) - N·L2 (Cody and Waite), where L1 holds the leading 32 bits
// of ln2/16 so that N·L1 is exact for |N| < 2^21 and x - N·L1 is exact by
// Sterbenz's lemma; L1 + L2 equals ln2/16 to 7e-28.
//
// e^r - 1 is its Taylor polynomial of degree 7, whose remainder r^8/8! stays
// below 1.3e-18 on the reduced range; 2^(j/16) is held as hi + lo, and
//   s = hi + (lo + hi·p),   p = e^r - 1,
// rounds once at the end, so |s - 2^(j/16)·e^r| < 0.53 ulp. The scaling by 2^k
// is exact for normal results; subnormal results are rounded once from s and
// its rounding error together. So the result is within 0.53 ulp of
// e^x everywhere, subnormals included; it is exactly 0 below -745.14 and +inf
// above 709.79; exp(NaN) is that NaN and exp(-inf) = 0.
//
// Only additions, subtractions, multiplications and bit operations, each
// correctly rounded or exact: no fused multiply-add, so every lane type and
// every processor gives the same bits.

namespace expo_constants {

constexpr double shift = 0x1.8p52;                   // 1.5·2^52: adding it rounds to an integer
// The same rounding to an integer N (16368 is even, so ties go the same way),
// with 1023·16 in the low 16 bits of the sum's pattern: shifted left by 48
// they hold the biased exponent k + 1023 of 2^k above N mod 16.
constexpr double shift_k = 0x1.8p52 + 16368.0;
constexpr double inv_l16 = 0x1.71547652b82fep+4;     // 16/ln2
constexpr double l1 = 0x1.62e42fee00000p-5;          // ln2/16, leading 32 bits
constexpr double l2 = 0x1.a39ef35793c76p-37;         // ln2/16 - l1
constexpr double lowest = -750.0, highest = 710.0;   // beyond them the result is 0 or inf already
constexpr double c7 = 0x1.a01a01a01a01ap-13, c6 = 0x1.6c16c16c16c17p-10, c5 = 0x1.1111111111111p-7,
                 c4 = 0x1.5555555555555p-5, c3 = 0x1.5555555555555p-3, c2 = 0.5;  // 1/k!

// 2^(j/16) = hi[j] + lo[j], each hi correctly rounded and lo the rounded rest.
alignas(64) constexpr double hi[16] = {
    0x1.0000000000000p+0, 0x1.0b5586cf9890fp+0, 0x1.172b83c7d517bp+0, 0x1.2387a6e756238p+0,
    0x1.306fe0a31b715p+0, 0x1.3dea64c123422p+0, 0x1.4bfdad5362a27p+0, 0x1.5ab07dd485429p+0,
    0x1.6a09e667f3bcdp+0, 0x1.7a11473eb0187p+0, 0x1.8ace5422aa0dbp+0, 0x1.9c49182a3f090p+0,
    0x1.ae89f995ad3adp+0, 0x1.c199bdd85529cp+0, 0x1.d5818dcfba487p+0, 0x1.ea4afa2a490dap+0};
alignas(64) constexpr double lo[16] = {
    0.0,                     0x1.8a62e4adc610bp-54,  -0x1.19041b9d78a76p-55, 0x1.9b07eb6c70573p-54,
    0x1.6f46ad23182e4p-55,   0x1.ada0911f09ebcp-55,  0x1.d4397afec42e2p-56,  0x1.6324c054647adp-54,
    -0x1.bdd3413b26456p-54,  -0x1.41577ee04992fp-55, 0x1.6e9f156864b27p-54,  0x1.c7c46b071f2bep-56,
    0x1.7a1cd345dcc81p-54,   0x1.11065895048ddp-55,  0x1.2ed02d75b3707p-55,  -0x1.e9c23179c2893p-54};

// The same constants for e^(-q/2) with R = -2r in place of r (expo_half):
// every power of two they differ by is exact.
constexpr double inv_half = -0x1.71547652b82fep+3;                     // -8/ln2
constexpr double l1_2 = 0x1.62e42fee00000p-4, l2_2 = 0x1.a39ef35793c76p-36;  // 2·l1, 2·l2
constexpr double d7 = 0x1.a01a01a01a01ap-13, d6 = -0x1.6c16c16c16c17p-9, d5 = 0x1.1111111111111p-5,
                 d4 = -0x1.5555555555555p-2, d3 = 0x1.5555555555555p+1, d2 = -16.0;  // c_k·(-2)^(7-k)
alignas(64) constexpr double lo_2[16] = {  // -2·lo[j]
    0.0,                     -0x1.8a62e4adc610bp-53, 0x1.19041b9d78a76p-54,  -0x1.9b07eb6c70573p-53,
    -0x1.6f46ad23182e4p-54,  -0x1.ada0911f09ebcp-54, -0x1.d4397afec42e2p-55, -0x1.6324c054647adp-53,
    0x1.bdd3413b26456p-53,   0x1.41577ee04992fp-54,  -0x1.6e9f156864b27p-53, -0x1.c7c46b071f2bep-55,
    -0x1.7a1cd345dcc81p-53,  -0x1.11065895048ddp-54, -0x1.2ed02d75b3707p-54, 0x1.e9c23179c2893p-53};

}  // namespace expo_constants

// e^x for U vectors at once, in place. Each step is taken for all U before
// the next, so that the processor has U independent operations at hand at
// every point of the long chain.
template <int U>
__attribute__((always_inline)) inline void expo(vd* __restrict x)
{
    namespace c = expo_constants;
#define LP_EACH _Pragma("GCC unroll 16") for (int o = 0; o < U; ++o)
    vd xc[U], N[U], r[U], q[U], thi[U], t[U], s[U];
    vi n[U];

    // Clamp, so that N stays small. NaN passes the clamps and every later
    // operation, which return it.
    LP_EACH xc[o] = vmin(set1(c::highest), vmax(set1(c::lowest), x[o]));

    // N = round(x·16/ln2), as a double and as an integer.
    LP_EACH s[o] = xc[o] * set1(c::inv_l16) + set1(c::shift);
    LP_EACH N[o] = s[o] - set1(c::shift);
    LP_EACH n[o] = bits(s[o]) - bits(set1(c::shift));

    LP_EACH r[o] = (xc[o] - N[o] * set1(c::l1)) - N[o] * set1(c::l2);
    LP_EACH q[o] = set1(c::c7) * r[o] + set1(c::c6);
    LP_EACH q[o] = q[o] * r[o] + set1(c::c5);
    LP_EACH q[o] = q[o] * r[o] + set1(c::c4);
    LP_EACH q[o] = q[o] * r[o] + set1(c::c3);
    LP_EACH q[o] = q[o] * r[o] + set1(c::c2);
    LP_EACH q[o] = r[o] + (r[o] * r[o]) * q[o];  // p = e^r - 1

    LP_EACH {
        const vi j = n[o] & set1i(15);
        thi[o] = lookup16(c::hi, j);
        t[o] = lookup16(c::lo, j);
    }
    LP_EACH t[o] = t[o] + thi[o] * q[o];
    LP_EACH s[o] = thi[o] + t[o];

    // k = floor(N/16) as the biased kb = k + 2048 >= 0. For -1022 <= k <= 1023
    // the factor 2^k, exponent field k + 1023, is a normal number and the
    // product is exact.
    LP_EACH n[o] = shr<4>(n[o] + set1i(16 * 2048));
    LP_EACH x[o] = s[o] * from_bits(shl<52>(n[o] - set1i(1025)));

    // Beyond those k the scaling goes through two normal factors 2^k1 · 2^k2,
    // k1 = floor(k/2): the first product is exact and the second rounds once,
    // to +inf where the result overflows. A subnormal result (k <= -1023, or
    // k = -1022 with s < 1) would still be rounded twice, once in s and once
    // in the scaling, so it is rounded once instead: with b = 2^(-1022-k) > s,
    // the sum b + s has its last place exactly on the subnormal grid after
    // scaling, so b + (s + its rounding error) rounds there, and subtracting
    // b and scaling back are exact.
    vm outside = N[0] < set1(-16336.5);
    LP_EACH outside = outside | (N[o] < set1(-16336.5)) | (N[o] > set1(16383.5));  // k <= -1022, k >= 1024
    if (any(outside)) {
        LP_EACH {
            const vi kb = n[o];
            const vi k1b = shr<1>(kb);  // k1 + 1024
            const vd f1 = from_bits(shl<52>(k1b - set1i(1)));
            const vd f2 = from_bits(shl<52>(kb - k1b - set1i(1)));
            const vm low = N[o] < set1(-16336.5), high = N[o] > set1(16383.5);
            const vm sub = (N[o] < set1(-16352.5)) | (low & (s[o] < set1(1.0)));
            const vd es = t[o] - (s[o] - thi[o]);  // s + es = thi + t exactly
            const vd b = from_bits(shl<52>(set1i(2049) - kb));
            const vd h = b + s[o];
            const vd l = s[o] - (h - b);  // b + s = h + l exactly
            const vd g = h + (l + es);
            x[o] = select(high, (s[o] * f1) * f2, x[o]);
            x[o] = select(sub, ((g - b) * f1) * f2, x[o]);
        }
    }
#undef LP_EACH
}

// e^x for U vectors whose every x lies in [-700, 0], in place: the bits of
// expo<U>, which on this range never clamps and always scales by one normal
// factor, without the clamps and the test for the far ranges. The first step
// of the reduction, x - N·L1, is exact, so a fused multiply-add gives it at
// once where there is one.
template <int U>
__attribute__((always_inline)) inline void expo_near(vd* __restrict x)
{
    namespace c = expo_constants;
#define LP_EACH _Pragma("GCC unroll 16") for (int o = 0; o < U; ++o)
    vd s[U], N[U], r[U], q[U];
    LP_EACH s[o] = x[o] * set1(c::inv_l16) + set1(c::shift_k);
    LP_EACH N[o] = s[o] - set1(c::shift_k);
#if LP_HAVE_FMA
    LP_EACH r[o] = fnmadd(N[o], set1(c::l1), x[o]) - N[o] * set1(c::l2);
#else
    LP_EACH r[o] = (x[o] - N[o] * set1(c::l1)) - N[o] * set1(c::l2);
#endif
    LP_EACH q[o] = set1(c::c7) * r[o] + set1(c::c6);
    LP_EACH q[o] = q[o] * r[o] + set1(c::c5);
    LP_EACH q[o] = q[o] * r[o] + set1(c::c4);
    LP_EACH q[o] = q[o] * r[o] + set1(c::c3);
    LP_EACH q[o] = q[o] * r[o] + set1(c::c2);
    LP_EACH q[o] = r[o] + (r[o] * r[o]) * q[o];
    LP_EACH {
        const vi j = bits(s[o]) & set1i(15);
        const vd hi = lookup16(c::hi, j);
        const vd t = lookup16(c::lo, j) + hi * q[o];
        // 2^k, k = floor(N/16): the exponent field from the low bits of s.
        const vd scale = from_bits(shl<48>(bits(s[o])) & set1i(static_cast<int64_t>(0xFFF0000000000000ull)));
        x[o] = (hi + t) * scale;
    }
#undef LP_EACH
}

#if LP_HAVE_FMA
// e^x with x = (q·(-1/2)) for U vectors of q = u² in [0, 1400], in place: the
// bits of expo_near(q·(-1/2)) without forming x. Every quantity of expo_near
// is here a power of two times its counterpart, which leaves each rounding as
// it was: x·16/ln2 = q·(-8/ln2), and with R = -2r
//   R = (q + N·2L1) + RN(N·2L2),  Horner in R with c_k·(-2)^(7-k), which gives
//   -32 times the last term of expo_near's; p' = -2p = R + X/64 with
//   X = (R·R)·that term; t' = -2t = -2lo + hi·p'; s = hi + t'·(-1/2),
// the last two in one fused step each, since X/64 and t'·(-1/2) are exact.
// Where R, X or a Horner product is too small for that scaling to be exact
// it is far below the last place of what it is added to, so both round to
// the same sum.
template <int U>
__attribute__((always_inline)) inline void expo_half(vd* __restrict x)
{
    namespace c = expo_constants;
#define LP_EACH _Pragma("GCC unroll 16") for (int o = 0; o < U; ++o)
    vd s[U], N[U], R[U], q[U];
    LP_EACH s[o] = x[o] * set1(c::inv_half) + set1(c::shift_k);
    LP_EACH N[o] = s[o] - set1(c::shift_k);
    LP_EACH R[o] = fmadd(N[o], set1(c::l1_2), x[o]) + N[o] * set1(c::l2_2);
    LP_EACH q[o] = set1(c::d7) * R[o] + set1(c::d6);
    LP_EACH q[o] = q[o] * R[o] + set1(c::d5);
    LP_EACH q[o] = q[o] * R[o] + set1(c::d4);
    LP_EACH q[o] = q[o] * R[o] + set1(c::d3);
    LP_EACH q[o] = q[o] * R[o] + set1(c::d2);
    LP_EACH q[o] = fmadd((R[o] * R[o]) * q[o], set1(0x1p-6), R[o]);  // p' = -2p
    LP_EACH {
        const vi j = bits(s[o]) & set1i(15);
        const vd hi = lookup16(c::hi, j);
        const vd t = lookup16(c::lo_2, j) + hi * q[o];  // -2t
        const vd scale = from_bits(shl<48>(bits(s[o])) & set1i(static_cast<int64_t>(0xFFF0000000000000ull)));
        x[o] = fmadd(t, set1(-0.5), hi) * scale;
    }
#undef LP_EACH
}
#endif

__attribute__((always_inline)) inline vd expo(vd x)
{
    expo<1>(&x);
    return x;
}
