// From a table of data to the argument block of an export: the response and
// the regressors by name (or lagged log returns of a price series), the
// evaluation points, the bandwidths and the names of the output columns.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "host/loader.h"

namespace lpfit {

// True for dorvane, tremsal, locparg and locpa2g.
bool known_estimator(const std::string& name);
// The deliverable that exports `estimator`: Dorvane.so or Tremsal.so.
std::string library_file(const std::string& estimator);
// The degree an estimator fits when none is asked for: dorvane 1, tremsal 3,
// locparg 3, locpa2g 2.
int default_degree(const std::string& estimator);
// Throws InputError unless `deg` is one that `estimator` has a column layout
// for: dorvane 1-2, tremsal 1-3, locparg 3, locpa2g 2.
void check_degree(const std::string& estimator, int deg);

// The data of a fit: n responses, the continuous regressors and the dummies,
// each a column of n values with its name.
struct Data {
    std::string source;    // where the data came from, for messages
    std::string response;  // name of y
    std::string xlabel;    // description of the first regressor, for pictures
    std::vector<std::string> cont, dummies;
    std::vector<double> y;
    std::vector<std::vector<double>> xc, xd;  // continuous columns, dummy columns
    std::size_t n() const { return y.size(); }
};

// Where the data come from and what to do with missing values.
struct Source {
    std::string path;                  // CSV file with a header line
    std::string y;                     // response column
    std::vector<std::string> x;        // continuous regressor columns
    std::vector<std::string> dummies;  // 0/1 columns
    std::string returns;               // price column: regress r(t) on r(t-1) ... r(t-lags)
    int lags = 1;
    bool drop_missing = false;         // leave out rows with an empty or NA cell in a column used
};

// Reads the columns of `src`. With `returns`, the price column P becomes the
// log returns r(t) = log(P(t) / P(t-1)); the response is r(t) and the
// regressors lag1 ... lagq are r(t-1) ... r(t-q). Throws InputError for a
// missing column, a non-numeric cell, missing values (unless dropped), a dummy
// value other than 0 or 1 and a price that is not positive.
Data load_data(const Source& src);

// Throws InputError when a continuous regressor or a dummy takes a single
// value, which leaves the local moment matrix singular at every point.
void check_variation(const Data& d);

// The continuous regressor named by `lam`, a name or a number from 1, as a
// number from 1; throws InputError when it is none of them.
int resolve_lam(const Data& d, const std::string& lam);

// Names of the mh and sh columns of `estimator` with degree `deg` and lam
// regressor `lam` (from 1), in the order the export writes them.
struct Columns {
    std::vector<std::string> mh, sh;
};
Columns output_columns(const std::string& estimator, const Data& d, int deg, int lam);

// The normal-reference bandwidths h_k = c · s_k · n^(-1/(pc + 4)) for deg 1 and
// n^(-1/(pc + 8)) for deg 2 and 3, c = (4 / (pc + 2))^(1 / (pc + 4)) and s_k the
// sample standard deviation of continuous regressor k: Silverman's 1.06·s·n^(-1/5)
// for one regressor and a linear fit, widened for a higher degree at the rate
// that its smaller bias allows.
std::vector<double> rule_of_thumb(const Data& d, int deg);

// Candidate bandwidth vectors for cross-validation from `cv`: a count K gives
// K multiples h0 · 4^(2k/(K-1) - 1), k = 0 ... K-1, of the rule of thumb h0,
// from h0/4 to 4·h0; a list of values (with a comma or a decimal point) gives
// each value for every continuous regressor.
std::vector<std::vector<double>> cv_candidates(const std::string& cv, const std::vector<double>& h0);

// Bandwidths from the --bandwidth values: one per continuous regressor, or one
// for all; throws InputError unless each is a positive finite number.
std::vector<double> given_bandwidths(const std::vector<std::string>& values, std::size_t pc);

// Evaluation points: m rows, the continuous coordinates column by column.
struct Points {
    std::size_t m = 0;
    std::vector<double> t;  // m × pc
};
// The observations themselves.
Points observation_points(const Data& d);
// N evenly spaced points from the smallest to the largest value of each of
// one or two columns, the continuous regressors for instance (N per axis for
// two columns, the first varying fastest).
Points grid_points(const std::vector<std::vector<double>>& columns, int N);
// The points of a CSV file with a column for each continuous regressor.
Points file_points(const std::string& path, const Data& d);

// The argument block: x with the continuous columns first, h with -pc as its
// last entry when there are dummies, t with zeros in the dummy columns.
host::Problem problem(const Data& d, const std::vector<double>& h, const Points& at);

}  // namespace lpfit
