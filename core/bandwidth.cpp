// The rule of thumb, the cross-validation score and the choice among
// candidates.
#include "core/bandwidth.h"

#include <cmath>
#include <limits>

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
        sel.warnings.push_back(std::string("the least cross-validation score is at the ") +
                               (best == 0 ? "smallest" : "largest") +
                               " candidate; the best bandwidth may lie beyond the candidates");
    sel.notes.push_back("chosen bandwidth " + bandwidth_text(d, sel.h, 17) + " (cross-validation score " +
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

std::vector<std::vector<double>> candidates(const Spec& s, const Design& d)
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

Selection select_bandwidth(const Spec& s, const Design& d, Progress& progress)
{
    Selection sel;
    if (s.bandwidth.given) {
        sel.h = *s.bandwidth;
        if (sel.h.size() == 1) sel.h.resize(d.pc, sel.h[0]);
        sel.method = "given";
        return sel;
    }
    if (s.cv.given || s.cv_grid.given) {
        sel.method = "cross-validated";
        sel.criterion = "least-squares cross-validation";
        sel.tried = candidates(s, d);
        if (s.cv_scores.given) {
            sel.scores = *s.cv_scores;
        } else {
            for (const std::vector<double>& h : sel.tried) sel.scores.push_back(cv_score(d, h, progress));
        }
        if (s.task.given && *s.task == "score") return sel;
        choose(d, sel, true);
        return sel;
    }
    const std::string method = s.method.given ? *s.method : "rot";
    if (method != "rot") throw input("bandwidth '" + method + "' is not available yet");
    sel.h = rule_of_thumb(d);
    sel.method = "rule of thumb";
    return sel;
}

}  // namespace lpc
