// The C interface of the fitting core. Nothing thrown inside crosses it: every
// error becomes a status and a message kept in the object it concerns.
#if defined(_WIN32)
#define LPCORE_API __declspec(dllexport)
#else
#define LPCORE_API __attribute__((visibility("default")))
#endif

#include <cstring>
#include <exception>
#include <iterator>
#include <new>

#include "core/result.h"
#include "core/request.h"
#include "include/lpcore.h"

struct lpc_request {
    lpc::Request s;
};

namespace {

// Runs a setter, keeping its error in the request (the first one for lpc_run).
template <class F>
int guarded(lpc_request* request, F setter)
{
    if (request == nullptr) return LPC_EUSAGE;
    try {
        setter(request->s);
        return LPC_OK;
    } catch (const lpc::Error& e) {
        request->s.message = e.what();
        if (request->s.error.status == LPC_OK) request->s.error = e;
        return e.status;
    } catch (const std::bad_alloc&) {
        request->s.message = "out of memory";
        if (request->s.error.status == LPC_OK) request->s.error = lpc::Error(LPC_ENOMEM, "out of memory");
        return LPC_ENOMEM;
    }
}

std::string name_of(const char* name) { return name == nullptr ? std::string() : std::string(name); }

}  // namespace

extern "C" {

LPCORE_API const char* lpc_version(void) { return "1.0.0"; }

LPCORE_API lpc_request* lpc_request_new(const char* estimator)
{
    auto* request = new (std::nothrow) lpc_request;
    if (request == nullptr) return nullptr;
    guarded(request, [&](lpc::Request& s) {
        if (estimator == nullptr) throw lpc::usage("no estimator named");
        s.estimator = estimator;
    });
    return request;
}

LPCORE_API void lpc_request_free(lpc_request* request) { delete request; }

LPCORE_API const char* lpc_request_message(const lpc_request* request)
{
    return request == nullptr ? "no request" : request->s.message.c_str();
}

LPCORE_API int lpc_set_response(lpc_request* request, const char* name, const double* y, size_t n)
{
    return guarded(request, [&](lpc::Request& s) {
        if (n > 0 && y == nullptr) throw lpc::usage("the response: null values");
        s.y = lpc::Column{name_of(name), std::vector<double>(y, y + n)};
        s.have_y = true;
    });
}

LPCORE_API int lpc_add_regressor(lpc_request* request, const char* name, const double* x, size_t n, int dummy)
{
    return guarded(request, [&](lpc::Request& s) {
        if (n > 0 && x == nullptr) throw lpc::usage("regressor '" + name_of(name) + "': null values");
        (dummy ? s.dummies : s.cont).push_back(lpc::Column{name_of(name), std::vector<double>(x, x + n)});
    });
}

LPCORE_API int lpc_set_int(lpc_request* request, const char* name, long long value)
{
    return guarded(request, [&](lpc::Request& s) { lpc::set_int(s, name_of(name), value); });
}

LPCORE_API int lpc_set_double(lpc_request* request, const char* name, double value)
{
    return guarded(request, [&](lpc::Request& s) { lpc::set_double(s, name_of(name), value); });
}

LPCORE_API int lpc_set_doubles(lpc_request* request, const char* name, const double* values, size_t count)
{
    return guarded(request, [&](lpc::Request& s) { lpc::set_doubles(s, name_of(name), values, count); });
}

LPCORE_API int lpc_set_text(lpc_request* request, const char* name, const char* value)
{
    return guarded(request, [&](lpc::Request& s) {
        if (value == nullptr) throw lpc::usage(name_of(name) + ": null text");
        lpc::set_text(s, name_of(name), value);
    });
}

LPCORE_API int lpc_run(const lpc_request* request, lpc_progress progress, void* ctx, lpc_fit** out)
{
    if (out == nullptr) return LPC_EUSAGE;
    *out = new (std::nothrow) lpc_fit;
    if (*out == nullptr) return LPC_ENOMEM;
    lpc_fit& fit = **out;
    int status = LPC_OK;
    std::exception_ptr caught;  // holding the exception allocates nothing
    try {
        if (request == nullptr) throw lpc::usage("no request");
        lpc::run(request->s, progress, ctx, fit);
    } catch (const lpc::Error& e) {
        status = e.status;
        caught = std::current_exception();
    } catch (const std::bad_alloc&) {
        status = LPC_ENOMEM;
    }
    if (status != LPC_OK) {
        // A failed run keeps nothing but its status and message; should even
        // the message find no memory, lpc_message says "out of memory".
        lpc_fit empty;
        std::swap(fit, empty);
        fit.status = status;
        try {
            if (caught) std::rethrow_exception(caught);
        } catch (const lpc::Error& e) {
            try {
                fit.message = e.what();
            } catch (...) {
                fit.status = LPC_ENOMEM;
            }
        }
    }
    return fit.status;
}

LPCORE_API void lpc_fit_free(lpc_fit* fit) { delete fit; }

LPCORE_API int lpc_status(const lpc_fit* fit) { return fit == nullptr ? LPC_EUSAGE : fit->status; }

LPCORE_API const char* lpc_message(const lpc_fit* fit)
{
    if (fit == nullptr) return "no fit";
    return fit->status == LPC_ENOMEM && fit->message.empty() ? "out of memory" : fit->message.c_str();
}

LPCORE_API size_t lpc_rows(const lpc_fit* fit) { return fit == nullptr ? 0 : fit->rows; }

LPCORE_API size_t lpc_columns(const lpc_fit* fit) { return fit == nullptr ? 0 : fit->names.size(); }

LPCORE_API const char* lpc_column_name(const lpc_fit* fit, size_t k)
{
    return fit == nullptr || k >= fit->names.size() ? nullptr : fit->names[k].c_str();
}

LPCORE_API const double* lpc_column(const lpc_fit* fit, size_t k)
{
    return fit == nullptr || k >= fit->columns.size() ? nullptr : fit->columns[k].data();
}

LPCORE_API const double* lpc_values(const lpc_fit* fit, const char* name, size_t* count)
{
    if (count != nullptr) *count = 0;
    if (fit == nullptr || name == nullptr) return nullptr;
    const auto it = fit->values.find(name);
    if (it != fit->values.end()) {
        if (count != nullptr) *count = it->second.size();
        return it->second.data();
    }
    for (std::size_t k = 0; k < fit->names.size(); ++k)
        if (fit->names[k] == name) {
            if (count != nullptr) *count = fit->rows;
            return fit->columns[k].data();
        }
    return nullptr;
}

LPCORE_API const long long* lpc_points(const lpc_fit* fit, const char* name, size_t* count)
{
    if (count != nullptr) *count = 0;
    if (fit == nullptr || name == nullptr) return nullptr;
    const auto it = fit->points.find(name);
    if (it == fit->points.end() || it->second.empty()) return nullptr;
    if (count != nullptr) *count = it->second.size();
    return it->second.data();
}

LPCORE_API const char* lpc_text(const lpc_fit* fit, const char* name, int base)
{
    if (fit == nullptr || name == nullptr) return nullptr;
    auto* f = const_cast<lpc_fit*>(fit);
    const auto key = std::make_pair(std::string(name), base);
    auto made = f->made.find(key);
    if (made != f->made.end()) return made->second.c_str();
    const auto maker = f->texts.find(name);
    if (maker == f->texts.end()) {
        static const char* const known[] = {"estimator", "title", "header", "method", "warnings", "notes",
                                            "messages", "library", "selection", "summary", "criterion"};
        for (const char* k : known)
            if (std::strcmp(k, name) == 0) return "";
        return nullptr;
    }
    try {
        return f->made.emplace(key, maker->second(base)).first->second.c_str();
    } catch (...) {
        return "";
    }
}

LPCORE_API const char* lpc_name(const lpc_fit* fit, const char* kind, size_t k)
{
    if (fit == nullptr || kind == nullptr) return nullptr;
    auto nth = [k](const auto& map) -> const char* {
        if (k >= map.size()) return nullptr;
        auto it = map.begin();
        std::advance(it, static_cast<std::ptrdiff_t>(k));
        return it->first.c_str();
    };
    if (std::strcmp(kind, "values") == 0) return nth(fit->values);
    if (std::strcmp(kind, "points") == 0) return nth(fit->points);
    if (std::strcmp(kind, "texts") == 0) return nth(fit->texts);
    return nullptr;
}

}  // extern "C"
