// The request and fit owners.
#include "cli/core.h"

#include <new>

namespace lpfit {

Request::Request(const std::string& estimator) : s(lpc_request_new(estimator.c_str()))
{
    if (s == nullptr) throw std::bad_alloc();
}

Request::~Request() { lpc_request_free(s); }

void Request::check(int status, const std::string& context) const
{
    if (status == LPC_OK) return;
    if (status == LPC_ENOMEM) throw std::bad_alloc();
    const std::string message = lpc_request_message(s);
    throw InputError(context.empty() ? message : context + ": " + message);
}

void Request::response(const std::string& name, const std::vector<double>& y)
{
    check(lpc_set_response(s, name.c_str(), y.data(), y.size()), "");
}

void Request::regressor(const std::string& name, const std::vector<double>& x, bool dummy)
{
    check(lpc_add_regressor(s, name.c_str(), x.data(), x.size(), dummy ? 1 : 0), "");
}

void Request::set_int(const char* name, long long v, const std::string& context)
{
    check(lpc_set_int(s, name, v), context);
}

void Request::set_double(const char* name, double v, const std::string& context)
{
    check(lpc_set_double(s, name, v), context);
}

void Request::set_doubles(const char* name, const std::vector<double>& v, const std::string& context)
{
    check(lpc_set_doubles(s, name, v.data(), v.size()), context);
}

void Request::set_text(const char* name, const std::string& v, const std::string& context)
{
    check(lpc_set_text(s, name, v.c_str()), context);
}

Fit::Fit(const Request& request, lpc_progress progress, void* ctx)
{
    code = lpc_run(request.get(), progress, ctx, &f);
    if (f == nullptr) throw std::bad_alloc();
}

Fit::~Fit() { lpc_fit_free(f); }

std::string Fit::message() const { return lpc_message(f); }

Table Fit::table() const
{
    Table t;
    for (std::size_t k = 0; k < lpc_columns(f); ++k) {
        t.names.push_back(lpc_column_name(f, k));
        t.columns.push_back(values(t.names.back()));
    }
    return t;
}

bool Fit::has(const char* name) const { return lpc_values(f, name, nullptr) != nullptr; }

std::vector<double> Fit::values(const std::string& name) const
{
    std::size_t n = 0;
    const double* v = lpc_values(f, name.c_str(), &n);
    return v == nullptr ? std::vector<double>() : std::vector<double>(v, v + n);
}

std::vector<long long> Fit::points(const char* name) const
{
    std::size_t n = 0;
    const long long* v = lpc_points(f, name, &n);
    return v == nullptr ? std::vector<long long>() : std::vector<long long>(v, v + n);
}

std::string Fit::text(const char* name) const
{
    const char* t = lpc_text(f, name, 1);
    return t == nullptr ? "" : t;
}

}  // namespace lpfit
