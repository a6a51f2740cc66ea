// What a front end asks for: the data and the options of one fit, as given,
// before any check that needs the whole of them.
#pragma once

#include <string>
#include <vector>

#include "core/error.h"

namespace lpc {

struct Column {
    std::string name;
    std::vector<double> values;
};

// An option that was given, or not.
template <class T>
struct Given {
    T value{};
    bool given = false;
    void set(const T& v)
    {
        value = v;
        given = true;
    }
    const T& operator*() const { return value; }
};

struct Request {
    std::string estimator;
    Column y;
    bool have_y = false;
    std::vector<Column> cont, dummies;

    Given<long long> deg, vol, loo, nr, groups, phase, cv, grid, from, to, threads, seed, fitted, curve, var_residual,
        base;
    Given<std::string> lam, method, task, ci, se, missing;   // method: the bandwidth selector
    Given<std::string> label;  // how given bandwidths came about, for the texts
    Given<std::vector<double>> bandwidth, cv_grid, cv_scores, at;
    Given<Column> group_of;  // the density group of each observation, 1 ... groups
    Given<double> conf;

    // The first error met while the request was built; lpc_run reports it.
    Error error;
    std::string message;  // what lpc_request_message returns
};

// The setters behind the C API: each records its value or throws Error.
void set_int(Request& s, const std::string& name, long long v);
void set_double(Request& s, const std::string& name, double v);
void set_doubles(Request& s, const std::string& name, const double* v, std::size_t count);
void set_text(Request& s, const std::string& name, const std::string& v);

}  // namespace lpc
