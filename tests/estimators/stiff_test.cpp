// Stiff evaluation points against exact local fits: wherever the weights of a
// point span tens to hundreds of orders of magnitude (an isolated observation
// left out, a point far from the data), every output is within 1e-9 of the
// exact value, relative to its scale (tests/data/stiff_reference.py says
// which), or the whole point is NaN and reported unreliable. No output is NaN
// without a report.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "estimators/frame.h"
#include "stiff_reference.h"
#include "support.h"

namespace {

constexpr double tolerance = 1e-9;

const stiff::Reference& reference()
{
    static const stiff::Reference r = stiff::load(LP_STIFF_REFERENCE);
    return r;
}

lp::LayoutRule rule_of(const std::string& name)
{
    if (name == "dorvane") return lp::dorvane_layout;
    if (name == "tremsal") return lp::tremsal_layout;
    if (name == "locparg") return lp::locparg_layout;
    return lp::locpa2g_layout;
}

// One call of the engine with a report that keeps the text and the events.
struct Fitted {
    std::vector<double> mh, sh, fh;
    std::string text;
    std::vector<std::vector<lp::Event>> events;  // per point
    int B = 0;

    bool has(int j, lp::Event e) const
    {
        for (lp::Event f : events[j])
            if (f == e) return true;
        return false;
    }
    double at(const std::vector<double>& v, int j, int c) const { return v[j + static_cast<std::size_t>(c) * events.size()]; }
};

Fitted fit(host::Problem pr, const std::string& name, bool go_on, lp::Path path = lp::Path::widest)
{
    Fitted r;
    const int m = static_cast<int>(pr.m);
    r.B = host::output_columns(name, pr);
    r.mh.assign(static_cast<std::size_t>(m) * r.B + 1, -777.0);
    r.sh.assign(static_cast<std::size_t>(m) * r.B + 1, -777.0);
    r.fh.assign(static_cast<std::size_t>(m) + 1, 0.0);
    r.events.resize(m);
    if (pr.t.empty()) pr.t.push_back(0.0);
    const lp::Pointers ptr{pr.x.data(), &pr.n,       &pr.p,       pr.y.data(), &pr.nr,   pr.t.data(),
                           &pr.m,       pr.h.data(), pr.grp,      r.mh.data(), r.sh.data(), r.fh.data(),
                           &pr.deg,     &pr.vol,     &pr.nloo,    &pr.lam};
    lp::Report report;
    report.ctx = &r;
    report.text = [](void* ctx, int, const char* s) { static_cast<Fitted*>(ctx)->text += s; };
    report.event = [](void* ctx, int j, lp::Event e, double) { static_cast<Fitted*>(ctx)->events[j].push_back(e); };
    report.go_on = go_on;
    lp::Args a{};
    a.report = &report;
    lp::Layout lay;
    EXPECT_TRUE(lp::read_args(ptr, name.c_str(), a) && rule_of(name)(a, lay)) << r.text;
    lp::fit(a, lay, path);
    return r;
}

Fitted fit(const stiff::Case& c, bool go_on, lp::Path path = lp::Path::widest)
{
    return fit(reference().problem(c), c.name, go_on, path);
}

// Largest error of point `p` against the exact fit, relative to the scales,
// or -1 when the point is NaN throughout.
double worst_error(const Fitted& r, const stiff::Point& p, bool vol)
{
    bool all_nan = true, any_nan = false;
    double worst = 0.0;
    for (int c = 0; c < r.B; ++c) {
        const double got[2] = {r.at(r.mh, p.j, c), vol ? r.at(r.sh, p.j, c) : 0.0};
        const double want[2] = {p.mh[c], vol ? p.sh[c] : 0.0};
        const double scale[2] = {p.smh[c], vol ? p.ssh[c] : 1.0};
        for (int k = 0; k < 2; ++k) {
            all_nan = all_nan && std::isnan(got[k]);
            any_nan = any_nan || std::isnan(got[k]);
            const double e = std::fabs(got[k] - want[k]) / scale[k];
            if (!(e <= worst)) worst = e;
        }
    }
    if (all_nan) return -1.0;
    return any_nan ? INFINITY : worst;
}

std::vector<lp::Path> paths()
{
    std::vector<lp::Path> out;
    for (lp::Path p : {lp::Path::avx512, lp::Path::avx2, lp::Path::sse2, lp::Path::scalar})
        if (lp::path_available(p)) out.push_back(p);
    return out;
}

}  // namespace

