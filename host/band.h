// The pointwise asymptotic confidence band of a local linear fit with one
// continuous regressor and the normal quantile it needs.
#pragma once

#include <vector>

namespace lpfit {

// The standard normal quantile: the z with Phi(z) = p, for 0 < p < 1; NaN
// outside. Acklam's rational approximation (relative error below 1.2e-9),
// refined by one Halley step on Phi computed from erfc, which leaves it within
// a few units in the last place.
double normal_quantile(double p);

// Half-widths z · sqrt(var_j · R(K) / (n · h · f_j)) of the band level_j ±
// half_j at level `conf`: z the normal quantile of (1 + conf)/2, var_j the
// conditional variance, f_j the kernel density at point j, R(K) = 1/(2·sqrt(pi))
// the roughness of the Gaussian kernel. It is the pointwise asymptotic interval
// of the local linear fit with the smoothing bias left out; a negative variance
// estimate gives NaN.
std::vector<double> band_halfwidths(const std::vector<double>& var, const std::vector<double>& f, double n, double h,
                                    double conf);

}  // namespace lpfit
