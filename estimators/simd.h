// Lanes of doubles for the batch kernels: one evaluation point per lane.
//
// A kernel source defines LP_LANES (8, 4, 2 or 1) and, for 8 and 4, switches
// its functions to that instruction set before including this header. Every
// lane type offers the same operations:
//
//   vd   doubles;  + - * / are the IEEE operations, lane by lane
//   vm   a lane mask from a comparison; select(m, a, b) takes a where m holds,
//        andnot(m, n) where m holds and n does not
//   vi   64-bit integers of the same lanes, for bit manipulation
//
// and each operation gives the same bits in every lane type, so that one
// source written over them computes the same numbers at every width. Only
// div (a quotient by a per-call constant) has two realisations: a true
// division, or a reciprocal with a fused correction that yields the same
// correctly rounded quotient where that is proven (see Divisor).
//
// Nothing here has external linkage that another instruction set could share:
// each kernel source includes this header inside a namespace of its own, after
// <stdint.h>, <string.h> and, for more than one lane, <immintrin.h>.

#if LP_LANES == 8

constexpr int lanes = 8;
struct vd { __m512d v; };
struct vm { __mmask8 k; };
struct vi { __m512i v; };

inline vd set1(double a) { return {_mm512_set1_pd(a)}; }
inline vd load(const double* p) { return {_mm512_loadu_pd(p)}; }
inline void store(double* p, vd a) { _mm512_storeu_pd(p, a.v); }
inline vd operator+(vd a, vd b) { return {_mm512_add_pd(a.v, b.v)}; }
inline vd operator-(vd a, vd b) { return {_mm512_sub_pd(a.v, b.v)}; }
inline vd operator*(vd a, vd b) { return {_mm512_mul_pd(a.v, b.v)}; }
inline vd operator/(vd a, vd b) { return {_mm512_div_pd(a.v, b.v)}; }
// a·b + c and c - a·b, each rounded once.
// a > b ? a : b and a < b ? a : b, lane by lane: b when either is NaN.
inline vd vmax(vd a, vd b) { return {_mm512_max_pd(a.v, b.v)}; }
inline vd vmin(vd a, vd b) { return {_mm512_min_pd(a.v, b.v)}; }
inline vd fmadd(vd a, vd b, vd c) { return {_mm512_fmadd_pd(a.v, b.v, c.v)}; }
inline vd fnmadd(vd a, vd b, vd c) { return {_mm512_fnmadd_pd(a.v, b.v, c.v)}; }
inline vd abs(vd a)
{
    return {_mm512_castsi512_pd(_mm512_and_si512(_mm512_castpd_si512(a.v), _mm512_set1_epi64(INT64_MAX)))};
}
inline vm operator<(vd a, vd b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_LT_OQ)}; }
inline vm operator>(vd a, vd b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_GT_OQ)}; }
inline vm operator<=(vd a, vd b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_LE_OQ)}; }
inline vm operator>=(vd a, vd b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_GE_OQ)}; }
inline vm operator==(vd a, vd b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_EQ_OQ)}; }
inline vm isnan(vd a) { return {_mm512_cmp_pd_mask(a.v, a.v, _CMP_UNORD_Q)}; }
inline vm operator&(vm a, vm b) { return {static_cast<__mmask8>(a.k & b.k)}; }
inline vm operator|(vm a, vm b) { return {static_cast<__mmask8>(a.k | b.k)}; }
inline vm andnot(vm a, vm b) { return {static_cast<__mmask8>(a.k & ~b.k)}; }  // a and not b
inline bool all(vm a) { return a.k == 0xFF; }
inline vm all_lanes() { return {0xFF}; }
inline vm no_lanes() { return {0}; }
inline bool any(vm a) { return a.k != 0; }
inline vd select(vm m, vd a, vd b) { return {_mm512_mask_blend_pd(m.k, b.v, a.v)}; }

