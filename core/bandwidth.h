// Bandwidths: given, the normal-reference rule of thumb, or chosen by a
// criterion (least-squares cross-validation over a grid of candidates).
#pragma once

#include <string>
#include <vector>

#include "core/design.h"
#include "core/fitter.h"

namespace lpc {

// The normal-reference bandwidths h_k = c·s_k·n^(-1/(pc + 4)) for deg 1 and
// n^(-1/(pc + 8)) for deg 2 and 3, c = (4/(pc + 2))^(1/(pc + 4)), s_k the
// sample standard deviation of continuous regressor k: Silverman's
// 1.06·s·n^(-1/5) for one regressor and a linear fit, widened for a higher
// degree at the rate its smaller bias allows.
std::vector<double> rule_of_thumb(const Design& d);

// How the bandwidth of a fit came about.
struct Selection {
    std::vector<double> h;                  // the pc bandwidths chosen
    std::string method;                     // "given", "rule of thumb", "cross-validated", ...
    std::string criterion;                  // what was minimised, for messages
    std::vector<std::vector<double>> tried;  // every bandwidth vector scored, in order
    std::vector<double> scores;             // and its score; +inf for a failed fit
    std::vector<std::vector<double>> starts;  // the end of each start of a minimisation
    std::vector<double> start_scores;         // and its score
    std::vector<std::string> warnings, notes;
};

// The least-squares cross-validation score of h: the mean over the
// observations of (y_i - ŷ_{-i})², ŷ_{-i} the leave-one-out prediction
// (the level plus the dummy effects at observation i); +inf when a
// leave-one-out fit fails at some observation.
double cv_score(const Design& d, const std::vector<double>& h, Progress& progress);

// The corrected Akaike criterion of Hurvich, Simonoff and Tsai (1998) for the
// fit at the observations with bandwidths h: log σ̂² + (1 + tr(S)/n) /
// (1 - (tr(S) + 2)/n), σ̂² the mean squared residual and tr(S) the trace of
// the smoother matrix; +inf when the fit fails or tr(S) + 2 >= n.
double aicc_score(const Design& d, const std::vector<double>& h, Progress& progress);

// The candidate grid of cv or cv_grid: K multiples h0·4^(2k/(K-1) - 1) of the
// rule of thumb h0, k = 0 ... K-1, or the given rows.
std::vector<std::vector<double>> candidates(const Request& s, const Design& d);

// The bandwidth the request asks for.
Selection select_bandwidth(const Request& s, const Design& d, Progress& progress);

// The criterion of the selection (AICc after "aicc", least-squares
// cross-validation otherwise) at 41 bandwidths evenly spaced in log h from a
// quarter of h to four times h, one continuous regressor; the values go into
// curve_h and curve_score.
void criterion_curve(const Request& s, const Design& d, double h, Progress& progress, std::vector<double>& curve_h,
                     std::vector<double>& curve_score);

}  // namespace lpc
