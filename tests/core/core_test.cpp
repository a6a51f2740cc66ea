// The fitting core through its C API: its tables against direct calls of the
// exports, threads, blocks, failed points, the statuses and the texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <cmath>
#include <limits>
#include <string>

#include "core.h"
#include "host/loader.h"
#include "support.h"

namespace {

// The argument block of a direct export call for the core's data.
host::Problem problem(const Data& d, int pc, int q, const std::vector<double>& h, const std::vector<double>& t, int m)
{
    host::Problem pr;
    const int n = static_cast<int>(d.y.size());
    pr.n = pr.nr = n;
    pr.p = pc + q;
    pr.m = m;
    pr.y = d.y;
    const std::vector<double>* cols[] = {&d.x1, &d.x2};
    for (int k = 0; k < pc; ++k) pr.x.insert(pr.x.end(), cols[k]->begin(), cols[k]->end());
    if (q > 0) pr.x.insert(pr.x.end(), d.d.begin(), d.d.end());
    pr.t = t;
    pr.t.resize(static_cast<std::size_t>(m) * (pc + q), 0.0);
    pr.h = h;
    pr.h.resize(pc + q, 0.0);
    if (q > 0) pr.h[pc + q - 1] = -pc;
    return pr;
}

struct Case {
    const char* estimator;
    int pc, q, deg;
    bool vol;
    int groups;
};

TEST(CoreTable, EqualsADirectCallOfTheExportBitForBit)
{
    const Data d(150);
    const Case cases[] = {
        {"dorvane", 1, 0, 1, true, 0}, {"dorvane", 2, 1, 2, true, 3}, {"tremsal", 1, 0, 3, true, 0},
        {"tremsal", 2, 0, 2, false, 5}, {"locparg", 2, 0, 3, true, 0}, {"locpa2g", 2, 1, 2, false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.estimator) + " pc " + std::to_string(c.pc) + " q " + std::to_string(c.q));
        const std::vector<double> h = {0.3, 0.4};
        Request s(c.estimator);
        s.y(d.y).x("x1", d.x1);
        if (c.pc > 1) s.x("x2", d.x2);
        if (c.q > 0) s.x("d", d.d, true);
        s.set("deg", static_cast<long long>(c.deg)).set("vol", c.vol ? 1LL : 0LL).set("threads", 2LL);
        s.set("bandwidth", std::vector<double>(h.begin(), h.begin() + c.pc));
        if (c.groups) s.set("groups", static_cast<long long>(c.groups)).set("phase", 2LL);
        const Fit f(s);
        ASSERT_EQ(f.status, LPC_OK) << f.message();

        const int m = static_cast<int>(d.y.size());
        std::vector<double> t(d.x1);
        if (c.pc > 1) t.insert(t.end(), d.x2.begin(), d.x2.end());
        host::Problem pr = problem(d, c.pc, c.q, std::vector<double>(h.begin(), h.begin() + c.pc), t, m);
        pr.deg = c.deg;
        pr.vol = c.vol;
        pr.lam = 1;
        if (c.groups) {
            pr.grp[0] = c.groups;
            pr.grp[1] = 2;
        }
        const host::Outcome o = call_export(c.estimator, pr);
        const int B = host::output_columns(c.estimator, pr);
        const std::vector<std::string> names = f.names();
        ASSERT_GE(names.size(), static_cast<std::size_t>(c.pc + B * (c.vol ? 2 : 1) + 1 + c.groups));
        for (int col = 0; col < B; ++col)
            for (int j = 0; j < m; ++j) {
                ASSERT_TRUE(same_bits(f.values(names[c.pc + col].c_str())[j], o.mh[j + col * m]));
                if (c.vol) {
                    ASSERT_TRUE(same_bits(f.values(names[c.pc + B + col].c_str())[j], o.sh[j + col * m]));
                }
            }
        for (int g = 0; g <= c.groups; ++g)
            for (int j = 0; j < m; ++j)
                ASSERT_TRUE(same_bits(f.values(names[c.pc + B * (c.vol ? 2 : 1) + g].c_str())[j], o.fh[j + g * m]));
    }
}

TEST(CoreTable, NamesTheColumnsAfterTheData)
{
    const Data d(60);
    Request s("locparg");
    s.y(d.y).x("a", d.x1).x("b", d.x2).x("d", d.d, true).set("lam", "b").set("vol", 1LL).set("bandwidth", 0.5);
    const Fit f(s);
    ASSERT_EQ(f.status, LPC_OK) << f.message();
    const std::vector<std::string> want = {
        "a", "b", "level", "d1_a", "d1_b", "effect_d", "d2_a", "d2_b", "d2_a_b", "c3_a_a_b", "c3_a_b_b", "c3_b_b_b",
        "var", "var_d1_a", "var_d1_b", "var_effect_d", "var_d2_a", "var_d2_b", "y2_d2_a_b", "y2_c3_a_a_b",
        "y2_c3_a_b_b", "y2_c3_b_b_b", "density"};
    EXPECT_EQ(f.names(), want);
    EXPECT_EQ(f.text("warnings"), "the conditional variance is not checked when the regressors include dummies\n");
}

