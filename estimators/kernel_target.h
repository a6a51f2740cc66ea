// The body of every kernel source: the lane types, the exponential and the
// pass compiled for one instruction set, inside a namespace of their own, and
// the function that hands them to the engine, compiled for the baseline so
// that any processor may call it.
//
// The including source defines LP_LANES, LP_NS (the namespace) and, for an
// extended instruction set, LP_TARGET (the compiler's target string). The
// quotients and sums of the kernels must round exactly as written, so
// multiply-add contraction stays off here whatever the build flags say.
#include <math.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <cmath>
#if LP_LANES > 1
// GCC 12 finds its own AVX-512 min and max intrinsics "maybe uninitialized".
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif
#endif

#include "estimators/batch.h"

#define LP_PRAGMA(...) _Pragma(#__VA_ARGS__)
#define LP_EXPAND_PRAGMA(...) LP_PRAGMA(__VA_ARGS__)
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#ifdef LP_TARGET
LP_EXPAND_PRAGMA(clang attribute push(__attribute__((target(LP_TARGET))), apply_to = function))
#endif
#else
#pragma GCC push_options
#pragma GCC optimize("fp-contract=off")
#ifdef LP_TARGET
LP_EXPAND_PRAGMA(GCC target(LP_TARGET))
#endif
#endif

namespace lp {
namespace LP_NS {
#include "estimators/simd.h"
#include "estimators/expo.h"
#include "estimators/pass.h"
}  // namespace LP_NS
}  // namespace lp

#if defined(__clang__)
#ifdef LP_TARGET
#pragma clang attribute pop
#endif
#else
#pragma GCC pop_options
#endif
