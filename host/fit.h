// Export calls split across threads: the evaluation points of one fit in
// slices, the candidates of a cross-validation one call each. The exports are
// reentrant and every point is computed on its own, so the slices give the
// numbers of one call; what the calls print is gathered per call and put back
// in point order.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "host/loader.h"

namespace lpfit {

// What one call of an export over all points left behind, or the same
// assembled from slices.
struct Call {
    std::vector<double> mh, sh, fh;  // m × B, m × B, m × (K + 1) or m; unwritten entries NaN
    std::string printed;             // the library's text, in point order
    bool refused = false;            // the export refused the call: outputs untouched
    long failed = -1;                // first point whose conditioning test failed, from 0
    double S = 0;                    // its off-diagonal sum
};

// Fits export `name` at the pr.m points of `pr` with up to `threads` threads
// and returns what one call would leave: the same outputs bit for bit and the
// same text. `done`, when given, counts the points finished.
Call fit(const host::Library& lib, const std::string& name, const host::Problem& pr, int threads,
         std::atomic<long>* done = nullptr);

// Least-squares cross-validation: for each bandwidth vector of `hs`, the mean
// over the observations of (y_i - m_{-i}(x_i))², from one leave-one-out call of
// export `name` at the observations (pr with t = x, nloo = 1, nr = n). A
// candidate whose fit fails the conditioning test, or gives a NaN, scores +inf.
struct Score {
    double value;
    std::string printed;  // the library's text for this candidate
};
std::vector<Score> cv_scores(const host::Library& lib, const std::string& name, const host::Problem& pr,
                             const std::vector<std::vector<double>>& hs, int threads, std::atomic<long>* done = nullptr);

// The point and off-diagonal sum of a conditioning failure reported in `text`;
// false when there is none.
bool failure_in(const std::string& text, long& j, double& S);
// True when `text` holds one of the exports' refusals.
bool refusal_in(const std::string& text);

}  // namespace lpfit