inline vi bits(vd a) { return {_mm512_castpd_si512(a.v)}; }
inline vd from_bits(vi a) { return {_mm512_castsi512_pd(a.v)}; }
inline vi set1i(int64_t a) { return {_mm512_set1_epi64(a)}; }
inline vi operator+(vi a, vi b) { return {_mm512_add_epi64(a.v, b.v)}; }
inline vi operator-(vi a, vi b) { return {_mm512_sub_epi64(a.v, b.v)}; }
inline vi operator&(vi a, vi b) { return {_mm512_and_si512(a.v, b.v)}; }
typedef unsigned long long u64x8 __attribute__((vector_size(64)));
template <int s> inline vi shr(vi a) { return {reinterpret_cast<__m512i>(reinterpret_cast<u64x8>(a.v) >> s)}; }
template <int s> inline vi shl(vi a) { return {reinterpret_cast<__m512i>(reinterpret_cast<u64x8>(a.v) << s)}; }
// table[j] for each lane's j in 0..15, from two registers.
inline vd lookup16(const double* table, vi j)
{
    return {_mm512_permutex2var_pd(_mm512_loadu_pd(table), j.v, _mm512_loadu_pd(table + 8))};
}

#elif LP_LANES == 4

constexpr int lanes = 4;
struct vd { __m256d v; };
struct vm { __m256d k; };
struct vi { __m256i v; };

inline vd set1(double a) { return {_mm256_set1_pd(a)}; }
inline vd load(const double* p) { return {_mm256_loadu_pd(p)}; }
inline void store(double* p, vd a) { _mm256_storeu_pd(p, a.v); }
inline vd operator+(vd a, vd b) { return {_mm256_add_pd(a.v, b.v)}; }
inline vd operator-(vd a, vd b) { return {_mm256_sub_pd(a.v, b.v)}; }
inline vd operator*(vd a, vd b) { return {_mm256_mul_pd(a.v, b.v)}; }
inline vd operator/(vd a, vd b) { return {_mm256_div_pd(a.v, b.v)}; }
inline vd vmax(vd a, vd b) { return {_mm256_max_pd(a.v, b.v)}; }
inline vd vmin(vd a, vd b) { return {_mm256_min_pd(a.v, b.v)}; }
inline vd fmadd(vd a, vd b, vd c) { return {_mm256_fmadd_pd(a.v, b.v, c.v)}; }
inline vd fnmadd(vd a, vd b, vd c) { return {_mm256_fnmadd_pd(a.v, b.v, c.v)}; }
inline vd abs(vd a)
{
    return {_mm256_castsi256_pd(_mm256_and_si256(_mm256_castpd_si256(a.v), _mm256_set1_epi64x(INT64_MAX)))};
}
inline vm operator<(vd a, vd b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_LT_OQ)}; }
inline vm operator>(vd a, vd b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_GT_OQ)}; }
inline vm operator<=(vd a, vd b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_LE_OQ)}; }
inline vm operator>=(vd a, vd b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_GE_OQ)}; }
inline vm operator==(vd a, vd b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_EQ_OQ)}; }
inline vm isnan(vd a) { return {_mm256_cmp_pd(a.v, a.v, _CMP_UNORD_Q)}; }
inline vm operator&(vm a, vm b) { return {_mm256_and_pd(a.k, b.k)}; }
inline vm operator|(vm a, vm b) { return {_mm256_or_pd(a.k, b.k)}; }
inline vm andnot(vm a, vm b) { return {_mm256_andnot_pd(b.k, a.k)}; }
inline bool all(vm a) { return _mm256_movemask_pd(a.k) == 0xF; }
inline vm all_lanes() { return {_mm256_castsi256_pd(_mm256_set1_epi64x(-1))}; }
inline vm no_lanes() { return {_mm256_setzero_pd()}; }
inline bool any(vm a) { return _mm256_movemask_pd(a.k) != 0; }
inline vd select(vm m, vd a, vd b) { return {_mm256_blendv_pd(b.v, a.v, m.k)}; }

