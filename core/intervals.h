// Confidence intervals of the outputs, and the normal quantile they need.
#pragma once

#include <vector>

#include "core/design.h"
#include "core/fitter.h"
#include "core/result.h"

namespace lpc {

// The standard normal quantile: the z with Phi(z) = p, for 0 < p < 1; NaN
// outside. Wichura's algorithm AS 241 (PPND16), accurate to about 1e-16.
double normal_quantile(double p);

// Adds to the table the intervals the spec asks for, from the fit r at the
// points `at` with bandwidths h.
void intervals(const Spec& s, const Design& d, const std::vector<double>& h, const Points& at, const Run& r,
               lpc_fit& fit);

}  // namespace lpc
