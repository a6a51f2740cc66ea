// A fit, checked and laid out for the engine: the estimator, the data in the
// engine's argument layout, the degree and counts, the output columns and
// their names, and the evaluation points.
#pragma once

#include <string>
#include <vector>

#include "core/request.h"
#include "estimators/frame.h"

namespace lpc {

// One estimator: the degrees it fits and its column layout.
struct Estimator {
    const char* name;
    int deg_default, deg_min, deg_max;
    bool lam;  // the layout needs a lam regressor
    lp::LayoutRule rule;
};

// The estimator called `name`, or null.
const Estimator* find_estimator(const std::string& name);

// What an output column of mh (and sh) is, for intervals and pictures.
struct Output {
    std::string mean, var;  // names in the table: level / var, d1_A / var_d1_A, ...
    lp::Kind kind;
    int a = 0, b = 0;       // the layout's factor columns
    int degree = 0;         // the order of the derivative it estimates (0: level, dummies)
};

struct Design {
    const Estimator* est = nullptr;
    std::string yname;
    std::vector<std::string> cont, dummies;  // names of the regressors
    std::size_t n = 0, pc = 0, q = 0, p = 0, B = 0;
    std::vector<double> x;  // n × p, column-major, continuous regressors first
    std::vector<double> y;
    std::vector<long long> dropped;  // observations left out for a missing value, from 0
    std::vector<int> group_of;       // with given groups: the group of each observation, from 1
    int deg = 1, nr = 0, K = 0, phase = 1, lam = 0;  // lam from 1, 0 when unused
    bool vol = false, loo = false;
    std::vector<Output> out;  // the B output columns
    int threads = 1;

    // Leave-one-out is part of the fit (loo) or of the bandwidth's selection.
    bool leaves_one_out(const Request& s) const;
    std::size_t F() const { return K >= 2 ? static_cast<std::size_t>(K) + 1 : 1; }  // density columns
    // The bandwidth argument of the engine: pc bandwidths, then with dummies
    // -pc in the last entry.
    std::vector<double> h_arg(const std::vector<double>& h) const;
};

// Checks the data and the options of `s` against each other and lays them
// out; throws Error with a sentence that names the option or column at fault.
Design design(const Request& s);

// The design widened by `extra` (1 or 2) polynomial orders: its first B
// columns are those of d.
Design widened(const Design& d, int extra);

// Evaluation points: m rows, pc coordinates each, column-major.
struct Points {
    std::size_t m = 0;
    std::vector<double> t;  // m × pc
    // The points are observations first .. first + m - 1, in order (which
    // leave-one-out needs).
    bool observations = false;
    std::size_t first = 0;  // the number of the first point among all the fit's points
};

// The points the options ask for: the observations, a grid or the given ones,
// cut to the block from .. to when one is given.
Points points(const Request& s, const Design& d);
// The observations as points.
Points observation_points(const Design& d);
// N evenly spaced points over the range of each of the first one or two
// columns (N per axis, the first varying fastest).
Points grid_points(const Design& d, const std::vector<std::vector<double>>& ranges, long long N);

}  // namespace lpc
