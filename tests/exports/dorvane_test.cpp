// dorvane through the host layer, loaded from the real Dorvane.so: exact
// reproduction of polynomials, agreement with an independent weighted
// least-squares computation, leave-one-out, groups, messages, refusals, and
// calls from two threads at once.
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <regex>

#include "exports/oracle.h"
#include "exports/problems.h"
#include "support.h"

namespace {

host::Outcome run(const host::Problem& pr, double fill = -777.0)
{
    return call_export("dorvane", pr, fill);
}

const char kWarning[] =
    "WARNING: The estimation of the\ncond. volatility function is not\nchecked if the regressor matrix\n"
    "contains dummies \n";
const char kLooRefusal[] =
    "You cannot use leave one out (nloo=1) since you do not compute\nthe function at the observed values\n";

bool all_equal(const std::vector<double>& v, double value)
{
    for (double e : v)
        if (e != value) return false;
    return true;
}

}  // namespace

TEST(LocalLinear, ReproducesALineForAnyBandwidth)
{
    for (double h : {0.05, 0.3, 5.0}) {
        host::Problem pr = exact_problem(40, {-0.5, 0.0, 0.25, 0.9}, h, [](double x) { return 2.0 - 3.0 * x; });
        const host::Outcome out = run(pr);
        EXPECT_EQ(out.ret, 0);
        EXPECT_EQ(out.printed, "");
        for (int j = 0; j < 4; ++j) {
            EXPECT_NEAR(out.mh[j], 2.0 - 3.0 * pr.t[j], 1e-12) << "h = " << h;
            EXPECT_NEAR(out.mh[j + 4], -3.0, 1e-10) << "h = " << h;
        }
        EXPECT_TRUE(all_equal(out.sh, -777.0));  // vol = 0: sh untouched
    }
}

TEST(LocalLinear, QuadraticTermsReproduceAParabola)
{
    host::Problem pr = exact_problem(50, {-0.4, 0.1, 0.7}, 0.3, [](double x) { return 1.0 + 0.5 * x - 2.0 * x * x; });
    pr.deg = 2;
    const host::Outcome out = run(pr);
    for (int j = 0; j < 3; ++j) {
        const double t = pr.t[j];
        EXPECT_NEAR(out.mh[j], 1.0 + 0.5 * t - 2.0 * t * t, 1e-11);
        EXPECT_NEAR(out.mh[j + 3], 0.5 - 4.0 * t, 1e-9);
        EXPECT_NEAR(out.mh[j + 6], -4.0, 1e-7);
    }
}

TEST(LocalLinear, ConstantResponseHasNoVariance)
{
    host::Problem pr = exact_problem(30, {-0.3, 0.2}, 0.4, [](double) { return 5.0; });
    pr.vol = 1;
    const host::Outcome out = run(pr);
    for (int j = 0; j < 2; ++j) {
        EXPECT_NEAR(out.mh[j], 5.0, 1e-12);
        EXPECT_NEAR(out.mh[j + 2], 0.0, 1e-10);
        EXPECT_NEAR(out.sh[j], 0.0, 1e-10);
        EXPECT_NEAR(out.sh[j + 2], 0.0, 1e-9);
    }
}

namespace {

struct Case {
    int p, pc, deg, vol, nloo;
    double K, phase;
    int nr;  // 0: n
};

}  // namespace

