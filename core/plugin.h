// The direct plug-in bandwidth of a local linear fit in one regressor
// (Ruppert, Sheather and Wand 1995), with every pilot estimate computed
// exactly from the observations.
#pragma once

#include <string>
#include <vector>

#include "core/design.h"
#include "core/fitter.h"

namespace lpc {

// The pilot quantities and the bandwidth, for tests and messages.
struct Plugin {
    std::size_t blocks = 0;       // N, the blocks of the quartic pilot, by Mallows' Cp
    double sigma2_q = 0;          // residual variance of the blocked quartic fits
    double theta22_q = 0, theta24_q = 0;  // their functionals
    double g = 0;                 // pilot bandwidth of the local cubic estimate of m''
    double theta22 = 0;           // n⁻¹ Σ m''_g(X_i)² over the inner range
    double lambda = 0;            // pilot bandwidth of the local linear variance estimate
    double sigma2 = 0;            // its residual variance
    double range = 0;             // b - a of the inner range
    std::size_t n = 0;            // observations after trimming
    double h = 0;
};

// Every step of the rule on the observations (x_i, y_i): the observations
// sorted by x, 1% trimmed at each end; the functionals taken over the inner
// 90% of the range.
Plugin plugin_steps(std::vector<double> x, std::vector<double> y, int threads, Progress& progress);

// The plug-in bandwidth of design d (dorvane, deg 1, one continuous
// regressor, no dummies); a note on its pilots goes to `notes`.
double plugin_bandwidth(const Design& d, Progress& progress, std::vector<std::string>& notes);

}  // namespace lpc
