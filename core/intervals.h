// Standard errors and confidence intervals of every output, the
// simultaneous band of the level, and the normal quantile they need.
#pragma once

#include <string>
#include <vector>

#include "core/design.h"
#include "core/fitter.h"
#include "core/result.h"

namespace lpc {

// The standard normal quantile: the z with Phi(z) = p, for 0 < p < 1; NaN
// outside. Wichura's algorithm AS 241 (PPND16), accurate to about 1e-16,
// with the core's own logarithm, so that every platform has the same bits.
double normal_quantile(double p);

// Student's t quantile of probability p with df degrees of freedom (df below
// 5 counts as 5; an infinite df gives the normal quantile).
double t_quantile(double p, double df);

// The fit at the observations with nr = n: fitted values (the level plus the
// dummy effects), residuals and leverages S_ii.
struct Residuals {
    std::vector<double> fitted, e, leverage;
    std::vector<long long> failed;  // observations whose fit failed (NaN)
};
Residuals residual_fit(const Design& d, const std::vector<double>& h, Progress& progress);

// The variances σ̂_i² of the observations by `kind`: "residual" e_i²,
// "leverage" e_i²/(1 - S_ii)², "loo" the squared leave-one-out residual,
// "nn" half the squared difference to the nearest neighbour (in the
// continuous regressors scaled by h, among observations with the same
// dummies), "local" the local linear fit of e_i² at x_i (Fan and Yao 1998),
// cut at 0.
std::vector<double> variances(const std::string& kind, const Design& d, const std::vector<double>& h,
                              const Residuals& res, Progress& progress);

// The conditional variance by the residuals: the local linear fit of the
// squared residuals e_i² at the points, with the continuous regressors and
// bandwidths h, cut at 0 (Fan and Yao 1998); never negative, unlike the
// engine's E[y²|t] - E[y|t]².
std::vector<double> residual_variance(const Design& d, const std::vector<double>& h, const Points& at,
                                      const Residuals& res, Progress& progress);

// Whether the request asks for standard errors and intervals, and which.
struct Asked {
    bool any = false;
    std::string kind;      // "pointwise", "rbc" or "uniform"
    std::string se;        // the variance of the se_ columns
    std::string interval;  // the variance of the intervals
    double conf = 0.95;
    bool aliases = false;  // also ci_lower and ci_upper
};
Asked asked(const Request& s, const Design& d);

// Adds to the table se_C, lower_C and upper_C for every output column C and
// the density, from the fit r at the points `at` (with its standard errors
// r.se), with bandwidths h; and with "uniform" the band's critical value.
void intervals(const Request& s, const Asked& q, const Design& d, const std::vector<double>& h, const Points& at,
               const Run& r, const Residuals& res, const std::vector<double>& s2_se, lpc_fit& fit,
               Progress& progress);

// The critical value of the simultaneous band at level conf: the conf
// quantile over `draws` Gaussian multiplier draws ξ of
// max_j |Σ_i L_ji σ̂_i ξ_i| / se_j, L (m × n) the level's linear weights.
double band_critical_value(const std::vector<double>& L, std::size_t m, std::size_t n, const std::vector<double>& s2,
                           const std::vector<double>& se, double conf, std::uint64_t seed, int draws, int threads);

}  // namespace lpc