TEST(LocalLinear, MatchesIndependentWeightedLeastSquares)
{
    const Case cases[] = {
        {1, 1, 1, 0, 0, 0, 0, 0},   {1, 1, 1, 1, 0, 0, 0, 0}, {1, 1, 2, 1, 0, 5, 1, 0},
        {1, 1, 3, 1, 2, 0, 0, 0},   {2, 2, 1, 1, 0, 3, 2, 0}, {2, 2, 2, 1, 0, 2.5, 1, 0},
        {2, 1, 1, 1, 0, 0, 0, 0},   {3, 2, 2, 1, 0, 4, 3, 0}, {3, 3, 1, 0, 0, 0, 0, 50},
        {3, 3, 2, 1, 0, 0, 0, 0},   {3, 1, 2, 1, 0, 0, 0, 30}, {2, 2, 3, 1, 0, 0, 0, 0},
    };
    unsigned seed = 1;
    for (const Case& c : cases) {
        host::Problem pr = random_problem(120, c.p, c.pc, 7, seed++);
        pr.deg = c.deg;
        pr.vol = c.vol;
        pr.nloo = c.nloo;
        pr.grp[0] = c.K;
        pr.grp[1] = c.phase;
        if (c.nr) pr.nr = c.nr;
        SCOPED_TRACE(testing::Message() << "p=" << c.p << " pc=" << c.pc << " deg=" << c.deg << " vol=" << c.vol
                                        << " nloo=" << c.nloo << " K=" << c.K << " nr=" << pr.nr);
        const host::Outcome out = run(pr);
        const Expected want = oracle("dorvane", pr);
        const int m = static_cast<int>(pr.m);
        EXPECT_LT(worst_relative_error(out.mh, want.mh, m, want.B), 1e-8);
        EXPECT_LT(worst_relative_error(out.fh, want.fh, m, static_cast<int>(want.fh.size()) / m), 1e-12);
        if (c.vol)
            EXPECT_LT(worst_relative_error(out.sh, want.sh, m, want.B), 1e-8);
        else
            EXPECT_TRUE(all_equal(out.sh, -777.0));
        std::string lines;
        if (c.vol && c.pc < c.p)
            for (int j = 0; j < m; ++j) lines += kWarning;
        EXPECT_EQ(out.printed, lines);
    }
}

TEST(LocalLinear, HalfTheInterceptSumsDoubleTheLevelsAndSlopes)
{
    host::Problem pr = random_problem(80, 2, 2, 4, 21);
    pr.vol = 1;
    const host::Outcome full = run(pr);
    pr.nr = 40;
    const host::Outcome half = run(pr);
    const Expected want = oracle("dorvane", pr);
    EXPECT_LT(worst_relative_error(half.mh, want.mh, 4, 3), 1e-8);
    EXPECT_LT(worst_relative_error(half.sh, want.sh, 4, 3), 1e-8);
    EXPECT_EQ(half.fh, full.fh);  // the density covers all observations
}

TEST(LeaveOneOut, EqualsTheFitWithoutThatObservation)
{
    host::Problem pr = random_problem(60, 2, 2, 60, 5);
    pr.t = pr.x;  // evaluation point j is observation j
    pr.nloo = 1;
    pr.vol = 1;
    pr.deg = 2;
    const host::Outcome loo = run(pr);
    ASSERT_EQ(loo.printed, "");
    for (int j : {0, 17, 59}) {
        host::Problem drop = pr;
        drop.nloo = 0;
        drop.n = drop.nr = 59;
        drop.m = 1;
        drop.x.clear();
        drop.y.clear();
        for (int k = 0; k < 2; ++k)
            for (int i = 0; i < 60; ++i)
                if (i != j) drop.x.push_back(pr.x[i + k * 60]);
        for (int i = 0; i < 60; ++i)
            if (i != j) drop.y.push_back(pr.y[i]);
        drop.t = {pr.x[j], pr.x[j + 60]};
        const host::Outcome one = run(drop);
        for (int c = 0; c < 5; ++c) {
            EXPECT_NEAR(loo.mh[j + c * 60], one.mh[c], 1e-11 * (1 + std::fabs(one.mh[c]))) << j << "," << c;
            EXPECT_NEAR(loo.sh[j + c * 60], one.sh[c], 1e-11 * (1 + std::fabs(one.sh[c]))) << j << "," << c;
        }
        EXPECT_NEAR(loo.fh[j], one.fh[0], 1e-14 * one.fh[0]);
    }
}

