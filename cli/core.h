// The tool's owners of the core's request and fit: the C API with the failures
// of its setters turned into InputError, and the results read as vectors.
#pragma once

#include <string>
#include <vector>

#include "cli/csv.h"
#include "lpcore.h"

namespace lpfit {

// An lpc_request. A setter the core refuses throws InputError with the core's
// message, after `context` (such as the file the values came from) when one
// is given.
class Request {
public:
    explicit Request(const std::string& estimator);
    ~Request();
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    void response(const std::string& name, const std::vector<double>& y);
    void regressor(const std::string& name, const std::vector<double>& x, bool dummy);
    void set_int(const char* name, long long v, const std::string& context = "");
    void set_double(const char* name, double v, const std::string& context = "");
    void set_doubles(const char* name, const std::vector<double>& v, const std::string& context = "");
    void set_text(const char* name, const std::string& v, const std::string& context = "");
    const lpc_request* get() const { return s; }

private:
    void check(int status, const std::string& context) const;
    lpc_request* s;
};

// An lpc_fit, run from a request.
class Fit {
public:
    Fit(const Request& request, lpc_progress progress, void* ctx);
    ~Fit();
    Fit(const Fit&) = delete;
    Fit& operator=(const Fit&) = delete;

    int status() const { return code; }
    std::string message() const;
    // The table: the core's columns in its order.
    Table table() const;
    bool has(const char* name) const;
    // A named array; empty when the fit has none.
    std::vector<double> values(const std::string& name) const;
    std::vector<long long> points(const char* name) const;
    // A text with point numbers from 1.
    std::string text(const char* name) const;

private:
    lpc_fit* f = nullptr;
    int code = LPC_ENOMEM;
};

}  // namespace lpfit
