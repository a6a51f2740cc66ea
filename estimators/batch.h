// The interface between the fitting engine and its batch kernels.
//
// A batch kernel walks all observations once for a batch of evaluation
// points, one point per lane, and leaves in plain memory, for every lane, the
// kernel density of its point and the local moment sums
//
//   ZWZ(b, c) = sum_i (Z(i,c)·w_i)·Z(i,b),   ZWy(c) = sum_i s_ic,   ZWy2(c) = sum_i s_ic·y_i,
//   s_ic = (Z(i,c)·w_i)·y_i,   w_i = K((x_i - t)/h) / (D·hprod),
//
// (w_i·mult_i in the moment sums when the task has multipliers),
//
// each sum taken from +0 in ascending observation order, the intercept sums
// (c = 0) over the first nr observations only. Lanes never meet: a point's
// sums are those of a scalar loop over its own observations, whatever its
// lane, its batch or the other points.
//
// Everything here is plain data, so that the kernels, compiled for different
// instruction sets, share no inline code with the rest of the library.
#pragma once

#include <stddef.h>

namespace lp {

// A per-call divisor b of the quotients a/b in the kernel stage, with its
// correctly rounded reciprocal y = 1/b and the range lo <= |a| <= hi within
// which a·y corrected by one fused multiply-add is the correctly rounded
// a/b; an empty range when the reciprocal never serves.
struct Divisor {
    double b, y, lo, hi;
};

// Prepares d for the divisor b.
void make_divisor(double b, Divisor& d);

struct BatchTask {
    // The call: n observations of p regressors, the first pc continuous.
    const double* x;  // n × p, column-major
    const double* y;  // n
    int n, nr, p, pc;
    // The local design: B columns; column c > p is Z(·, fa[c]) · Z(·, fb[c]).
    int B;
    const int* fa;
    const int* fb;
    const Divisor* h;    // the pc bandwidths
    Divisor root2pi;     // sqrt(2π)
    Divisor norm;        // D·hprod
    int loo;             // observation i gets weight 0 at the point of index i
    // Density groups: observation i adds to slot (slot0 + i) mod slots, or to
    // the density itself when slots = 0.
    int slots, slot0;
    // Null, or observation i's factor of its weight in the moment sums (the
    // density keeps w_i).
    const double* mult;

    // The batch: `width` lanes.
    int width;
    double* t;         // pc × width: the continuous coordinates of each lane's point
    double* j;         // width: each lane's point index, -1 for a padding lane
    double* dens;      // width: density, on entry the host's value, added to
    double* cells;     // slots × width: group sums, on entry the host's values, added to
    double* acc;       // (B(B+1)/2 + 2B) × width: ZWZ packed by columns (lower part), ZWy, ZWy2
    double* z;         // scratch(B, pc) × width
};

// Observations whose kernel weights a pass forms side by side, at most.
constexpr int max_in_flight = 8;
// Designs of up to wide_columns columns have their sums in tiles, each
// taking the terms of a chunk of wide_chunk observations in one visit.
constexpr int wide_columns = 16, wide_chunk = 32;
// Vectors of scratch a pass takes: the design rows and their products with
// the weights, and the centred regressors, of the observations in flight;
// for a tiled design the rows of a chunk.
inline ptrdiff_t scratch(ptrdiff_t B, ptrdiff_t pc)
{
    const ptrdiff_t flight = max_in_flight * (2 * B + pc), chunk = B <= wide_columns ? wide_chunk * B : 0;
    return flight > chunk ? flight : chunk;
}

// Packed position of ZWZ(b, c), b >= c, in BatchTask::acc (times width),
// and the number of sums.
inline ptrdiff_t packed(ptrdiff_t B, ptrdiff_t b, ptrdiff_t c) { return c * B - c * (c - 1) / 2 + (b - c); }
inline ptrdiff_t accumulators(ptrdiff_t B) { return B * (B + 1) / 2 + 2 * B; }

// e^x within 0.53 ulp, the same bits on every processor: the kernels' own
// exponential at one lane.
double expo(double x);

// One instruction set's kernels.
struct Kernel {
    const char* name;
    int width;  // points per batch
    void (*pass)(const BatchTask&);
    // The kernel's exponential and quotient, element by element, for tests;
    // expo_near is the exponential of the weights' near path, for x in
    // [-700, 0] only, and expo_half that of q·(-1/2) for q in [0, 1400], on
    // the instruction sets with fused multiply-adds (null on the others).
    void (*expo)(const double* x, double* e, ptrdiff_t count);
    void (*divide)(const Divisor& d, const double* a, double* q, ptrdiff_t count);
    void (*expo_near)(const double* x, double* e, ptrdiff_t count);
    void (*expo_half)(const double* q, double* e, ptrdiff_t count);
};

Kernel kernel_avx512();
Kernel kernel_avx2();
Kernel kernel_sse2();
Kernel kernel_scalar();

}  // namespace lp
