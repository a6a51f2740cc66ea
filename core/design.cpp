// Checks of a fit's data and options, the estimator table, the names of the
// output columns and the evaluation points.
#include "core/design.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "core/threads.h"

namespace lpc {

namespace {

const Estimator estimators[] = {
    {"dorvane", 1, 1, 2, false, lp::dorvane_layout},
    {"tremsal", 3, 1, 3, false, lp::tremsal_layout},
    {"locparg", 3, 3, 3, true, lp::locparg_layout},
    {"locpa2g", 2, 2, 2, true, lp::locpa2g_layout},
};
// The same estimators widened by one order and by two, for bias correction.
const Estimator widened_estimators[2][4] = {
    {{"dorvane", 1, 1, 2, false, lp::rbc_layout},
     {"tremsal", 3, 1, 3, false, lp::rbc_layout},
     {"locparg", 3, 3, 3, true, lp::rbc_layout},
     {"locpa2g", 2, 2, 2, true, lp::rbc_layout}},
    {{"dorvane", 1, 1, 2, false, lp::rbc2_layout},
     {"tremsal", 3, 1, 3, false, lp::rbc2_layout},
     {"locparg", 3, 3, 3, true, lp::rbc2_layout},
     {"locpa2g", 2, 2, 2, true, lp::rbc2_layout}},
};

std::string list_names(const std::vector<std::string>& v)
{
    std::string s;
    for (std::size_t k = 0; k < v.size(); ++k) s += (k == 0 ? "" : k + 1 == v.size() ? " and " : ", ") + v[k];
    return s;
}

std::string degrees(const Estimator& e)
{
    if (e.deg_min == e.deg_max) return std::to_string(e.deg_min) + " only";
    std::string s;
    for (int d = e.deg_min; d <= e.deg_max; ++d)
        s += (d == e.deg_min ? "" : d == e.deg_max ? " or " : ", ") + std::to_string(d);
    return s;
}

// The regressor named by `lam`, a name or a number from 1, as a number from 1.
int resolve_lam(const Design& d, const std::string& lam)
{
    if (lam.find_first_not_of("0123456789") == std::string::npos) {
        const long k = lam.size() > 9 ? 0 : std::stol(lam);
        if (k < 1 || k > static_cast<long>(d.pc))
            throw input("lam " + lam + " is not among the continuous regressors, numbered 1 to " + std::to_string(d.pc));
        return static_cast<int>(k);
    }
    for (std::size_t k = 0; k < d.pc; ++k)
        if (d.cont[k] == lam) return static_cast<int>(k + 1);
    const bool dummy = std::find(d.dummies.begin(), d.dummies.end(), lam) != d.dummies.end();
    throw input("lam '" + lam + "' is " + (dummy ? "a dummy, not a continuous regressor" : "not a continuous regressor") +
                "; the continuous regressors are " + list_names(d.cont));
}

// The design columns and their names, from the estimator's own layout: each
// column is a monomial in the continuous regressors (or a dummy), named by
// its kind and its factors, the lam regressor last.
void name_outputs(Design& d)
{
    lp::Args a{};
    a.name = d.est->name;
    a.n = static_cast<int>(d.n);
    a.p = static_cast<int>(d.p);
    a.pc = static_cast<int>(d.pc);
    a.nr = d.nr;
    a.deg = d.deg;
    a.lam = d.lam;
    // The rule's refusal, kept: a shortage of memory is no fault of the input.
    std::string refusal;
    lp::Report quiet;
    quiet.ctx = &refusal;
    quiet.text = [](void* ctx, int, const char* s) { *static_cast<std::string*>(ctx) += s; };
    a.report = &quiet;
    lp::Layout lay;
    if (!d.est->rule(a, lay)) {
        if (refusal.find("cannot allocate") != std::string::npos) throw Error(LPC_ENOMEM, "out of memory");
        throw input(std::string(d.est->name) + " cannot fit this design: " + refusal);
    }
    d.B = static_cast<std::size_t>(lay.size());

    // power[c][k]: the power of continuous regressor k in column c.
    std::vector<std::vector<int>> power(d.B, std::vector<int>(d.pc, 0));
    const int L = d.lam - 1;
    for (std::size_t c = 0; c < d.B; ++c) {
        const lp::Column& col = lay[static_cast<int>(c)];
        Output o;
        o.kind = col.kind;
        o.a = col.a;
        o.b = col.b;
        switch (col.kind) {
        case lp::Kind::intercept:
            o.mean = "level";
            o.var = "var";
            break;
        case lp::Kind::slope:
            power[c][col.a] = 1;
            o.mean = "d1_" + d.cont[col.a];
            o.var = "var_d1_" + d.cont[col.a];
            break;
        case lp::Kind::dummy:
            o.mean = "effect_" + d.dummies[col.a - d.pc];
            o.var = "var_effect_" + d.dummies[col.a - d.pc];
            break;
        default: {
            for (std::size_t k = 0; k < d.pc; ++k) power[c][k] = power[col.a][k] + power[col.b][k];
            std::string factors;
            int degree = 0;
            for (std::size_t k = 0; k < d.pc; ++k) {
                degree += power[c][k];
                if (static_cast<int>(k) != L)
                    for (int e = 0; e < power[c][k]; ++e) factors += "_" + d.cont[k];
            }
            if (L >= 0)
                for (int e = 0; e < power[c][L]; ++e) factors += "_" + d.cont[L];
            const bool pure = std::count_if(power[c].begin(), power[c].end(), [](int e) { return e > 0; }) == 1;
            const std::string first = factors.substr(1, factors.find('_', 1) == std::string::npos
                                                            ? std::string::npos
                                                            : factors.find('_', 1) - 1);
            if (col.kind == lp::Kind::square && pure && degree == 2) {
                o.mean = "d2_" + first;
                o.var = "var_d2_" + first;
            } else if (col.kind == lp::Kind::cube) {
                o.mean = "d3_" + first;
                o.var = "y2_c3" + factors;
            } else {
                o.mean = (degree == 2 ? "d2" : "c" + std::to_string(degree)) + factors;
                o.var = "y2_" + o.mean;
            }
        }
        }
        for (int e : power[c]) o.degree += e;
        d.out.push_back(o);
    }
}

void check_finite(const Column& c, const char* what, long long base)
{
    std::size_t bad = 0, first = 0;
    for (std::size_t i = 0; i < c.values.size(); ++i)
        if (!std::isfinite(c.values[i]) && bad++ == 0) first = i;
    if (bad > 0)
        throw input(std::string(what) + " '" + c.name + "' has " + std::to_string(bad) +
                    (bad == 1 ? " missing or infinite value" : " missing or infinite values") +
                    ", the first at observation " + std::to_string(static_cast<long long>(first) + base) +
                    "; to leave such observations out, set missing to drop");
}

// The columns without the observations that have a missing (non-finite)
// value in any of them, and those observations' numbers.
std::vector<long long> drop_missing(std::vector<Column*> cols)
{
    const std::size_t n = cols[0]->values.size();
    std::vector<long long> dropped;
    std::vector<char> keep(n, 1);
    for (std::size_t i = 0; i < n; ++i)
        for (const Column* c : cols)
            if (i < c->values.size() && !std::isfinite(c->values[i])) keep[i] = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (!keep[i]) dropped.push_back(static_cast<long long>(i));
    if (dropped.empty()) return dropped;
    for (Column* c : cols) {
        if (c->values.size() != n) continue;  // reported below as a length mismatch
        std::size_t w = 0;
        for (std::size_t i = 0; i < n; ++i)
            if (keep[i]) c->values[w++] = c->values[i];
        c->values.resize(w);
    }
    return dropped;
}

bool constant(const std::vector<double>& v)
{
    return std::all_of(v.begin(), v.end(), [&](double e) { return e == v.front(); });
}

}  // namespace

const Estimator* find_estimator(const std::string& name)
{
    for (const Estimator& e : estimators)
        if (name == e.name) return &e;
    return nullptr;
}

Design widened(const Design& d, int extra)
{
    Design w = d;
    w.est = &widened_estimators[extra - 1][d.est - estimators];
    w.out.clear();
    name_outputs(w);
    return w;
}

bool Design::leaves_one_out(const Request& s) const
{
    const std::string m = s.method.given ? *s.method : "";
    return loo || s.cv.given || s.cv_grid.given || m == "cv";
}

std::vector<double> Design::h_arg(const std::vector<double>& h) const
{
    std::vector<double> arg(p, 0.0);
    std::copy(h.begin(), h.end(), arg.begin());
    if (q > 0) arg[p - 1] = -static_cast<double>(pc);
    return arg;
}

Design design(const Request& given)
{
    if (given.error.status != LPC_OK) throw given.error;
    // With missing = "drop" the observations with a missing value are left out first.
    Request dropped;
    std::vector<long long> left_out;
    if (given.missing.given && *given.missing == "drop" && given.have_y) {
        dropped = given;
        std::vector<Column*> cols = {&dropped.y};
        for (Column& c : dropped.cont) cols.push_back(&c);
        for (Column& c : dropped.dummies) cols.push_back(&c);
        if (dropped.group_of.given) cols.push_back(&dropped.group_of.value);
        left_out = drop_missing(cols);
    }
    const Request& s = left_out.empty() ? given : dropped;
    Design d;
    d.est = find_estimator(s.estimator);
    if (d.est == nullptr)
        throw input("unknown estimator '" + s.estimator + "': use dorvane, tremsal, locparg or locpa2g");
    if (!s.have_y) throw usage("no response: give one with lpc_set_response");
    if (s.cont.empty()) throw input("give at least one continuous regressor");

    // The data.
    d.n = s.y.values.size();
    d.pc = s.cont.size();
    d.q = s.dummies.size();
    d.p = d.pc + d.q;
    d.yname = s.y.name;
    const long long base = s.base.given ? *s.base : 1;
    check_finite(s.y, "response", base);
    std::set<std::string> names;
    for (const auto* group : {&s.cont, &s.dummies})
        for (const Column& c : *group) {
            const bool dummy = group == &s.dummies;
            if (c.name.empty()) throw input("a regressor has no name");
            if (!names.insert(c.name).second) throw input("two regressors are named '" + c.name + "'");
            if (c.values.size() != d.n)
                throw input(std::string(dummy ? "dummy" : "regressor") + " '" + c.name + "' has " +
                            std::to_string(c.values.size()) + " values but the response has " + std::to_string(d.n));
            check_finite(c, dummy ? "dummy" : "regressor", base);
            (dummy ? d.dummies : d.cont).push_back(c.name);
        }
    for (const Column& c : s.dummies)
        for (std::size_t i = 0; i < d.n; ++i)
            if (c.values[i] != 0.0 && c.values[i] != 1.0)
                throw input("dummy '" + c.name + "' is " + number(c.values[i]) + " at observation " +
                            std::to_string(static_cast<long long>(i) + base) + "; a dummy holds 0 and 1 only");
    d.y = s.y.values;
    d.dropped = left_out;
    d.x.reserve(d.n * d.p);
    for (const Column& c : s.cont) d.x.insert(d.x.end(), c.values.begin(), c.values.end());
    for (const Column& c : s.dummies) d.x.insert(d.x.end(), c.values.begin(), c.values.end());

    // Degree, lam, counts.
    const Estimator& e = *d.est;
    if (s.deg.given && (*s.deg < e.deg_min || *s.deg > e.deg_max))
        throw input("deg " + std::to_string(*s.deg) + ": " + e.name + " fits degree " + degrees(e));
    d.deg = s.deg.given ? static_cast<int>(*s.deg) : e.deg_default;
    if (e.lam) {
        d.lam = resolve_lam(d, s.lam.given ? *s.lam : "1");
    } else if (s.lam.given) {
        throw input(std::string("lam goes with locparg and locpa2g, not ") + e.name);
    }
    d.vol = s.vol.given && *s.vol != 0;
    d.loo = s.loo.given && *s.loo != 0;
    if (s.nr.given && *s.nr > static_cast<long long>(d.n))
        throw input("nr " + std::to_string(*s.nr) + ": give a count from 1 to n = " + std::to_string(d.n));
    d.nr = s.nr.given ? static_cast<int>(*s.nr) : static_cast<int>(d.n);
    if (d.loo && d.nr != static_cast<int>(d.n)) throw input("loo needs nr = n = " + std::to_string(d.n));
    if (s.phase.given && !s.groups.given) throw input("phase goes with groups");
    if (s.group_of.given) {
        if (!s.groups.given) throw input("group_of goes with groups, the number of groups");
        if (s.phase.given) throw input("give either phase (cyclic groups) or group_of (the group of each observation)");
        if (s.group_of.value.values.size() != d.n)
            throw input("group_of has " + std::to_string(s.group_of.value.values.size()) +
                        " values but the response has " + std::to_string(d.n));
        for (std::size_t i = 0; i < d.n; ++i) {
            const double g = s.group_of.value.values[i];
            if (!(g <= static_cast<double>(*s.groups)))
                throw input("group_of: observation " + std::to_string(static_cast<long long>(i) + base) +
                            " is in group " + number(g) + ", beyond the " + std::to_string(*s.groups) + " groups");
            d.group_of.push_back(static_cast<int>(g));
        }
    }
    if (s.groups.given) {
        if (*s.groups > 1000000) throw input("groups " + std::to_string(*s.groups) + ": give at most a million groups");
        d.K = static_cast<int>(*s.groups);
        d.phase = s.phase.given ? static_cast<int>(*s.phase) : 1;
    }
    if (d.n > 2000000000u) throw input("more than two billion observations");
    name_outputs(d);

    // Names: every output column has its own.
    std::set<std::string> columns(d.cont.begin(), d.cont.end());
    std::vector<std::string> outs = {"density"};
    for (int g = 1; g <= d.K; ++g) outs.push_back("density_g" + std::to_string(g));
    for (const Output& o : d.out) {
        outs.push_back(o.mean);
        if (d.vol) outs.push_back(o.var);
    }
    for (const std::string& o : outs)
        if (!columns.insert(o).second)
            throw input("the output column '" + o + "' would have the name of a regressor; rename the regressor");

    // Enough observations, and regressors that vary.
    const bool one_out = d.leaves_one_out(s);
    const std::size_t least = d.B + 1 + (one_out ? 1 : 0);
    if (d.n < least)
        throw input(std::to_string(d.n) + " observations are too few for the " + std::to_string(d.B) +
                    " local coefficients of " + e.name + " with deg " + std::to_string(d.deg) + "; at least " +
                    std::to_string(least) + " are needed" + (one_out ? " when one is left out" : ""));
    for (const Column& c : s.cont)
        if (constant(c.values)) throw input("continuous regressor '" + c.name + "' takes one value only");
    for (const Column& c : s.dummies)
        if (constant(c.values))
            throw input("dummy '" + c.name + "' is " + number(c.values[0]) +
                        " for every observation, so its effect cannot be told from the level");
    if (one_out && !d.loo && d.nr != static_cast<int>(d.n))
        throw input("cross-validation needs nr = n: its scores come from leave-one-out fits");

    // Options that exclude each other.
    if (s.at.given && s.grid.given) throw input("give either at or grid, not both");
    if (d.loo && (s.at.given || s.grid.given)) throw input("loo fits at the observations; give no at or grid with it");
    if (s.method.given && (*s.method == "rot" || *s.method == "plugin") && (s.cv.given || s.cv_grid.given))
        throw input("bandwidth '" + *s.method + "' chooses no candidates; give cv or cv_grid with 'cv' or 'aicc'");
    if (s.bandwidth.given && (s.cv.given || s.cv_grid.given))
        throw input("give either a bandwidth or cross-validation candidates, not both");
    if (s.cv.given && s.cv_grid.given) throw input("give either a count of candidates (cv) or the candidates (cv_grid)");
    if (s.bandwidth.given && s.bandwidth.value.size() != 1 && s.bandwidth.value.size() != d.pc)
        throw input("bandwidth has " + std::to_string(s.bandwidth.value.size()) +
                    " values; give one, or one for each of the " + std::to_string(d.pc) + " continuous regressors");
    if (s.cv_grid.given && s.cv_grid.value.size() % d.pc != 0)
        throw input("cv_grid has " + std::to_string(s.cv_grid.value.size()) + " values, not a whole number of rows of " +
                    std::to_string(d.pc) + " bandwidths");
    if (s.cv_scores.given && (!s.cv_grid.given || s.cv_scores.value.size() * d.pc != s.cv_grid.value.size()))
        throw input("cv_scores needs cv_grid, with one score per candidate");
    if (s.task.given && (*s.task == "score" || *s.task == "candidates") && !s.cv_grid.given && !s.cv.given)
        throw input("task '" + *s.task + "' goes with the candidates of cv or cv_grid; give them");
    if (s.label.given && !s.bandwidth.given) throw input("method labels given bandwidths; give them too");
    if (s.at.given && s.at.value.size() % d.pc != 0)
        throw input("at has " + std::to_string(s.at.value.size()) + " values, not a whole number of points of " +
                    std::to_string(d.pc) + " coordinates");

    const long long cores = processors();
    d.threads = static_cast<int>(s.threads.given && *s.threads > 0 ? std::min<long long>(*s.threads, 256) : cores);
    return d;
}

Points observation_points(const Design& d)
{
    Points at;
    at.m = d.n;
    at.t.assign(d.x.begin(), d.x.begin() + static_cast<std::ptrdiff_t>(d.n * d.pc));
    at.observations = true;
    return at;
}

Points grid_points(const Design& d, const std::vector<std::vector<double>>& columns, long long N)
{
    const std::size_t pc = columns.size();
    if (pc > 2)
        throw input("grid spans one or two continuous regressors; with " + std::to_string(d.pc) + " give the points with at");
    if (std::pow(static_cast<double>(N), static_cast<double>(pc)) > 1e7)
        throw input("grid " + std::to_string(N) + ": more than ten million points");
    std::vector<std::vector<double>> axis(pc);
    for (std::size_t k = 0; k < pc; ++k) {
        const auto [lo, hi] = std::minmax_element(columns[k].begin(), columns[k].end());
        for (long long j = 0; j < N; ++j)
            axis[k].push_back(j == N - 1 ? *hi
                                         : *lo + (*hi - *lo) * static_cast<double>(j) / static_cast<double>(N - 1));
    }
    Points at;
    at.m = pc == 1 ? axis[0].size() : axis[0].size() * axis[1].size();
    at.t.resize(at.m * pc);
    const std::size_t n0 = static_cast<std::size_t>(N);
    for (std::size_t j = 0; j < at.m; ++j) {
        at.t[j] = axis[0][j % n0];
        if (pc == 2) at.t[j + at.m] = axis[1][j / n0];
    }
    return at;
}

Points points(const Request& s, const Design& d)
{
    Points at;
    if (s.at.given) {
        at.m = s.at.value.size() / d.pc;
        at.t = s.at.value;
    } else if (s.grid.given) {
        std::vector<std::vector<double>> cols;
        for (std::size_t k = 0; k < d.pc; ++k)
            cols.emplace_back(d.x.begin() + static_cast<std::ptrdiff_t>(k * d.n),
                              d.x.begin() + static_cast<std::ptrdiff_t>((k + 1) * d.n));
        at = grid_points(d, cols, *s.grid);
    } else {
        at = observation_points(d);
    }
    if (!s.from.given && !s.to.given) return at;

    // A block of the points; leave-one-out keeps the observations' numbers.
    const std::size_t from = s.from.given ? static_cast<std::size_t>(*s.from) : 0;
    const std::size_t to = s.to.given ? static_cast<std::size_t>(*s.to) : at.m;
    if (from > to || to > at.m)
        throw input("the block from " + std::to_string(from) + " to " + std::to_string(to) + " is not within the " +
                    std::to_string(at.m) + " evaluation points");
    Points block;
    block.m = to - from;
    block.first = from;
    block.observations = at.observations;
    for (std::size_t k = 0; k < d.pc; ++k)
        block.t.insert(block.t.end(), at.t.begin() + static_cast<std::ptrdiff_t>(k * at.m + from),
                       at.t.begin() + static_cast<std::ptrdiff_t>(k * at.m + to));
    return block;
}

}  // namespace lpc
