// The option setters: each name takes one kind of value, checked on its own
// here; what needs the other options and the data is checked in design.cpp.
#include "core/request.h"

#include <cmath>
#include <cstdio>

namespace lpc {

std::string number(double v, int digits)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    return buf;
}

namespace {

Given<long long>* int_option(Request& s, const std::string& name)
{
    struct Entry {
        const char* name;
        Given<long long> Request::*field;
    };
    static const Entry table[] = {
        {"deg", &Request::deg},       {"vol", &Request::vol},     {"loo", &Request::loo},       {"nr", &Request::nr},
        {"groups", &Request::groups}, {"phase", &Request::phase}, {"cv", &Request::cv},         {"grid", &Request::grid},
        {"from", &Request::from},     {"to", &Request::to},       {"threads", &Request::threads}, {"seed", &Request::seed},
        {"fitted", &Request::fitted}, {"curve", &Request::curve}, {"var_residual", &Request::var_residual},
        {"base", &Request::base},
    };
    for (const Entry& e : table)
        if (name == e.name) return &(s.*e.field);
    return nullptr;
}

void flag(const std::string& name, long long v)
{
    if (v != 0 && v != 1) throw input(name + " must be 0 or 1, not " + std::to_string(v));
}

}  // namespace

void set_int(Request& s, const std::string& name, long long v)
{
    if (name == "lam") {
        if (v < 1) throw input("lam " + std::to_string(v) + ": give a continuous regressor by its number from 1");
        s.lam.set(std::to_string(v));
        return;
    }
    if (name == "conf") return set_double(s, name, static_cast<double>(v));
    Given<long long>* o = int_option(s, name);
    if (o == nullptr) throw usage("no integer option is named '" + name + "'");
    if (name == "vol" || name == "loo" || name == "fitted" || name == "curve" || name == "var_residual") flag(name, v);
    if (name == "deg" && v < 1) throw input("deg " + std::to_string(v) + ": give a degree of at least 1");
    if (name == "nr" && v < 1) throw input("nr " + std::to_string(v) + ": give a count from 1 to n");
    if (name == "groups" && v < 2) throw input("groups " + std::to_string(v) + ": give at least 2 groups");
    if (name == "phase" && v < 1) throw input("phase " + std::to_string(v) + ": give a group number from 1");
    if (name == "cv" && (v < 2 || v > 1000))
        throw input("cv " + std::to_string(v) + ": give a count of 2 to 1000 candidates");
    if (name == "grid" && v < 2) throw input("grid " + std::to_string(v) + ": give at least 2 points per regressor");
    if ((name == "from" || name == "to") && v < 0) throw input(name + " " + std::to_string(v) + " must not be negative");
    if (name == "threads" && v < 0) throw input("threads " + std::to_string(v) + ": give 0 (every core) or more");
    if (name == "seed" && v < 0) throw input("seed " + std::to_string(v) + " must not be negative");
    if (name == "base" && v != 0 && v != 1) throw input("base " + std::to_string(v) + ": number points from 0 or from 1");
    o->set(v);
}

void set_double(Request& s, const std::string& name, double v)
{
    if (name == "conf") {
        if (!(v > 0 && v < 1)) throw input("conf " + number(v) + ": give a level strictly between 0 and 1");
        s.conf.set(v);
        return;
    }
    if (name == "bandwidth") return set_doubles(s, name, &v, 1);
    // A whole number given as a double serves an integer option.
    if (int_option(s, name) != nullptr || name == "lam") {
        if (!(std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 9e15))
            throw input(name + " " + number(v) + " is not a whole number");
        return set_int(s, name, static_cast<long long>(v));
    }
    throw usage("no number option is named '" + name + "'");
}

void set_doubles(Request& s, const std::string& name, const double* v, std::size_t count)
{
    if (count > 0 && v == nullptr) throw usage(name + ": null values");
    const std::vector<double> values(v, v + count);
    if (name == "bandwidth" || name == "cv_grid") {
        if (count == 0) throw input(name + ": give at least one bandwidth");
        for (double h : values)
            if (!(std::isfinite(h) && h > 0)) throw input(name + " " + number(h) + " is not a positive finite number");
        (name == "bandwidth" ? s.bandwidth : s.cv_grid).set(values);
        if (name == "bandwidth") s.method = {};
        return;
    }
    if (name == "cv_scores") {
        for (double e : values)
            if (std::isnan(e) || e < 0) throw input("cv_scores: a score " + number(e) + " is not a number of at least 0");
        s.cv_scores.set(values);
        return;
    }
    if (name == "group_of") {
        for (double e : values)
            if (!(e >= 1 && e <= 1e6 && e == std::trunc(e)) && !std::isnan(e))
                throw input("group_of: a group " + number(e) + " is not a whole number from 1");
        s.group_of.set(Column{"group_of", values});
        return;
    }
    if (name == "at") {
        for (double e : values)
            if (!std::isfinite(e)) throw input("at: an evaluation point has a missing or infinite coordinate");
        s.at.set(values);
        return;
    }
    throw usage("no list option is named '" + name + "'");
}

void set_text(Request& s, const std::string& name, const std::string& v)
{
    auto one_of = [&](std::initializer_list<const char*> allowed) {
        std::string list;
        for (const char* a : allowed) {
            if (v == a) return;
            list += list.empty() ? std::string("'") + a + "'" : std::string(", '") + a + "'";
        }
        throw input(name + " '" + v + "' is none of " + list);
    };
    if (name == "bandwidth") {
        one_of({"rot", "cv", "aicc", "plugin"});
        s.method.set(v);
        s.bandwidth = {};
    } else if (name == "lam") {
        if (v.empty()) throw input("lam: give the name or the number of a continuous regressor");
        s.lam.set(v);
    } else if (name == "task") {
        one_of({"fit", "score", "candidates", "check"});
        s.task.set(v);
    } else if (name == "method") {
        one_of({"given", "rule of thumb", "cross-validated", "aicc", "plug-in"});
        s.label.set(v);
    } else if (name == "ci") {
        one_of({"none", "pointwise", "rbc", "uniform"});
        s.ci.set(v);
    } else if (name == "missing") {
        one_of({"raise", "drop"});
        s.missing.set(v);
    } else if (name == "se") {
        one_of({"residual", "leverage", "loo", "nn", "local"});
        s.se.set(v);
    } else {
        throw usage("no text option is named '" + name + "'");
    }
}

}  // namespace lpc
