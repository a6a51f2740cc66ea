// Fits split across threads leave exactly what one call leaves: the outputs
// bit for bit, the library's text in point order, the first failing point of
// the whole fit, a refusal once. Cross-validation scores do not depend on the
// number of threads and a failing candidate scores +inf.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "cli/tool.h"
#include "exports/problems.h"
#include "host/fit.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

void expect_same(const std::vector<double>& a, const std::vector<double>& b, const char* what)
{
    ASSERT_EQ(a.size(), b.size()) << what;
    for (std::size_t e = 0; e < a.size(); ++e)
        if (!same_bits(a[e], b[e])) {
            ADD_FAILURE() << what << "[" << e << "]: " << a[e] << " != " << b[e];
            return;
        }
}

// fit() with 1, 2 and 7 threads against one direct call of the export.
void expect_one_call(const host::Library& lib, const std::string& name, const host::Problem& pr)
{
    const host::Outcome one = host::call(lib, name, pr, kNaN);
    long j = -1;
    double S = 0;
    const bool failed = lpfit::failure_in(one.printed, j, S);
    for (int threads : {1, 2, 7}) {
        SCOPED_TRACE(name + " with " + std::to_string(threads) + " threads");
        const lpfit::Call split = lpfit::fit(lib, name, pr, threads);
        expect_same(split.mh, one.mh, "mh");
        expect_same(split.sh, one.sh, "sh");
        expect_same(split.fh, one.fh, "fh");
        EXPECT_EQ(split.printed, one.printed);
        EXPECT_EQ(split.refused, lpfit::refusal_in(one.printed));
        EXPECT_EQ(split.failed, failed ? j : -1);
    }
}

}  // namespace

TEST(SplitFit, EqualsOneCallForEveryEstimator)
{
    host::Problem pr = random_problem(90, 2, 2, 23, 11);
    pr.vol = 1;
    pr.grp[0] = 5;
    pr.grp[1] = 2;
    expect_one_call(dorvane_so(), "dorvane", pr);
    // More points than one slice takes, on any number of threads.
    expect_one_call(dorvane_so(), "dorvane", random_problem(40, 1, 1, 700, 12));

    pr.deg = 2;
    pr.lam = 2;
    expect_one_call(tremsal_so(), "locpa2g", pr);
    pr.deg = 3;
    expect_one_call(tremsal_so(), "locparg", pr);
    expect_one_call(tremsal_so(), "tremsal", pr);
}

TEST(SplitFit, WarningsAtEveryPointArriveInPointOrder)
{
    // The conditional variance with a dummy prints a warning at every point.
    host::Problem pr = random_problem(70, 2, 1, 11, 3);
    pr.vol = 1;
    pr.deg = 3;
    expect_one_call(tremsal_so(), "tremsal", pr);
    EXPECT_NE(lpfit::fit(tremsal_so(), "tremsal", pr, 7).printed.find("WARNING"), std::string::npos);
}

TEST(SplitFit, FirstFailingPointOfTheWholeFitAsOneCallReportsIt)
{
    // A local fit with a quartic column far beyond the data, at point 13, is
    // too ill-conditioned to invert; so is point 17.
    std::vector<double> t;
    for (int j = 0; j < 20; ++j) t.push_back(100.0 + 40.0 * j);
    host::Problem pr = extrapolated(t);
    pr.t[13] = 2000.0;
    pr.t[17] = 2500.0;
    pr.vol = 1;
    const host::Outcome one = host::call(dorvane_so(), "dorvane", pr, kNaN);
    long j = -1;
    double S = 0;
    ASSERT_TRUE(lpfit::failure_in(one.printed, j, S)) << one.printed;
    ASSERT_EQ(j, 13);
    expect_one_call(dorvane_so(), "dorvane", pr);
    // Also when the failing point opens the fit, and with more observations
    // than entries in mh, which the NaN marks then fill.
    pr.t[0] = 2200.0;
    expect_one_call(dorvane_so(), "dorvane", pr);
    pr.t[0] = 100.0;
    pr.m = 5;
    pr.t.resize(5);
    pr.t[4] = 2000.0;
    expect_one_call(dorvane_so(), "dorvane", pr);
}

TEST(SplitFit, RefusalIsReportedOnceWithOutputsUntouched)
{
    host::Problem pr = random_problem(40, 2, 2, 9, 8);
    pr.deg = 3;
    pr.lam = 0;
    expect_one_call(tremsal_so(), "locparg", pr);
    EXPECT_TRUE(lpfit::fit(tremsal_so(), "locparg", pr, 7).refused);
}

TEST(CrossValidation, ScoresDoNotDependOnThreadsAndAFailureScoresInfinity)
{
    host::Problem pr = random_problem(50, 1, 1, 50, 9);
    pr.t = pr.x;
    pr.nloo = 1;
    const std::vector<std::vector<double>> hs = {{1e-4}, {0.05}, {0.1}, {0.3}};
    const std::vector<lpfit::Score> one = lpfit::cv_scores(dorvane_so(), "dorvane", pr, hs, 1);
    const std::vector<lpfit::Score> many = lpfit::cv_scores(dorvane_so(), "dorvane", pr, hs, 3);
    ASSERT_EQ(many.size(), hs.size());
    for (std::size_t k = 0; k < hs.size(); ++k) {
        EXPECT_TRUE(same_bits(one[k].value, many[k].value)) << k;
        EXPECT_EQ(one[k].printed, many[k].printed) << k;
    }
    EXPECT_EQ(one[0].value, HUGE_VAL);
    EXPECT_NE(one[0].printed, "");
    for (std::size_t k = 1; k < hs.size(); ++k) {
        EXPECT_TRUE(std::isfinite(one[k].value));
        EXPECT_EQ(one[k].printed, "");
    }
}
