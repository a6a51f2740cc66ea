// Bad input and failed fits: a message naming what is wrong, a non-zero exit
// status, and nothing written, neither to the output file nor the picture.
// Then the README's main job and the picture when all is well.
#include <gtest/gtest.h>

#include "cli/tool.h"

namespace {

const std::string kData = LP_DATA_DIR;

struct Bad {
    std::string args;     // after "lpfit"
    std::string message;  // expected on standard error
    int status;
};

}  // namespace

TEST(BadInput, MessageNonZeroStatusAndNothingWritten)
{
    Scratch s;
    s.file("d.csv", "y,x,z,D\n1,0.1,5,0\n2,0.4,3,1\n3,0.2,8,0\n4,0.9,1,1\n5,0.5,2,0\n6,0.7,4,1\n7,0.3,9,0\n8,0.8,6,1\n");
    s.file("text.csv", "y,x\n1,0.1\n2,0.4\n3,abc\n4,0.5\n");
    s.file("na.csv", "y,x\n1,0.1\n2,\n3,0.2\n4,0.9\nNA,0.5\n6,0.7\n7,0.3\n8,0.8\n");
    s.file("dummy.csv", "y,x,D\n1,0.1,0\n2,0.4,1\n3,0.2,2\n4,0.9,1\n");
    s.file("const.csv", "y,x,D\n1,0.1,0\n2,0.4,0\n3,0.2,0\n4,0.9,0\n");
    s.file("ragged.csv", "y,x\n1,0.1\n2,0.4,7\n");
    s.file("three.csv", "y,x\n1,0.1\n2,0.4\n3,0.2\n");
    const std::string fit = "dorvane d.csv --y y --x x";
    const Bad cases[] = {
        {"dorvane nosuch.csv --y y --x x", "lpfit: nosuch.csv: cannot open: No such file or directory\n", 1},
        {"dorvane d.csv --y y --x w", "lpfit: d.csv: no column 'w' in the header\n", 1},
        {"dorvane text.csv --y y --x x", "lpfit: text.csv:4: column 2 'x': 'abc' is not a finite number\n", 1},
        {"dorvane na.csv --y y --x x",
         "lpfit: na.csv: 2 rows have a missing value (empty or NA) in the columns used, the first at line 3, column 2 'x'; "
         "leave such rows out with --drop-missing\n", 1},
        {"dorvane ragged.csv --y y --x x", "lpfit: ragged.csv:3: 3 fields, but the header has 2\n", 1},
        {"tremsal d.csv --y y --x x,z --dummies D",
         "lpfit: d.csv: 8 observations are too few for the 8 local coefficients of tremsal with deg 3; at least 9 are needed\n", 1},
        {"dorvane three.csv --y y --x x --loo",
         "lpfit: three.csv: 3 observations are too few for the 2 local coefficients of dorvane with deg 1; at least 4 are "
         "needed when one is left out\n", 1},
        {fit + " --bandwidth 0", "lpfit: --bandwidth '0' is not a positive finite number\n", 1},
        {fit + " --bandwidth=-0.5", "lpfit: --bandwidth '-0.5' is not a positive finite number\n", 1},
        {fit + " --bandwidth inf", "lpfit: --bandwidth 'inf' is not a positive finite number\n", 1},
        {fit + " --bandwidth nan", "lpfit: --bandwidth 'nan' is not a positive finite number\n", 1},
        {fit + " --bandwidth wide", "lpfit: --bandwidth 'wide' is not a positive finite number\n", 1},
        {"dorvane dummy.csv --y y --x x --dummies D", "lpfit: dummy.csv:4: column 3 'D': dummy value '2' is not 0 or 1\n", 1},
        {"dorvane const.csv --y y --x x --dummies D",
         "lpfit: const.csv: dummy 'D' is 0 for every observation, so its effect cannot be told from the level\n", 1},
        {"dorvane const.csv --y y --x D --bandwidth 1", "lpfit: const.csv: continuous regressor 'D' takes one value only\n", 1},
        {fit + " --frobnicate", "lpfit: The following argument was not expected: --frobnicate\nRun 'lpfit dorvane --help' for the options.\n", 1},
        {"frobnicate d.csv", "lpfit: unknown estimator 'frobnicate': use dorvane, tremsal, locparg or locpa2g\n", 1},
        {"locpa2g d.csv --y y --x x,z --lam 3", "lpfit: --lam 3 is outside the continuous regressors, numbered 1 to 2\n", 1},
        {"locpa2g d.csv --y y --x x,z --dummies D --lam D", "lpfit: --lam 'D' is a dummy, not a continuous regressor (they are x, z)\n", 1},
        {"locparg d.csv --y y --x x --lam 0", "lpfit: --lam 0 is outside the continuous regressors, numbered 1 to 1\n", 1},
        {fit + " --lam 1", "lpfit: The following arguments were not expected: 1 --lam\n", 1},
        {fit + " --deg 3", "lpfit: --deg 3: dorvane fits degree 1 or 2\n", 1},
        {fit + " --groups 1", "lpfit: --groups 1: give at least 2 groups\n", 1},
        {fit + " --grid 100000000", "lpfit: --grid 100000000: more than ten million points\n", 1},
        {"dorvane d.csv --returns z --lags 7", "lpfit: d.csv: 7 returns leave no observation with 7 lags\n", 1},
        {fit + " --loo --grid 5", "lpfit: --loo fits at the observations themselves; give no --at or --grid with it\n", 1},
        {fit + " --loo --nr 4", "lpfit: --loo needs nr = n = 8\n", 1},
        {fit + " --conf 0.9", "lpfit: --conf: the confidence band is that of the local linear fit (dorvane, deg 1) with one "
                              "continuous regressor, no dummies, nr = n and --vol\n", 1},
        {fit + " --vol --conf 1.5", "lpfit: --conf 1.5: give a level between 0 and 1\n", 1},
        {"dorvane d.csv --y y --x x,z", "lpfit: --plot draws a fit in one continuous regressor; this one has 2\n", 1},
        {fit + " --library nosuch.so", "lpfit: cannot load nosuch.so", 1},
        // A point with no observation near it, and a point whose conditioning test fails.
        {fit + " --bandwidth 0.01 --at near.csv", "lpfit: the fit failed at evaluation point 2 of 3 (x = 3)", 2},
        {"tremsal spread.csv --y y --x x --bandwidth 50 --at far.csv",
         "lpfit: the fit failed at evaluation point 8 of 40 (x = 2000): its local moment matrix is too ill-conditioned", 2},
    };
    s.file("near.csv", "x\n0.5\n3.0\n0.6\n");
    far_point_files(s, 7);
    s.file("out.csv", "keep\n");
    const std::vector<std::string> before = names_in(s.dir);
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.args);
        const Result r = run_lpfit(c.args + " -o out.csv --plot pic -q", s);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(slurp(s.path("out.csv")), "keep\n");
        EXPECT_EQ(names_in(s.dir), before);  // no picture, no temporary file left behind
    }
}