TEST(LeaveOneOut, AnyOtherValueIsAnOrdinaryFit)
{
    host::Problem pr = random_problem(50, 1, 1, 5, 8);
    const host::Outcome plain = run(pr);
    pr.nloo = 2;
    const host::Outcome two = run(pr);
    EXPECT_EQ(plain.mh, two.mh);
    EXPECT_EQ(plain.fh, two.fh);
}

TEST(LeaveOneOut, RefusedUnlessEvaluatedAtTheObservations)
{
    host::Problem pr = random_problem(50, 1, 1, 5, 8);
    pr.nloo = 1;
    pr.nr = 49;
    const host::Outcome out = run(pr);
    EXPECT_EQ(out.ret, 0);
    EXPECT_EQ(out.printed, kLooRefusal);
    EXPECT_TRUE(all_equal(out.mh, -777.0));
    EXPECT_TRUE(all_equal(out.fh, 0.0));
}

TEST(ConditioningTest, FailureAtThirdPointEndsTheCall)
{
    std::vector<double> t(20, 400.0);
    t[0] = 300.0;
    t[1] = 500.0;
    t[2] = 2000.0;
    const host::Outcome out = run(extrapolated(t));
    EXPECT_EQ(out.ret, 0);
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(out.printed, parts,
                                 std::regex("t: sum of off-diagonal element of invZWZ\\*ZWZ 2 (\\S+) \n m_out nan\n")))
        << out.printed;
    EXPECT_GT(std::stod(parts[1]), 1e9);
    // m·B = 80 entries: the first n = 50 in storage order are NaN; of the
    // rest, points 0 and 1 of column 3 keep their values and the others
    // stay untouched.
    for (int k = 0; k < 50; ++k) EXPECT_TRUE(std::isnan(out.mh[k])) << k;
    for (int k = 50; k < 80; ++k) {
        if (k == 60 || k == 61)
            EXPECT_TRUE(std::isfinite(out.mh[k]) && out.mh[k] != -777.0) << k;
        else
            EXPECT_EQ(out.mh[k], -777.0) << k;
    }
    // Points 0..2 have their densities, later points none.
    for (int j = 0; j < 3; ++j) EXPECT_GT(out.fh[j], 0.0) << j;
    for (int j = 3; j < 20; ++j) EXPECT_EQ(out.fh[j], 0.0) << j;
}

TEST(ConditioningTest, NaNMarksNeverRunPastTheOutputs)
{
    // m·B = 4 entries, fewer than n = 50.
    const host::Outcome out = run(extrapolated({2000.0}));
    ASSERT_EQ(out.mh.size(), 4u);
    for (double v : out.mh) EXPECT_TRUE(std::isnan(v)) << out.printed;
}

TEST(ConditioningTest, ZeroRowsAreReportedAndNaNPasses)
{
    // All observations at the evaluation point: the slope rows of the moment
    // matrix are zero, the check sum is NaN, and NaN reaches the outputs.
    host::Problem pr = random_problem(30, 2, 2, 1, 3);
    pr.x.assign(60, 0.5);
    pr.t = {0.5, 0.5};
    const host::Outcome out = run(pr);
    const std::string report =
        "Numerical routine run-time error...\nSingular matrix in routine LUDCMP\n...now exiting to system..?.\n";
    EXPECT_EQ(out.printed, report + report);
    EXPECT_TRUE(std::isnan(out.mh[0]));
}

TEST(DummyWarning, OncePerPointWithVolatility)
{
    host::Problem pr = random_problem(60, 2, 1, 3, 4);
    ASSERT_EQ(pr.h[1], -1.0);
    pr.vol = 1;
    EXPECT_EQ(run(pr).printed, std::string(kWarning) + kWarning + kWarning);
    pr.vol = 0;
    EXPECT_EQ(run(pr).printed, "");
}