TEST(CoreThreads, OneTwoAndSevenThreadsGiveTheSameBits)
{
    const Data d(400);
    for (const char* what : {"fit", "loo", "cv"}) {
        SCOPED_TRACE(what);
        auto make = [&](long long threads) {
            auto s = std::make_unique<Request>("dorvane");
            s->y(d.y).x("x1", d.x1).x("d", d.d, true).set("vol", 1LL).set("threads", threads).set("groups", 3LL);
            if (std::string(what) == "loo") s->set("loo", 1LL).set("bandwidth", 0.1);
            if (std::string(what) == "cv") s->set("cv", 5LL).set("grid", 40LL);
            return s;
        };
        const auto s1 = make(1), s2 = make(2), s7 = make(7);
        const Fit f1(*s1), f2(*s2), f7(*s7);
        ASSERT_EQ(f1.status, LPC_OK) << f1.message();
        EXPECT_TRUE(same_table(f1, f2));
        EXPECT_TRUE(same_table(f1, f7));
        EXPECT_EQ(f1.values("selection_score"), f7.values("selection_score"));
    }
}

TEST(CoreBlocks, BlocksOfPointsMakeTheWholeFit)
{
    const Data d(120);
    auto make = [&](long long from, long long to) {
        auto s = std::make_unique<Request>("tremsal");
        s->y(d.y).x("x1", d.x1).set("deg", 2LL).set("loo", 1LL).set("bandwidth", 0.2);
        if (from >= 0) s->set("from", from).set("to", to);
        return s;
    };
    const auto whole = make(-1, -1), a = make(0, 50), b = make(50, 120);
    const Fit fw(*whole), fa(*a), fb(*b);
    ASSERT_EQ(fa.status, LPC_OK) << fa.message();
    for (const char* c : {"level", "d1_x1", "d2_x1", "density"}) {
        std::vector<double> joined = fa.values(c);
        const std::vector<double> rest = fb.values(c);
        joined.insert(joined.end(), rest.begin(), rest.end());
        const std::vector<double> all = fw.values(c);
        ASSERT_EQ(joined.size(), all.size());
        for (std::size_t i = 0; i < all.size(); ++i) EXPECT_TRUE(same_bits(joined[i], all[i])) << c << " " << i;
    }
}

// Data on the integers 0 .. 9 with a small bandwidth: a point far out has
// no observation whose weight is representable next to the nearest one's.
TEST(CoreFailedPoints, ANaNRowListedAndWarnedAndTheFitGoesOn)
{
    std::vector<double> x, y;
    for (int i = 0; i < 10; ++i) x.push_back(i), y.push_back(i * i);
    Request s("dorvane");
    s.y(y).x("x", x).set("bandwidth", 0.05).set("at", std::vector<double>{0.5, -40.0, 4.5}).set("vol", 1LL);
    const Fit f(s);
    ASSERT_EQ(f.status, LPC_OK) << f.message();
    EXPECT_EQ(f.points("failed"), std::vector<long long>{1});
    EXPECT_TRUE(std::isnan(f.values("level")[1]));
    EXPECT_TRUE(std::isnan(f.values("var")[1]));
    EXPECT_DOUBLE_EQ(f.values("level")[0], 0.5);
    EXPECT_DOUBLE_EQ(f.values("level")[2], 20.5);
    const std::string tail =
        " (x = -40): its local moment matrix is singular or too ill-conditioned for a trustworthy solution; a larger "
        "bandwidth or fewer terms may help\n";
    EXPECT_EQ(f.text("warnings", 1), "the local fit is NaN at point 2" + tail);
    EXPECT_EQ(f.text("warnings", 0), "the local fit is NaN at point 1" + tail);
}