TEST(StiffPoints, EveryOutputIsExactOrTheWholePointIsReportedNaN)
{
    ASSERT_GE(reference().cases.size(), 20u);
    int refitted = 0, unreliable = 0, checked = 0;
    for (const stiff::Case& c : reference().cases) {
        SCOPED_TRACE(c.title);
        const Fitted r = fit(c, true);
        double worst = 0.0;
        int nan_points = 0;
        for (const stiff::Point& p : c.points) {
            const double e = worst_error(r, p, c.vol != 0);
            if (e < 0) {
                EXPECT_TRUE(r.has(p.j, lp::Event::unreliable)) << "point " << p.j << " is NaN without a report";
                ++nan_points;
            } else {
                EXPECT_LE(e, tolerance) << "point " << p.j << (r.has(p.j, lp::Event::refitted) ? ", refitted" : "");
                worst = std::max(worst, e);
            }
            ++checked;
        }
        // Every point of the call: NaN exactly where it is reported
        // unreliable, refitted points finite.
        for (int j = 0; j < c.m; ++j) {
            bool any_nan = false;
            for (int col = 0; col < r.B; ++col)
                any_nan = any_nan || std::isnan(r.at(r.mh, j, col)) || (c.vol != 0 && std::isnan(r.at(r.sh, j, col)));
            EXPECT_EQ(any_nan, r.has(j, lp::Event::unreliable)) << "point " << j;
            refitted += r.has(j, lp::Event::refitted);
            unreliable += r.has(j, lp::Event::unreliable);
        }
        std::printf("%-100.100s %4zu exact points, worst error %.1e, %d NaN\n", c.title.c_str(), c.points.size(),
                    worst, nan_points);
    }
    std::printf("%d points checked; over all points %d refitted, %d unreliable\n", checked, refitted, unreliable);
    // The reference holds stiff points of every kind; most of them refit.
    EXPECT_GT(refitted, 40);
}

TEST(StiffPoints, TheExportsFlowGivesTheSameNumbers)
{
    // Without a failed conditioning test the exports' flow (a failure ends
    // the call) and the core's (it goes on) are the same call: same text,
    // same bits. The dummy warning is said at every point, refitted or not.
    int compared = 0;
    for (const stiff::Case& c : reference().cases) {
        const Fitted core = fit(c, true), exports = fit(c, false);
        if (core.text.find("t: sum of off-diagonal") != std::string::npos) continue;
        EXPECT_EQ(exports.text, core.text) << c.title;
        EXPECT_TRUE(same_bits(exports.mh, core.mh)) << c.title;
        EXPECT_TRUE(same_bits(exports.sh, core.sh)) << c.title;
        EXPECT_TRUE(same_bits(exports.fh, core.fh)) << c.title;
        EXPECT_EQ(exports.events, core.events) << c.title;
        ++compared;
        if (c.h.back() < 0 && c.vol != 0) {
            const std::string warning = "WARNING: The estimation of the\n";
            std::size_t count = 0;
            for (std::size_t at = core.text.find(warning); at != std::string::npos; at = core.text.find(warning, at + 1))
                ++count;
            EXPECT_EQ(count, static_cast<std::size_t>(c.m)) << c.title;
        }
    }
    EXPECT_GT(compared, 15);
}

TEST(StiffPoints, EveryInstructionSetGivesTheSameBits)
{
    // The refit is scalar; what it is asked to do must not depend on the
    // batch kernels either.
    for (const stiff::Case& c : reference().cases) {
        if (c.m > 130) continue;  // the larger leave-one-out calls add nothing here
        const Fitted want = fit(c, true, lp::Path::scalar);
        for (lp::Path path : paths()) {
            const Fitted got = fit(c, true, path);
            EXPECT_TRUE(same_bits(got.mh, want.mh)) << c.title;
            EXPECT_TRUE(same_bits(got.sh, want.sh)) << c.title;
            EXPECT_EQ(got.events, want.events) << c.title;
        }
    }
}

