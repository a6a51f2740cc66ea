// An independent computation of what the estimators return, for comparison.
//
// It builds each estimator's local design from its mathematical description
// (powers and products of the centred regressors), forms the weighted moments
// in long double and solves the normal equations by Gauss-Jordan elimination
// with partial pivoting in long double. Nothing is shared with the libraries.
#pragma once

#include <string>
#include <vector>

#include "host/loader.h"

struct Expected {
    std::vector<double> mh, sh, fh;
    int B = 0;
};

// Outputs of export `name` ("dorvane", "tremsal", "locparg", "locpa2g") on pr,
// with fh starting from zeros.
Expected oracle(const std::string& name, const host::Problem& pr);

// Largest |got - want| / (|want| + scale) over the m × B outputs, where scale
// is a small fraction of the largest |want| of the same output column.
double worst_relative_error(const std::vector<double>& got, const std::vector<double>& want, int m, int B);