TEST(CoreStatus, EachKindOfTroubleHasItsStatusAndASentence)
{
    const Data d(40);
    struct Trouble {
        const char* what;
        int status;
        std::string message;
    };
    auto run = [&](auto tweak) {
        Request s("dorvane");
        s.y(d.y).x("x1", d.x1);
        tweak(s);
        const Fit f(s);
        return std::make_pair(f.status, f.message());
    };
    EXPECT_EQ(run([](Request& s) { s.set("deg", 3LL); }),
              std::make_pair(static_cast<int>(LPC_EINPUT), std::string("deg 3: dorvane fits degree 1 or 2")));
    EXPECT_EQ(run([](Request& s) { s.set("phase", 2LL); }),
              std::make_pair(static_cast<int>(LPC_EINPUT), std::string("phase goes with groups")));
    EXPECT_EQ(run([](Request& s) { s.set("colour", 2LL); }),
              std::make_pair(static_cast<int>(LPC_EUSAGE), std::string("no integer option is named 'colour'")));
    EXPECT_EQ(run([&](Request& s) { s.x("level", d.x2); }).second,
              "the output column 'level' would have the name of a regressor; rename the regressor");
    EXPECT_EQ(run([&](Request& s) { s.x("c", std::vector<double>(40, 2.0)); }).second,
              "continuous regressor 'c' takes one value only");
    EXPECT_EQ(run([&](Request& s) { s.x("e", std::vector<double>(40, 1.0), true); }).second,
              "dummy 'e' is 1 for every observation, so its effect cannot be told from the level");
    EXPECT_EQ(run([](Request& s) { s.set("bandwidth", "wide"); }).second,
              "bandwidth 'wide' is none of 'rot', 'cv', 'aicc', 'plugin'");
    EXPECT_EQ(run([](Request& s) { s.set("cv_grid", std::vector<double>{1e-9, 2e-9}); }),
              std::make_pair(static_cast<int>(LPC_EFAILED),
                             std::string("every candidate bandwidth fails the leave-one-out fit at some observation; "
                                         "try larger ones")));
    std::vector<double> gap = d.y;
    gap[3] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(run([&](Request& s) { s.y(gap, "v"); }).second,
              "response 'v' has 1 missing or infinite value, the first at observation 4; to leave such observations "
              "out, set missing to drop");
    Request unknown("loess");
    EXPECT_EQ(Fit(unknown).message(), "unknown estimator 'loess': use dorvane, tremsal, locparg or locpa2g");
    lpc_fit* f = nullptr;
    EXPECT_EQ(lpc_run(nullptr, nullptr, nullptr, &f), LPC_EUSAGE);
    lpc_fit_free(f);
    EXPECT_EQ(lpc_run(unknown.s, nullptr, nullptr, nullptr), LPC_EUSAGE);
}

TEST(CoreMissing, DroppedObservationsAreListedAndLeaveTheFitOfTheRest)
{
    const Data d(60);
    std::vector<double> y = d.y, x = d.x1;
    y[5] = std::numeric_limits<double>::quiet_NaN();
    x[9] = std::numeric_limits<double>::infinity();
    Request s("dorvane");
    s.y(y).x("x1", x).set("missing", "drop").set("bandwidth", 0.2).set("fitted", 1LL);
    const Fit f(s);
    ASSERT_EQ(f.status, LPC_OK) << f.message();
    EXPECT_EQ(f.points("dropped"), (std::vector<long long>{5, 9}));
    EXPECT_EQ(lpc_rows(f.f), 58u);
    EXPECT_EQ(f.values("residuals").size(), 58u);
    std::vector<double> ky, kx;
    for (int i = 0; i < 60; ++i)
        if (i != 5 && i != 9) ky.push_back(y[i]), kx.push_back(x[i]);
    Request kept("dorvane");
    kept.y(ky).x("x1", kx).set("bandwidth", 0.2).set("fitted", 1LL);
    const Fit g(kept);
    EXPECT_TRUE(same_table(f, g));
    EXPECT_NE(f.text("summary").find("2 dropped for a missing value (6 and 10)"), std::string::npos) << f.text("summary");
}

TEST(CoreProgress, RunsOnTheCallingThreadAndCancels)
{
    const Data d(3000);
    struct Seen {
        std::atomic<int> calls{0}, elsewhere{0};
        int stop_after = 1 << 30;
    };
    const auto self = std::this_thread::get_id();
    static std::thread::id caller;
    caller = self;
    auto progress = [](void* ctx, const char*, long long, long long) {
        auto* seen = static_cast<Seen*>(ctx);
        if (std::this_thread::get_id() != caller) ++seen->elsewhere;
        return ++seen->calls >= seen->stop_after ? 1 : 0;
    };
    Request s("dorvane");
    s.y(d.y).x("x1", d.x1).set("threads", 2LL);
    Seen all;
    const Fit whole(s, progress, &all);
    EXPECT_EQ(whole.status, LPC_OK);
    EXPECT_GT(all.calls, 1);
    EXPECT_EQ(all.elsewhere, 0);
    Seen early;
    early.stop_after = 1;
    const Fit cancelled(s, progress, &early);
    EXPECT_EQ(cancelled.status, LPC_ECANCELLED);
    EXPECT_EQ(lpc_rows(cancelled.f), 0u);
}