TEST(StiffPoints, APointWhoseWeightsAllUnderflowKeepsItsLuReportAndIsRefitted)
{
    for (const stiff::Case& c : reference().cases) {
        if (c.title.find("every weight underflows") == std::string::npos) continue;
        const Fitted r = fit(c, false);
        EXPECT_EQ(r.text, "Numerical routine run-time error...\nSingular matrix in routine LUDCMP\n"
                          "...now exiting to system..?.\n"
                          "Numerical routine run-time error...\nSingular matrix in routine LUDCMP\n"
                          "...now exiting to system..?.\n");
        ASSERT_EQ(r.events[1], std::vector<lp::Event>{lp::Event::refitted});
        EXPECT_TRUE(r.events[0].empty());
        return;
    }
    FAIL() << "no case with every weight underflowing";
}

TEST(Reports, APointFailingTheConditioningTestIsRefittedWhenTheCallerGoesOn)
{
    // Observations at 0, 20, ..., 980 and a local fit in 1, x - t, (x - t)²,
    // (x - t)⁴: at t = 2000 the check sum is about 1e12. The exports end the
    // call there; the core reports the failure and fits the point from its
    // rows, and the other points are those of a call without it.
    host::Problem pr;
    for (int i = 0; i < 50; ++i) {
        pr.x.push_back(20.0 * i);
        pr.y.push_back(std::sin(0.1 * i));
    }
    pr.n = pr.nr = 50;
    pr.p = 1;
    pr.t = {300.0, 500.0, 2000.0, 700.0};
    pr.m = 4;
    pr.h = {50.0};
    pr.deg = 3;
    pr.vol = 1;
    const Fitted core = fit(pr, "dorvane", true);
    EXPECT_EQ(core.text.rfind("t: sum of off-diagonal element of invZWZ*ZWZ 2 ", 0), 0u) << core.text;
    EXPECT_EQ(core.text.find("m_out"), std::string::npos);
    ASSERT_EQ(core.events[2].size(), 2u);
    EXPECT_EQ(core.events[2][0], lp::Event::check_failed);
    EXPECT_TRUE(core.events[2][1] == lp::Event::refitted || core.events[2][1] == lp::Event::unreliable);
    EXPECT_EQ(std::isnan(core.mh[2]), core.events[2][1] == lp::Event::unreliable);

    const Fitted exports = fit(pr, "dorvane", false);
    EXPECT_NE(exports.text.find(" m_out nan\n"), std::string::npos) << exports.text;
    EXPECT_TRUE(exports.events[2].empty());

    host::Problem others = pr;
    others.t = {300.0, 500.0, 700.0};
    others.m = 3;
    const Fitted without = fit(others, "dorvane", true);
    for (int c = 0; c < core.B; ++c) {
        EXPECT_EQ(core.mh[0 + 4 * c], without.mh[0 + 3 * c]);
        EXPECT_EQ(core.mh[1 + 4 * c], without.mh[1 + 3 * c]);
        EXPECT_EQ(core.mh[3 + 4 * c], without.mh[2 + 3 * c]);
    }
}

TEST(CrossValidation, AnIsolatedObservationNoLongerMisleadsTheChoiceOfBandwidth)
{
    // Engel's data, whose top income stands far from the rest: the
    // leave-one-out scores over a grid of bandwidths from the engine and
    // from the exact fits agree, and so do their minimisers.
    const stiff::Reference& ref = reference();
    ASSERT_GE(ref.engel_cv.size(), 10u);
    const stiff::Data& d = ref.data.at("engel");
    std::size_t best = 0, best_exact = 0;
    std::vector<double> scores;
    for (const stiff::CvScore& s : ref.engel_cv) {
        host::Problem pr;
        pr.n = pr.nr = pr.m = d.n;
        pr.p = 1;
        pr.x = pr.t = d.x;
        pr.y = d.y;
        pr.h = {s.h};
        pr.nloo = 1;
        const Fitted r = fit(pr, "dorvane", false);
        double sum = 0.0;
        for (int j = 0; j < d.n; ++j) {
            const double e = d.y[j] - r.mh[j];
            sum += e * e;
        }
        const double score = std::isnan(sum) ? INFINITY : sum / d.n;
        EXPECT_LE(std::fabs(score - s.score), 1e-9 * s.score) << "h = " << s.h;
        scores.push_back(score);
        if (score < scores[best]) best = scores.size() - 1;
        if (s.score < ref.engel_cv[best_exact].score) best_exact = scores.size() - 1;
    }
    EXPECT_EQ(best, best_exact) << "the engine's scores choose h = " << ref.engel_cv[best].h << ", the exact ones "
                                << ref.engel_cv[best_exact].h;
}