inline vi bits(vd a) { return {_mm256_castpd_si256(a.v)}; }
inline vd from_bits(vi a) { return {_mm256_castsi256_pd(a.v)}; }
inline vi set1i(int64_t a) { return {_mm256_set1_epi64x(a)}; }
inline vi operator+(vi a, vi b) { return {_mm256_add_epi64(a.v, b.v)}; }
inline vi operator-(vi a, vi b) { return {_mm256_sub_epi64(a.v, b.v)}; }
inline vi operator&(vi a, vi b) { return {_mm256_and_si256(a.v, b.v)}; }
template <int s> inline vi shr(vi a) { return {_mm256_srli_epi64(a.v, s)}; }
template <int s> inline vi shl(vi a) { return {_mm256_slli_epi64(a.v, s)}; }
// table[j] for each lane's j in 0..15: an in-register permute of each
// quarter of the table by the low two bits of j (vpermps moves the two halves
// of a double together), then two rounds of blends by bits 2 and 3, each
// shifted to the sign bit that blendv reads.
inline vd lookup16(const double* table, vi j)
{
    const __m256i low2 = _mm256_and_si256(j.v, _mm256_set1_epi64x(3));
    const __m256i even = _mm256_add_epi64(low2, low2);  // 2·(j mod 4) in the low half
    const __m256i pick = _mm256_or_si256(_mm256_or_si256(even, _mm256_slli_epi64(even, 32)),
                                         _mm256_set1_epi64x(int64_t{1} << 32));  // (2j, 2j + 1)
    const auto quarter = [&](int k) {
        return _mm256_castps_pd(
            _mm256_permutevar8x32_ps(_mm256_loadu_ps(reinterpret_cast<const float*>(table + 4 * k)), pick));
    };
    const __m256d bit2 = _mm256_castsi256_pd(_mm256_slli_epi64(j.v, 61));
    const __m256d bit3 = _mm256_castsi256_pd(_mm256_slli_epi64(j.v, 60));
    const __m256d lo = _mm256_blendv_pd(quarter(0), quarter(1), bit2);
    const __m256d hi = _mm256_blendv_pd(quarter(2), quarter(3), bit2);
    return {_mm256_blendv_pd(lo, hi, bit3)};
}

#elif LP_LANES == 2

constexpr int lanes = 2;
struct vd { __m128d v; };
struct vm { __m128d k; };
struct vi { __m128i v; };

inline vd set1(double a) { return {_mm_set1_pd(a)}; }
inline vd load(const double* p) { return {_mm_loadu_pd(p)}; }
inline void store(double* p, vd a) { _mm_storeu_pd(p, a.v); }
inline vd operator+(vd a, vd b) { return {_mm_add_pd(a.v, b.v)}; }
inline vd operator-(vd a, vd b) { return {_mm_sub_pd(a.v, b.v)}; }
inline vd operator*(vd a, vd b) { return {_mm_mul_pd(a.v, b.v)}; }
inline vd operator/(vd a, vd b) { return {_mm_div_pd(a.v, b.v)}; }
inline vd vmax(vd a, vd b) { return {_mm_max_pd(a.v, b.v)}; }
inline vd vmin(vd a, vd b) { return {_mm_min_pd(a.v, b.v)}; }
inline vd abs(vd a) { return {_mm_and_pd(a.v, _mm_castsi128_pd(_mm_set1_epi64x(INT64_MAX)))}; }
inline vm operator<(vd a, vd b) { return {_mm_cmplt_pd(a.v, b.v)}; }
inline vm operator>(vd a, vd b) { return {_mm_cmpgt_pd(a.v, b.v)}; }
inline vm operator<=(vd a, vd b) { return {_mm_cmple_pd(a.v, b.v)}; }
inline vm operator>=(vd a, vd b) { return {_mm_cmpge_pd(a.v, b.v)}; }
inline vm operator==(vd a, vd b) { return {_mm_cmpeq_pd(a.v, b.v)}; }
inline vm isnan(vd a) { return {_mm_cmpunord_pd(a.v, a.v)}; }
inline vm operator&(vm a, vm b) { return {_mm_and_pd(a.k, b.k)}; }
inline vm operator|(vm a, vm b) { return {_mm_or_pd(a.k, b.k)}; }
inline vm andnot(vm a, vm b) { return {_mm_andnot_pd(b.k, a.k)}; }
inline bool all(vm a) { return _mm_movemask_pd(a.k) == 0x3; }
inline vm all_lanes() { return {_mm_castsi128_pd(_mm_set1_epi64x(-1))}; }
inline vm no_lanes() { return {_mm_setzero_pd()}; }
inline bool any(vm a) { return _mm_movemask_pd(a.k) != 0; }
inline vd select(vm m, vd a, vd b) { return {_mm_or_pd(_mm_and_pd(m.k, a.v), _mm_andnot_pd(m.k, b.v))}; }