TEST(CoreOwnership, AFitOutlivesItsRequestAndKeepsItsTexts)
{
    const Data d(50);
    auto* s = new Request("dorvane");
    s->y(d.y).x("x1", d.x1).set("cv", 4LL);
    auto* f = new Fit(*s);
    delete s;
    ASSERT_EQ(f->status, LPC_OK);
    const char* header = lpc_text(f->f, "header", 1);
    EXPECT_EQ(lpc_text(f->f, "header", 1), header);  // made once, kept
    EXPECT_NE(std::string(header).find("(cross-validated)"), std::string::npos);
    EXPECT_EQ(lpc_text(f->f, "no such text", 1), nullptr);
    EXPECT_EQ(lpc_values(f->f, "no such column", nullptr), nullptr);
    EXPECT_EQ(f->values("selection_score").size(), 4u);
    delete f;
    lpc_fit_free(nullptr);
    lpc_request_free(nullptr);
}

TEST(CoreScores, ScoresComputedApartChooseAsTheWholeSelection)
{
    const Data d(80);
    const std::vector<double> grid = {0.05, 0.1, 0.2, 0.4};
    Request whole("dorvane");
    whole.y(d.y).x("x1", d.x1).set("cv_grid", grid);
    const Fit fw(whole);
    Request score("dorvane");
    score.y(d.y).x("x1", d.x1).set("cv_grid", grid).set("task", "score");
    const Fit fs(score);
    ASSERT_EQ(fs.status, LPC_OK) << fs.message();
    EXPECT_EQ(fs.values("score"), fw.values("selection_score"));
    Request chosen("dorvane");
    chosen.y(d.y).x("x1", d.x1).set("cv_grid", grid).set("cv_scores", fs.values("score"));
    const Fit fc(chosen);
    EXPECT_EQ(fc.values("bandwidth"), fw.values("bandwidth"));
    EXPECT_TRUE(same_table(fc, fw));
}

TEST(CoreGroups, GivenGroupsOfTheCyclicPatternGiveTheCyclicCells)
{
    const Data d(90);
    std::vector<double> labels;
    for (int i = 0; i < 90; ++i) labels.push_back(static_cast<double>((i + 2 - 1) % 5 + 1));
    auto make = [&](bool given) {
        auto s = std::make_unique<Request>("dorvane");
        s->y(d.y).x("x1", d.x1).set("bandwidth", 0.2).set("groups", 5LL).set("grid", 9LL);
        if (given) s->set("group_of", labels);
        else s->set("phase", 2LL);
        return s;
    };
    const auto cyclic = make(false), given = make(true);
    const Fit fc(*cyclic), fg(*given);
    ASSERT_EQ(fg.status, LPC_OK) << fg.message();
    for (const char* c : {"density_g1", "density_g3", "density_g5"}) {
        const std::vector<double> a = fc.values(c), b = fg.values(c);
        for (std::size_t j = 0; j < a.size(); ++j) EXPECT_TRUE(same_bits(a[j], b[j])) << c << " " << j;
    }
    labels[7] = 6;
    Request wrong("dorvane");
    wrong.y(d.y).x("x1", d.x1).set("groups", 5LL).set("group_of", labels);
    EXPECT_EQ(Fit(wrong).message(), "group_of: observation 8 is in group 6, beyond the 5 groups");
}

TEST(CoreApi, ValuesBeforeColumnsCandidatesBaseAndLabels)
{
    const Data d(50);
    // A regressor named like a value: the value by name, the column by index.
    Request s("dorvane");
    s.y(d.y).x("bandwidth", d.x1).set("bandwidth", 0.3).set("method", "cross-validated");
    const Fit f(s);
    ASSERT_EQ(f.status, LPC_OK) << f.message();
    EXPECT_EQ(f.values("bandwidth"), std::vector<double>{0.3});
    EXPECT_EQ(lpc_column(f.f, 0)[7], d.x1[7]);
    EXPECT_EQ(lpc_column(f.f, 99), nullptr);
    EXPECT_NE(f.text("header").find("(cross-validated)"), std::string::npos);
    std::vector<std::string> values;
    for (std::size_t k = 0; const char* n = lpc_name(f.f, "values", k); ++k) values.push_back(n);
    EXPECT_NE(std::find(values.begin(), values.end(), "bandwidth"), values.end());
    EXPECT_EQ(lpc_name(f.f, "colours", 0), nullptr);

    Request c("dorvane");
    c.y(d.y).x("x1", d.x1).set("cv", 6LL).set("task", "candidates");
    const Fit fc(c);
    ASSERT_EQ(fc.status, LPC_OK) << fc.message();
    EXPECT_EQ(fc.values("selection_h").size(), 6u);
    EXPECT_TRUE(fc.values("selection_score").empty());

    std::vector<double> gap = d.y;
    gap[4] = std::numeric_limits<double>::quiet_NaN();
    Request zero("dorvane");
    zero.y(gap).x("x1", d.x1).set("base", 0LL);
    EXPECT_NE(Fit(zero).message().find("the first at observation 4;"), std::string::npos);
}

}  // namespace