TEST(DummyWarning, DummyColumnsOfTAreNeverRead)
{
    host::Problem pr = random_problem(60, 3, 2, 3, 6);
    const host::Outcome a = run(pr);
    for (int j = 0; j < 3; ++j) pr.t[j + 2 * 3] = NAN;
    const host::Outcome b = run(pr);
    EXPECT_EQ(a.mh, b.mh);
    EXPECT_EQ(a.fh, b.fh);
}

TEST(DorvaneCall, NoEvaluationPointsIsANoOp)
{
    host::Problem pr = random_problem(20, 1, 1, 0, 2);
    const host::Outcome out = run(pr);
    EXPECT_EQ(out.ret, 0);
    EXPECT_EQ(out.printed, "");
}

TEST(DorvaneCall, ZeroBandwidthFlowsAsNaN)
{
    host::Problem pr = random_problem(20, 1, 1, 2, 2);
    pr.h = {0.0};
    const host::Outcome out = run(pr);
    EXPECT_EQ(out.ret, 0);
    EXPECT_TRUE(std::isnan(out.fh[0]));
}

TEST(DorvaneCall, LinesReachTheHostBeforeTheCallReturns)
{
    // Standard output goes to a file; its contents are read without any flush
    // on the host's side.
    host::Problem pr = random_problem(20, 1, 1, 1, 2);
    pr.nloo = 1;
    pr.nr = 10;
    std::vector<double> mh(2), sh(2), fh(1);
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fflush(stdout);
    const int saved = dup(1);
    dup2(fileno(file), 1);
    host::invoke(deliverable("dorvane"), "dorvane", pr, mh.data(), sh.data(), fh.data());
    char buf[256] = {};
    lseek(fileno(file), 0, SEEK_SET);
    const int got = static_cast<int>(read(fileno(file), buf, sizeof buf - 1));
    dup2(saved, 1);
    close(saved);
    std::fclose(file);
    EXPECT_EQ(std::string(buf, got > 0 ? got : 0), kLooRefusal);
}

TEST(DorvaneCall, InputsAreNeverWritten)
{
    host::Problem pr = random_problem(40, 2, 2, 3, 12);
    pr.vol = 1;
    host::Problem copy = pr;
    std::vector<double> mh(9), sh(9), fh(3);
    host::invoke(deliverable("dorvane"), "dorvane", pr, mh.data(), sh.data(), fh.data());
    EXPECT_EQ(pr.x, copy.x);
    EXPECT_EQ(pr.y, copy.y);
    EXPECT_EQ(pr.t, copy.t);
    EXPECT_EQ(pr.h, copy.h);
}

TEST(DorvaneCall, TwoThreadsAtOnceGiveTheSequentialResults)
{
    host::Problem a = random_problem(300, 2, 2, 20, 31), b = random_problem(250, 3, 3, 25, 32);
    a.vol = b.vol = 1;
    b.deg = 2;
    a.grp[0] = 5, a.grp[1] = 1;
    auto raw = [](host::Problem pr, std::vector<double>& mh, std::vector<double>& fh) {
        const int B = host::output_columns("dorvane", pr);
        mh.assign(pr.m * B, 0.0);
        std::vector<double> sh(pr.m * B);
        fh.assign(host::density_size(pr), 0.0);
        for (int rep = 0; rep < 5; ++rep) {
            std::fill(fh.begin(), fh.end(), 0.0);
            host::invoke(deliverable("dorvane"), "dorvane", pr, mh.data(), sh.data(), fh.data());
        }
    };
    std::vector<double> mha, fha, mhb, fhb;
    {
        auto fa = [&] { raw(a, mha, fha); };
        auto fb = [&] { raw(b, mhb, fhb); };
        TestThread<decltype(fa)> ta(fa);
        TestThread<decltype(fb)> tb(fb);
    }
    const host::Outcome sa = run(a), sb = run(b);
    EXPECT_EQ(mha, sa.mh);
    EXPECT_EQ(fha, sa.fh);
    EXPECT_EQ(mhb, sb.mh);
    EXPECT_EQ(fhb, sb.fh);
}
