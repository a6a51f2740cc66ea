// One run: the checks, the bandwidth, the fit at the points, the fit at the
// observations when it is asked for, the table and what a user reads.
#include <algorithm>
#include <cmath>
#include <map>

#include "core/bandwidth.h"
#include "core/design.h"
#include "core/fitter.h"
#include "core/intervals.h"
#include "core/result.h"
#include "include/lpcore.h"

namespace lpc {

namespace {

// "local linear fit", "local quadratic fit with cross products", ...
std::string title(const Design& d)
{
    const std::string e = d.est->name;
    if (e == "locparg") return "local quadratic fit with third-order terms";
    if (e == "locpa2g") return "local quadratic fit with cross products";
    return d.deg == 1 ? "local linear fit" : d.deg == 2 ? "local quadratic fit" : "local cubic fit";
}

std::string plural(std::size_t k, const char* one, const char* many)
{
    return std::to_string(k) + " " + (k == 1 ? one : many);
}

// "12 (x = 3.5), 40 (x = 7.25) and 3 more": the first few points by number
// from `base`, with their coordinates when `t` is given.
std::string point_list(const std::vector<long long>& pts, int base, const Design& d, const Points* t,
                       std::size_t shown = 5)
{
    std::string s;
    const std::size_t k = std::min(shown, pts.size());
    for (std::size_t i = 0; i < k; ++i) {
        s += i == 0 ? "" : i + 1 == k && k == pts.size() ? " and " : ", ";
        s += std::to_string(pts[i] + base);
        if (t != nullptr) {
            const std::size_t j = static_cast<std::size_t>(pts[i]) - t->first;
            s += " (";
            for (std::size_t c = 0; c < d.pc; ++c)
                s += (c ? ", " : "") + d.cont[c] + " = " + number(t->t[j + c * t->m], 6);
            s += ")";
        }
    }
    if (pts.size() > k) s += " and " + std::to_string(pts.size() - k) + " more";
    return s;
}

// The kinds of lines the engine writes, and how a summary names them.
struct Kind {
    const char* start;
    const char* what;
};
const Kind kinds[] = {
    {"t: sum of off-diagonal element of invZWZ*ZWZ", "the conditioning test failed (off-diagonal sum above 100000)"},
    {"Numerical routine run-time error...", "the LU decomposition found a moment matrix with an all-zero row"},
    {"Singular matrix in routine LUDCMP", nullptr},
    {"...now exiting to system..?.", nullptr},
    {"WARNING: The estimation of the", ""},  // said once among the warnings
    {"cond. volatility function is not", nullptr},
    {"checked if the regressor matrix", nullptr},
    {"contains dummies", nullptr},
};

// One line per kind of engine line with its points, in the order first seen.
std::string summary(const std::vector<Message>& msgs, int base, const Design& d)
{
    std::vector<std::pair<std::string, std::vector<long long>>> seen;
    for (const Message& m : msgs) {
        std::string what = m.text;
        while (!what.empty() && (what.back() == '\n' || what.back() == ' ')) what.pop_back();
        bool known = false;
        for (const Kind& k : kinds)
            if (m.text.compare(0, std::char_traits<char>::length(k.start), k.start) == 0) {
                if (k.what == nullptr || *k.what == 0) goto next;  // a later line of a report, or said elsewhere
                what = k.what;
                known = true;
                break;
            }
        (void)known;
        {
            auto it = std::find_if(seen.begin(), seen.end(), [&](const auto& e) { return e.first == what; });
            if (it == seen.end()) it = seen.insert(seen.end(), {what, {}});
            if (m.point >= 0 && (it->second.empty() || it->second.back() != m.point)) it->second.push_back(m.point);
        }
    next:;
    }
    std::string s;
    for (const auto& [what, pts] : seen) {
        s += "library: " + what;
        if (!pts.empty()) s += ", at " + plural(pts.size(), "point", "points") + ": " + point_list(pts, base, d, nullptr, 8);
        s += "\n";
    }
    return s;
}

std::string lines(const std::vector<std::string>& v)
{
    std::string s;
    for (const std::string& e : v) s += e + "\n";
    return s;
}

}  // namespace

void run(const Request& s, lpc_progress progress_fn, void* ctx, lpc_fit& fit)
{
    Progress progress(progress_fn, ctx);
    const Design d = design(s);
    Selection sel = select_bandwidth(s, d, progress);
    fit.values["bandwidth"] = sel.h;
    fit.values["n"] = {static_cast<double>(d.n)};
    {
        std::vector<double> tried;
        for (std::size_t c = 0; c < d.pc; ++c)
            for (const std::vector<double>& h : sel.tried) tried.push_back(h[c]);
        fit.values["selection_h"] = tried;
        fit.values["selection_score"] = sel.scores;
    }
    if (s.curve.given && *s.curve != 0) {
        std::vector<double> ch, cs;
        criterion_curve(s, d, sel.h[0], progress, ch, cs);
        fit.values["curve_h"] = ch;
        fit.values["curve_score"] = cs;
    }
    if (!sel.starts.empty()) {
        std::vector<double> st;
        for (std::size_t c = 0; c < d.pc; ++c)
            for (const std::vector<double>& h : sel.starts) st.push_back(h[c]);
        fit.values["selection_start"] = st;
        fit.values["selection_start_score"] = sel.start_scores;
    }
    fit.text("criterion", sel.criterion);
    fit.text("estimator", d.est->name);
    fit.text("title", title(d));
    fit.text("method", sel.method);
    if (s.task.given && *s.task == "score") {
        fit.values["score"] = sel.scores;
        return;
    }
    if (s.task.given && *s.task == "candidates") return;

    const Points at = points(s, d);
    const Asked q = asked(s, d);
    if (q.any) fit.values["conf"] = {q.conf};
    if (s.task.given && *s.task == "check") return;
    const bool want_fitted = s.fitted.given && *s.fitted != 0;
    Residuals res;
    std::vector<double> s2_se;
    const bool want_var = s.var_residual.given && *s.var_residual != 0;
    if (want_fitted || q.any || want_var) res = residual_fit(d, sel.h, progress);
    if (q.any) s2_se = variances(q.se, d, sel.h, res, progress);
    Call call;
    call.h = sel.h;
    call.vol = d.vol;
    call.loo = d.loo;
    if (q.any) call.s2 = &s2_se;
    const Run r = fit_points(d, at, call, progress, "fit");

    // The table: coordinates, mh, sh, density and its groups.
    const std::size_t m = at.m;
    fit.rows = m;
    for (std::size_t c = 0; c < d.pc; ++c)
        fit.column(d.cont[c], std::vector<double>(at.t.begin() + static_cast<std::ptrdiff_t>(c * m),
                                                  at.t.begin() + static_cast<std::ptrdiff_t>((c + 1) * m)));
    auto part = [m](const std::vector<double>& v, std::size_t c) {
        return std::vector<double>(v.begin() + static_cast<std::ptrdiff_t>(c * m),
                                   v.begin() + static_cast<std::ptrdiff_t>((c + 1) * m));
    };
    for (std::size_t c = 0; c < d.B; ++c) fit.column(d.out[c].mean, part(r.mh, c));
    if (d.vol)
        for (std::size_t c = 0; c < d.B; ++c) fit.column(d.out[c].var, part(r.sh, c));
    if (want_var) fit.column("var_residual", residual_variance(d, sel.h, at, res, progress));
    fit.column("density", part(r.fh, 0));
    for (int g = 1; g <= d.K; ++g) fit.column("density_g" + std::to_string(g), part(r.fh, static_cast<std::size_t>(g)));

    // The fit at the observations: fitted values, residuals, leverages.
    if (want_fitted) {
        fit.values["fitted"] = res.fitted;
        fit.values["residuals"] = res.e;
        fit.values["leverage"] = res.leverage;
        // R² analogue: the share of the response's variation the fit
        // explains, over the observations whose fit did not fail.
        double mean = 0, tss = 0, rss = 0, used = 0;
        for (std::size_t i = 0; i < d.n; ++i)
            if (std::isfinite(res.e[i])) mean += d.y[i], used += 1;
        mean /= used;
        for (std::size_t i = 0; i < d.n; ++i) {
            if (!std::isfinite(res.e[i])) continue;
            tss += (d.y[i] - mean) * (d.y[i] - mean);
            rss += res.e[i] * res.e[i];
        }
        fit.values["r_squared"] = {1.0 - rss / tss};
        fit.values["residual_variance"] = {rss / used};
    }

    if (q.any) intervals(s, q, d, sel.h, at, r, res, s2_se, fit, progress);

    // Points and what a user reads.
    if (!r.failed.empty()) fit.points["failed"] = r.failed;
    if (!d.dropped.empty()) fit.points["dropped"] = d.dropped;
    if (!r.refitted.empty()) fit.points["refitted"] = r.refitted;
    std::vector<std::string> warnings = sel.warnings, notes = sel.notes;
    const Design* dp = nullptr;
    (void)dp;
    const std::vector<long long> unfitted = res.failed;
    fit.texts["warnings"] = [d, at, r, warnings, unfitted](int base) {
        std::vector<std::string> w;
        if (!unfitted.empty())
            w.push_back("the fit at the observations is NaN at " +
                        std::string(unfitted.size() == 1 ? "observation " : plural(unfitted.size(), "observation", "observations") + ": ") +
                        point_list(unfitted, base, d, nullptr) +
                        "; their fitted values and residuals are NaN, and the R-squared, the standard errors and the "
                        "intervals leave them out");
        if (!r.failed.empty()) {
            const std::size_t k = r.failed.size();
            w.push_back("the local fit is NaN at " + std::string(k == 1 ? "point " : plural(k, "point", "points") + ": ") +
                        point_list(r.failed, base, d, &at) + ": " + (k == 1 ? "its" : "their") +
                        " local moment matrix is singular or too ill-conditioned for a trustworthy solution; a larger "
                        "bandwidth or fewer terms may help");
        }
        if (d.vol && d.q > 0) w.push_back("the conditional variance is not checked when the regressors include dummies");
        w.insert(w.end(), warnings.begin(), warnings.end());
        return lines(w);
    };
    fit.texts["notes"] = [d, at, r, notes](int base) {
        std::vector<std::string> v;
        if (!r.refitted.empty())
            v.push_back(plural(r.refitted.size(), "point was", "points were") +
                        " fitted again by a method that stays accurate, for their normal equations could not be "
                        "trusted: " + point_list(r.refitted, base, d, &at));
        v.insert(v.end(), notes.begin(), notes.end());
        return lines(v);
    };
    const std::vector<Message> msgs = r.messages;
    fit.texts["messages"] = [msgs, d](int base) { return summary(msgs, base, d); };
    fit.texts["library"] = [msgs](int) {
        std::string s;
        for (const Message& m : msgs) s += m.text;
        return s;
    };
    const std::string bw = [&] {
        std::string b;
        for (std::size_t k = 0; k < d.pc; ++k) b += (k ? ", " : "") + d.cont[k] + " = " + number(sel.h[k], 6);
        return b;
    }();
    const std::string head = std::string(d.est->name) + ": " + title(d) + ", n = " + std::to_string(d.n) + ", " +
                             plural(m, "evaluation point", "evaluation points") + (d.loo ? " (leave-one-out)" : "") +
                             "\nbandwidth: " + bw + " (" + sel.method + ")\n";
    fit.text("header", head);
    const std::vector<double> r2 = fit.values.count("r_squared") ? fit.values["r_squared"] : std::vector<double>();
    const std::vector<double> rv =
        fit.values.count("residual_variance") ? fit.values["residual_variance"] : std::vector<double>();
    fit.texts["summary"] = [head, d, r, at, r2, rv](int base) {
        std::string s = head;
        s += "observations: " + std::to_string(d.n) + " used";
        if (!d.dropped.empty())
            s += ", " + plural(d.dropped.size(), "dropped", "dropped") + " for a missing value (" +
                 point_list(d.dropped, base, d, nullptr) + ")";
        s += "\n";
        if (!r2.empty()) s += "R-squared at the observations: " + number(r2[0], 4) + " (residual variance " + number(rv[0], 4) + ")\n";
        s += "points: " + std::to_string(r.failed.size()) + " failed (NaN)";
        if (!r.failed.empty()) s += ": " + point_list(r.failed, base, d, nullptr);
        s += "; " + std::to_string(r.refitted.size()) + " refitted";
        if (!r.refitted.empty()) s += ": " + point_list(r.refitted, base, d, nullptr);
        return s + "\n";
    };
    const Selection sv = sel;
    fit.texts["selection"] = [sv, d](int) {
        if (sv.tried.empty()) return std::string();
        std::string s = sv.criterion + " over " + plural(sv.tried.size(), "bandwidth", "bandwidths") + " (n = " +
                        std::to_string(d.n) + ")\n";
        for (const std::string& c : d.cont) s += "  " + ("h_" + c) + std::string(c.size() + 2 < 14 ? 14 - c.size() - 2 : 1, ' ');
        s += "  score\n";
        for (std::size_t k = 0; k < sv.tried.size(); ++k) {
            for (double h : sv.tried[k]) {
                const std::string e = number(h, 6);
                s += "  " + e + std::string(e.size() < 14 ? 14 - e.size() : 1, ' ');
            }
            s += "  " + number(sv.scores[k], 10) + (sv.tried[k] == sv.h ? "  <- chosen" : "") + "\n";
        }
        return s;
    };
}

}  // namespace lpc
