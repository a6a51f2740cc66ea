// The rule of thumb, the cross-validation score and the choice among
// candidates.
#include "core/bandwidth.h"

#include <cmath>
#include <limits>
#include <map>

#include "core/minimise.h"
#include "core/plugin.h"

namespace lpc {

namespace {

const double inf = std::numeric_limits<double>::infinity();

double sample_sd(const double* v, std::size_t n)
{
    double mean = 0;
    for (std::size_t i = 0; i < n; ++i) mean += v[i];
    mean /= static_cast<double>(n);
    double ss = 0;
    for (std::size_t i = 0; i < n; ++i) ss += (v[i] - mean) * (v[i] - mean);
    return std::sqrt(ss / (static_cast<double>(n) - 1));
}

std::string bandwidth_text(const Design& d, const std::vector<double>& h, int digits)
{
    std::string s;
    for (std::size_t k = 0; k < h.size(); ++k) s += (k ? ", " : "") + d.cont[k] + " = " + number(h[k], digits);
    return s;
}

// Chooses the least finite score among the candidates.
void choose(const Design& d, Selection& sel, bool grid)
{
    std::size_t best = 0;
    for (std::size_t k = 0; k < sel.scores.size(); ++k)
        if (sel.scores[k] < sel.scores[best]) best = k;
    if (sel.scores.empty() || !std::isfinite(sel.scores[best]))
        throw Error(LPC_EFAILED, "every candidate bandwidth fails the leave-one-out fit at some observation; try larger ones");
    sel.h = sel.tried[best];
    const std::size_t K = sel.scores.size();
    if (grid && K > 2 && (best == 0 || best == K - 1))
        sel.warnings.push_back("the least score of " + sel.criterion + " is at the " +
                               (best == 0 ? "smallest" : "largest") +
                               " candidate; the best bandwidth may lie beyond the candidates");
    sel.notes.push_back("chosen bandwidth " + bandwidth_text(d, sel.h, 17) + " (" + sel.criterion + " score " +
                        number(sel.scores[best], 10) + ", " + std::to_string(K) + " candidates)");
}

}  // namespace

std::vector<double> rule_of_thumb(const Design& d)
{
    const double pc = static_cast<double>(d.pc), n = static_cast<double>(d.n);
    const double c = std::pow(4.0 / (pc + 2.0), 1.0 / (pc + 4.0));
    const double rate = std::pow(n, -1.0 / (pc + (d.deg >= 2 ? 8.0 : 4.0)));
    std::vector<double> h;
    for (std::size_t k = 0; k < d.pc; ++k) h.push_back(c * sample_sd(d.x.data() + k * d.n, d.n) * rate);
    return h;
}

double aicc_score(const Design& d, const std::vector<double>& h, Progress& progress)
{
    // log σ̂² + (1 + tr(S)/n) / (1 - (tr(S) + 2)/n), from the fit at the
    // observations: the residuals and the weight S_ii of each observation in
    // its own fit.
    Call call;
    call.h = h;
    call.density_groups = false;
    call.leverage = true;
    const Run r = fit_points(d, observation_points(d), call, progress, "bandwidth");
    if (!r.failed.empty()) return inf;
    const double n = static_cast<double>(d.n);
    double rss = 0, trace = 0;
    for (std::size_t i = 0; i < d.n; ++i) {
        const double e = d.y[i] - prediction(d, r, i);
        rss += e * e;
        trace += r.leverage[i];
    }
    const double denominator = 1.0 - (trace + 2.0) / n;
    if (!(denominator > 0)) return inf;
    const double v = std::log(rss / n) + (1.0 + trace / n) / denominator;
    return std::isnan(v) ? inf : v;
}

double cv_score(const Design& d, const std::vector<double>& h, Progress& progress)
{
    Call call;
    call.h = h;
    call.loo = true;
    call.density_groups = false;
    const Run r = fit_points(d, observation_points(d), call, progress, "bandwidth");
    if (!r.failed.empty()) return inf;
    double ss = 0;
    for (std::size_t i = 0; i < d.n; ++i) {
        const double e = d.y[i] - prediction(d, r, i);
        ss += e * e;
    }
    const double score = ss / static_cast<double>(d.n);
    return std::isnan(score) ? inf : score;
}

std::vector<std::vector<double>> candidates(const Request& s, const Design& d)
{
    std::vector<std::vector<double>> hs;
    if (s.cv_grid.given) {
        const std::vector<double>& g = *s.cv_grid;
        const std::size_t K = g.size() / d.pc;
        for (std::size_t k = 0; k < K; ++k) {
            std::vector<double> h;
            for (std::size_t c = 0; c < d.pc; ++c) h.push_back(g[k + c * K]);
            hs.push_back(h);
        }
        return hs;
    }
    const std::vector<double> h0 = rule_of_thumb(d);
    const long long K = *s.cv;
    for (long long k = 0; k < K; ++k) {
        const double f = std::pow(4.0, 2.0 * static_cast<double>(k) / static_cast<double>(K - 1) - 1.0);
        std::vector<double> h;
        for (double e : h0) h.push_back(e * f);
        hs.push_back(h);
    }
    return hs;
}

namespace {

// How far a minimisation may go from the rule of thumb, in each direction.
const double reach = 256.0;

// Minimises `criterion` over log h: one regressor by a bracket and Brent's
// method, several by Nelder and Mead's simplex from three starts (the rule
// of thumb, twice and half of it), each to a coarse tolerance, the best of
// them then to the fine one. Every value taken is recorded in sel.
void minimise(const Design& d, Selection& sel, const std::function<double(const std::vector<double>&)>& criterion,
              const char* what)
{
    const std::vector<double> h0 = rule_of_thumb(d);
    const std::size_t pc = d.pc;
    std::map<std::vector<double>, double> seen;
    auto f = [&](const std::vector<double>& u) {
        std::vector<double> h(pc);
        for (std::size_t k = 0; k < pc; ++k) h[k] = std::exp(u[k]);
        const auto known = seen.find(h);
        if (known != seen.end()) return known->second;
        const double v = criterion(h);
        seen.emplace(h, v);
        sel.tried.push_back(h);
        sel.scores.push_back(v);
        return v;
    };
    std::vector<double> lo(pc), hi(pc), u0(pc);
    for (std::size_t k = 0; k < pc; ++k) {
        u0[k] = std::log(h0[k]);
        lo[k] = u0[k] - std::log(reach);
        hi[k] = u0[k] + std::log(reach);
    }
    // A relative tolerance of 1e-4 in h is 1e-4 in log h.
    const double tol = 1e-4;
    Found best;
    if (pc == 1) {
        best = minimise_line(f, u0[0], std::log(2.0), lo[0], hi[0], tol / 2);
        sel.starts.push_back({std::exp(best.u[0])});
    } else {
        std::vector<std::vector<double>> starts = {u0};
        for (double factor : {2.0, 0.5}) {
            std::vector<double> u = u0;
            for (double& e : u) e += std::log(factor);
            starts.push_back(u);
        }
        // Each start to a coarse tolerance, then the best of them to the fine one.
        best.f = inf;
        for (const std::vector<double>& u : starts) {
            const Found got = minimise_simplex(f, u, std::log(2.0), lo, hi, 1e-2, 300, false);
            std::vector<double> h(pc);
            for (std::size_t k = 0; k < pc; ++k) h[k] = std::exp(got.u[k]);
            sel.starts.push_back(h);
            sel.start_scores.push_back(got.f);
            if (best.u.empty() || got.f < best.f) best = got;
        }
        if (std::isfinite(best.f)) {
            const Found fine = minimise_simplex(f, best.u, 0.05, lo, hi, tol, 600);
            if (fine.f <= best.f) best = fine;
        }
    }
    if (!std::isfinite(best.f))
        throw Error(LPC_EFAILED, std::string("the ") + what +
                                     " fails at every bandwidth tried; the data may be too few or too clustered");
    sel.h.resize(pc);
    for (std::size_t k = 0; k < pc; ++k) sel.h[k] = std::exp(best.u[k]);
    if (pc == 1) sel.start_scores.push_back(best.f);
    if (best.at_limit)
        sel.warnings.push_back(std::string("the least ") + what + " lies at the edge of the bandwidths allowed (" +
                               number(reach, 3) +
                               " times the rule of thumb or its inverse); the best bandwidth may lie beyond");
    sel.notes.push_back(std::string(what) + " minimised over log h: " + bandwidth_text(d, sel.h, 6) + ", score " +
                        number(best.f, 10) + ", after " + std::to_string(sel.tried.size()) + " fits");
}

}  // namespace

Selection select_bandwidth(const Request& s, const Design& d, Progress& progress)
{
    Selection sel;
    if (s.bandwidth.given) {
        sel.h = *s.bandwidth;
        if (sel.h.size() == 1) sel.h.resize(d.pc, sel.h[0]);
        sel.method = s.label.given ? *s.label : "given";
        return sel;
    }
    if (s.cv.given || s.cv_grid.given) {
        // A grid of candidates, scored by cross-validation or, after
        // bandwidth "aicc", by AICc.
        const bool aicc = s.method.given && *s.method == "aicc";
        sel.method = aicc ? "aicc" : "cross-validated";
        sel.criterion = aicc ? "AICc" : "least-squares cross-validation";
        sel.tried = candidates(s, d);
        if (s.task.given && *s.task == "candidates") return sel;
        if (s.cv_scores.given) {
            sel.scores = *s.cv_scores;
        } else {
            for (const std::vector<double>& h : sel.tried)
                sel.scores.push_back(aicc ? aicc_score(d, h, progress) : cv_score(d, h, progress));
        }
        if (s.task.given && *s.task != "fit") return sel;
        choose(d, sel, true);
        return sel;
    }
    const std::string method = s.method.given ? *s.method : "rot";
    if (method == "cv") {
        sel.method = "cross-validated";
        sel.criterion = "least-squares cross-validation";
        minimise(d, sel, [&](const std::vector<double>& h) { return cv_score(d, h, progress); },
                 "least-squares cross-validation score");
        return sel;
    }
    if (method == "aicc") {
        sel.method = "aicc";
        sel.criterion = "AICc";
        minimise(d, sel, [&](const std::vector<double>& h) { return aicc_score(d, h, progress); }, "AICc");
        return sel;
    }
    if (method == "plugin") {
        sel.method = "plug-in";
        sel.h = {plugin_bandwidth(d, progress, sel.notes)};
        return sel;
    }
    sel.h = rule_of_thumb(d);
    sel.method = "rule of thumb";
    return sel;
}

void criterion_curve(const Request& s, const Design& d, double h, Progress& progress, std::vector<double>& curve_h,
                     std::vector<double>& curve_score)
{
    if (d.pc != 1) throw input("curve: the criterion curve is drawn for one continuous regressor");
    const bool aicc = s.method.given && *s.method == "aicc";
    for (int k = 0; k <= 40; ++k) {
        const double v = h * std::pow(4.0, (k - 20) / 10.0);
        curve_h.push_back(v);
        curve_score.push_back(aicc ? aicc_score(d, {v}, progress) : cv_score(d, {v}, progress));
    }
}

}  // namespace lpc
