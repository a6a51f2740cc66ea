// The host side of the foreign-function interface: load a deliverable at run
// time, look an export up by name, and call it with the host's own
// column-major double arrays.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "include/lpfit.h"

namespace host {

using Estimator15 = decltype(dorvane);  // dorvane, tremsal
using Estimator16 = decltype(locparg);  // locparg, locpa2g

// A shared library loaded at run time (dlopen, LoadLibrary), unloaded when
// destroyed.
class Library {
public:
    // Loads the library at `path`; throws std::runtime_error when it cannot.
    explicit Library(const std::string& path);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // The export `name` as a function of type F; throws when it is missing.
    template <class F>
    F* get(const std::string& name) const
    {
        return reinterpret_cast<F*>(lookup(name));
    }
    // True when the library exports `name`.
    bool exports(const std::string& name) const;

private:
    void* lookup(const std::string& name) const;
    void* handle;
};

// One estimation problem as the host holds it: column-major arrays and the
// scalar arguments as doubles.
struct Problem {
    std::vector<double> x;  // n × p regressors, the continuous ones first
    std::vector<double> y;  // n responses
    std::vector<double> t;  // m × p evaluation points
    std::vector<double> h;  // p bandwidths; a negative last entry -q makes q continuous
    double n = 0, p = 0, nr = 0, m = 0;
    double grp[2] = {0, 0};  // group count and phase
    double deg = 1, vol = 0, nloo = 0, lam = 0;
};

// What one call left behind.
struct Outcome {
    int ret = -1;
    std::vector<double> mh, sh, fh;  // m × B, m × B, m × (K + 1) or m
    std::string printed;             // what it wrote to standard output, when the caller collected it
};

// Output columns B that the export `name` writes for `pr`, as its documentation
// gives them; at least 1, so that a refused call still has arrays to leave alone.
int output_columns(const std::string& name, const Problem& pr);
// Rows of fh times its columns: m·(K + 1) with K >= 2 groups, else m.
std::size_t density_size(const Problem& pr);

// Calls export `name` of `lib` directly on pr's own arrays and scalars, with
// the outputs in mh (m × B), sh (m × B) and fh. Returns the export's result.
int invoke(const Library& lib, const std::string& name, Problem& pr, double* mh, double* sh, double* fh);

// The output arrays of export `name` for pr, at least one element each: mh and
// sh (m × B) filled with `fill`, fh with zeros (or `fh0` when it is not empty).
Outcome outputs(const std::string& name, const Problem& pr, double fill = 0.0,
                const std::vector<double>& fh0 = {});

}  // namespace host