TEST(FailedPoint, TheLibrarysReportThenThePointByItsCoordinates)
{
    Scratch s;
    far_point_files(s, 25);
    const Result r = run_lpfit("tremsal spread.csv --y y --x x --bandwidth 50 --at far.csv --threads 3", s);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    // One call over all points numbers the point 25 (from 0), whichever slice it fell in.
    const std::size_t report = r.err.find("t: sum of off-diagonal element of invZWZ*ZWZ 25 "),
                      named = r.err.find("lpfit: the fit failed at evaluation point 26 of 40 (x = 2000)");
    EXPECT_NE(report, std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" m_out "), std::string::npos) << r.err;
    EXPECT_NE(named, std::string::npos) << r.err;
    EXPECT_LT(report, named);
}

TEST(FailedPoint, NonFiniteEstimatesAfterASingularMomentMatrix)
{
    // At x = 3 every weight underflows: the LU routine reports a singular
    // matrix. Relative to the nearest observation's weight the next one's is
    // e^-2150, so even the refit by orthogonal factors has one observation
    // for a line, and the level comes out NaN. The tool does not call that a
    // success.
    Scratch s;
    s.file("d.csv", "y,x\n1,0.1\n2,0.4\n3,0.2\n4,0.9\n5,0.5\n6,0.7\n7,0.3\n8,0.8\n");
    s.file("far.csv", "x\n0.5\n3.0\n0.6\n");
    const Result r = run_lpfit("dorvane d.csv --y y --x x --bandwidth 0.01 --at far.csv", s);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Singular matrix in routine LUDCMP"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("lpfit: the fit failed at evaluation point 2 of 3 (x = 3): its estimates are not finite"),
              std::string::npos)
        << r.err;
}

TEST(MissingValues, DroppedOnRequest)
{
    Scratch s;
    s.file("na.csv", "y,x\n1,0.1\n2,\n3,0.2\n4,0.9\nNA,0.5\n6,0.7\n7,0.3\n8,0.8\n");
    const Result r = run_lpfit("dorvane na.csv --y y --x x --drop-missing --bandwidth 0.3", s);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(parse_table(r.out).rows.size(), 6u);
}

TEST(MainJob, BundledReturnsGiveTheTableAndThePicture)
{
    Scratch s;
    const Result r = run_lpfit("dorvane " + kData + "/eustock.csv --returns DAX --groups 5 --vol --cv 12 --at " + kData +
                            "/lag1_points.csv --digits 4 --plot dax",
                        s);
    ASSERT_EQ(r.status, 0) << r.err;
    const Parsed t = parse_table(r.out);
    EXPECT_EQ(t.header, (std::vector<std::string>{"lag1", "level", "d1_lag1", "var", "var_d1_lag1", "density", "density_g1",
                                                  "density_g2", "density_g3", "density_g4", "density_g5", "ci_lower",
                                                  "ci_upper"}));
    ASSERT_EQ(t.rows.size(), 13u);
    for (const std::vector<double>& row : t.rows) {
        EXPECT_LT(row[11], row[1]);  // the band holds the mean
        EXPECT_GT(row[12], row[1]);
        EXPECT_GT(row[3], 0);  // a positive variance
    }
    EXPECT_NE(r.err.find("lpfit: least-squares cross-validation over 12 candidates (leave-one-out, n = 1858)"), std::string::npos);
    EXPECT_NE(r.err.find("<- chosen"), std::string::npos);
    EXPECT_EQ(slurp(s.path("dax.png")).substr(0, 8), "\x89PNG\r\n\x1a\n");
    const std::string svg = slurp(s.path("dax.svg"));
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_NE(svg.find("conditional mean"), std::string::npos);
    EXPECT_NE(svg.find("95% pointwise confidence band"), std::string::npos);
}

TEST(Help, SaysWhichBandwidthAndWhatBand)
{
    Scratch s;
    const Result r = run_lpfit("dorvane --help", s);
    EXPECT_EQ(r.status, 0);
    for (const char* text : {"Usage: lpfit dorvane [OPTIONS] data", "rule of thumb", "c = (4/(pc+2))^(1/(pc+4))",
                             "pointwise asymptotic interval", "smoothing bias is ignored", "Example:"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text;
}
