// Derivative-free minimisers of a criterion over log bandwidths: a bracket on
// a coarse grid followed by Brent's method in one dimension, Nelder and Mead's
// simplex in several. The criterion may be +inf (a failed fit), never NaN.
#pragma once

#include <functional>
#include <vector>

namespace lpc {

using Objective = std::function<double(const std::vector<double>& u)>;

struct Found {
    std::vector<double> u;  // the best point found
    double f;               // its value
    bool at_limit = false;  // it lies on the edge of the range allowed
};

// One dimension: the grid u0 + k·step, k = -3 ... 2, widened a step at a time
// while its least value is at an edge and the edge lies within [lo, hi]; then
// Brent's method (golden sections and parabolic steps) on the two grid cells
// around the least value, until the minimum is known to within tol.
Found minimise_line(const Objective& f, double u0, double step, double lo, double hi, double tol);

// Several dimensions: Nelder and Mead's simplex from u0 with edges `step`,
// with `restart` started once more from its end with edges min(step, 0.1),
// each time until every
// vertex lies within tol of the best one in every coordinate, or max_evals
// values have been taken. Points beyond [lo, hi] are taken at the nearest
// point of that box; at_limit tells that the best point lies on its surface.
Found minimise_simplex(const Objective& f, const std::vector<double>& u0, double step,
                       const std::vector<double>& lo, const std::vector<double>& hi, double tol, int max_evals,
                       bool restart = true);

}  // namespace lpc