inline vi bits(vd a) { return {_mm_castpd_si128(a.v)}; }
inline vd from_bits(vi a) { return {_mm_castsi128_pd(a.v)}; }
inline vi set1i(int64_t a) { return {_mm_set1_epi64x(a)}; }
inline vi operator+(vi a, vi b) { return {_mm_add_epi64(a.v, b.v)}; }
inline vi operator-(vi a, vi b) { return {_mm_sub_epi64(a.v, b.v)}; }
inline vi operator&(vi a, vi b) { return {_mm_and_si128(a.v, b.v)}; }
template <int s> inline vi shr(vi a) { return {_mm_srli_epi64(a.v, s)}; }
template <int s> inline vi shl(vi a) { return {_mm_slli_epi64(a.v, s)}; }
// table[j] for the two lanes' j in 0..15 (the low 32 bits hold j).
inline vd lookup16(const double* table, vi j)
{
    const int j0 = _mm_cvtsi128_si32(j.v), j1 = _mm_cvtsi128_si32(_mm_srli_si128(j.v, 8));
    return {_mm_set_pd(table[j1], table[j0])};
}

#elif LP_LANES == 1

constexpr int lanes = 1;
struct vd { double v; };
struct vm { bool k; };
struct vi { uint64_t v; };

inline vd set1(double a) { return {a}; }
inline vd load(const double* p) { return {*p}; }
inline void store(double* p, vd a) { *p = a.v; }
inline vd operator+(vd a, vd b) { return {a.v + b.v}; }
inline vd operator-(vd a, vd b) { return {a.v - b.v}; }
inline vd operator*(vd a, vd b) { return {a.v * b.v}; }
inline vd operator/(vd a, vd b) { return {a.v / b.v}; }
inline vd vmax(vd a, vd b) { return {a.v > b.v ? a.v : b.v}; }
inline vd vmin(vd a, vd b) { return {a.v < b.v ? a.v : b.v}; }
inline vd abs(vd a) { return {__builtin_fabs(a.v)}; }
inline vm operator<(vd a, vd b) { return {a.v < b.v}; }
inline vm operator>(vd a, vd b) { return {a.v > b.v}; }
inline vm operator<=(vd a, vd b) { return {a.v <= b.v}; }
inline vm operator>=(vd a, vd b) { return {a.v >= b.v}; }
inline vm operator==(vd a, vd b) { return {a.v == b.v}; }
inline vm isnan(vd a) { return {a.v != a.v}; }
inline vm operator&(vm a, vm b) { return {a.k && b.k}; }
inline vm operator|(vm a, vm b) { return {a.k || b.k}; }
inline vm andnot(vm a, vm b) { return {a.k && !b.k}; }
inline bool all(vm a) { return a.k; }
inline vm all_lanes() { return {true}; }
inline vm no_lanes() { return {false}; }
inline bool any(vm a) { return a.k; }
inline vd select(vm m, vd a, vd b) { return m.k ? a : b; }

inline vi bits(vd a)
{
    vi r;
    memcpy(&r.v, &a.v, sizeof r.v);
    return r;
}
inline vd from_bits(vi a)
{
    vd r;
    memcpy(&r.v, &a.v, sizeof r.v);
    return r;
}
inline vi set1i(int64_t a) { return {static_cast<uint64_t>(a)}; }
inline vi operator+(vi a, vi b) { return {a.v + b.v}; }
inline vi operator-(vi a, vi b) { return {a.v - b.v}; }
inline vi operator&(vi a, vi b) { return {a.v & b.v}; }
template <int s> inline vi shr(vi a) { return {a.v >> s}; }
template <int s> inline vi shl(vi a) { return {a.v << s}; }
inline vd lookup16(const double* table, vi j) { return {table[j.v & 15]}; }

#else
#error "LP_LANES must be 8, 4, 2 or 1"
#endif

#if LP_LANES == 8 || LP_LANES == 4
#define LP_HAVE_FMA 1
#else
#define LP_HAVE_FMA 0
#endif
