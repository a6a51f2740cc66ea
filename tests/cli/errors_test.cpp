// Bad input: a sentence naming what is wrong, exit status 1, and nothing
// written, neither the output file nor a picture. Failed fits: exit status 2,
// with the table when the fit failed at some points and nothing when it gave
// no result. Then the README's main job, and the help.
#include <gtest/gtest.h>

#include "cli/tool.h"

namespace {

const std::string kData = LP_DATA_DIR;

struct Bad {
    std::string args;     // after "lpfit"
    std::string message;  // expected on standard error
    bool plot = true;     // also ask for a picture, which needs a single continuous regressor
};

}  // namespace

TEST(BadInput, ASentenceStatusOneAndNothingWritten)
{
    Scratch s;
    s.file("d.csv", "y,x,z,D\n1,0.1,5,0\n2,0.4,3,1\n3,0.2,8,0\n4,0.9,1,1\n5,0.5,2,0\n6,0.7,4,1\n7,0.3,9,0\n8,0.8,6,1\n");
    s.file("text.csv", "y,x\n1,0.1\n2,0.4\n3,abc\n4,0.5\n");
    s.file("na.csv", "y,x\n1,0.1\n2,\n3,0.2\n4,0.9\nNA,0.5\n6,0.7\n7,0.3\n8,0.8\n");
    s.file("dummy.csv", "y,x,D\n1,0.1,0\n2,0.4,1\n3,0.2,2\n4,0.9,1\n");
    s.file("const.csv", "y,x,D\n1,0.1,0\n2,0.4,0\n3,0.2,0\n4,0.9,0\n");
    s.file("ragged.csv", "y,x\n1,0.1\n2,0.4,7\n");
    s.file("three.csv", "y,x\n1,0.1\n2,0.4\n3,0.2\n");
    s.file("level.csv", "y,level\n1,0.1\n2,0.4\n3,0.2\n4,0.9\n");
    s.file("gap.csv", "x\n0.5\n\n0.6\nNA\n");
    s.file("days.csv", "date,y,x\n2024-01-02,1,0.1\n2024-01-03,2,0.4\n2024/01/04,3,0.2\n2024-01-05,4,0.9\n");
    s.file("prices.csv", "P\n100\n101\n-3\n104\n");
    const std::string fit = "dorvane d.csv --y y --x x";
    const Bad cases[] = {
        // The files: the tool's own reading.
        {"dorvane nosuch.csv --y y --x x", "lpfit: nosuch.csv: cannot open: No such file or directory\n"},
        {"dorvane d.csv --y y --x w", "lpfit: d.csv: no column 'w' in the header\n"},
        {"dorvane text.csv --y y --x x", "lpfit: text.csv:4: column 2 'x': 'abc' is not a number\n"},
        {"dorvane ragged.csv --y y --x x", "lpfit: ragged.csv:3: 3 fields, but the header has 2\n"},
        {"dorvane days.csv --y y --x x --date date",
         "lpfit: days.csv:4: column 1 'date': '2024/01/04' is not a date of the form yyyy-mm-dd (ISO 8601, such as "
         "2024-01-31)\n"},
        {"dorvane prices.csv --returns P", "lpfit: prices.csv:4: column 1 'P': price -3 is not positive, so it has no logarithm\n"},
        {"dorvane d.csv --returns z --lags 7", "lpfit: d.csv: 7 returns leave no observation with 7 lags\n"},
        {fit + " --at gap.csv", "lpfit: gap.csv: at: an evaluation point has a missing or infinite coordinate\n"},
        {fit + " --cv-grid nosuch.csv", "lpfit: nosuch.csv: cannot open: No such file or directory\n"},
        // The data, checked by the core.
        {"dorvane na.csv --y y --x x",
         "lpfit: response 'y' has 1 missing or infinite value, the first at observation 5; to leave such observations "
         "out, set missing to drop\n"},
        {"tremsal d.csv --y y --x x,z --dummies D",
         "lpfit: 8 observations are too few for the 8 local coefficients of tremsal with deg 3; at least 9 are needed\n",
         false},
        {"dorvane three.csv --y y --x x --loo",
         "lpfit: 3 observations are too few for the 2 local coefficients of dorvane with deg 1; at least 4 are needed when "
         "one is left out\n"},
        {"dorvane dummy.csv --y y --x x --dummies D", "lpfit: dummy 'D' is 2 at observation 3; a dummy holds 0 and 1 only\n"},
        {"dorvane const.csv --y y --x x --dummies D",
         "lpfit: dummy 'D' is 0 for every observation, so its effect cannot be told from the level\n"},
        {"dorvane const.csv --y y --x D --bandwidth 1", "lpfit: continuous regressor 'D' takes one value only\n"},
        {"dorvane level.csv --y y --x level",
         "lpfit: the output column 'level' would have the name of a regressor; rename the regressor\n"},
        {fit + ",x", "lpfit: two regressors are named 'x'\n", false},
        // The options, checked by the core.
        {fit + " --bandwidth 0", "lpfit: bandwidth 0 is not a positive finite number\n"},
        {fit + " --bandwidth=-0.5", "lpfit: bandwidth -0.5 is not a positive finite number\n"},
        {fit + " --bandwidth inf", "lpfit: bandwidth inf is not a positive finite number\n"},
        {fit + " --bandwidth nan", "lpfit: bandwidth nan is not a positive finite number\n"},
        {fit + " --bandwidth wide", "lpfit: bandwidth 'wide' is none of 'rot', 'cv', 'aicc', 'plugin'\n"},
        {fit + " --bandwidth 1,2", "lpfit: bandwidth has 2 values; give one, or one for each of the 1 continuous regressors\n"},
        {fit + " --cv 1", "lpfit: cv 1: give a count of 2 to 1000 candidates\n"},
        {fit + " --cv 0.1,-2", "lpfit: --cv 0.1,-2: cv_grid -2 is not a positive finite number\n"},
        {"locpa2g d.csv --y y --x x,z --lam 3", "lpfit: lam 3 is not among the continuous regressors, numbered 1 to 2\n",
         false},
        {"locpa2g d.csv --y y --x x,z --dummies D --lam D",
         "lpfit: lam 'D' is a dummy, not a continuous regressor; the continuous regressors are x and z\n", false},
        {"locparg d.csv --y y --x x --lam 0", "lpfit: lam 0 is not among the continuous regressors, numbered 1 to 1\n"},
        {fit + " --lam 1", "lpfit: lam goes with locparg and locpa2g, not dorvane\n"},
        {fit + " --deg 3", "lpfit: deg 3: dorvane fits degree 1 or 2\n"},
        {fit + " --groups 1", "lpfit: groups 1: give at least 2 groups\n"},
        {fit + " --phase 2", "lpfit: phase goes with groups\n"},
        {fit + " --grid 100000000", "lpfit: grid 100000000: more than ten million points\n"},
        {fit + " --loo --grid 5", "lpfit: loo fits at the observations; give no at or grid with it\n"},
        {fit + " --loo --nr 4", "lpfit: loo needs nr = n = 8\n"},
        {fit + " --nr 99", "lpfit: nr 99: give a count from 1 to n = 8\n"},
        {fit + " --vol --conf 1.5", "lpfit: conf 1.5: give a level strictly between 0 and 1\n"},
        {fit + " --ci wide", "lpfit: ci 'wide' is none of 'none', 'pointwise', 'rbc', 'uniform'\n"},
        {fit + " --se wide", "lpfit: se 'wide' is none of 'residual', 'leverage', 'loo', 'nn', 'local'\n"},
        {fit + " --missing maybe", "lpfit: missing 'maybe' is none of 'raise', 'drop'\n"},
        {fit + " --threads -1", "lpfit: threads -1: give 0 (every core) or more\n"},
        {"frobnicate d.csv", "lpfit: unknown estimator 'frobnicate': use dorvane, tremsal, locparg or locpa2g\n"},
        // The tool's own options.
        {fit + " --frobnicate", "lpfit: The following argument was not expected: --frobnicate\nRun 'lpfit dorvane --help' for the options.\n"},
        {fit + " --library Dorvane.so", "lpfit: The following arguments were not expected: Dorvane.so --library\n"},
        {fit + " --bandwidth 1,wide",
         "lpfit: --bandwidth: 'wide' is not a number; give bandwidths, one for all continuous regressors or one each, or "
         "one of rot, cv, aicc and plugin\n"},
        {fit + " --groups many", "lpfit: --groups 'many' is neither a count of groups nor weekday\n"},
        {fit + " --groups weekday", "lpfit: --groups weekday takes the groups from the dates; name their column with --date\n"},
        {fit + " --cv 3 --cv-grid d.csv", "lpfit: give either --cv or --cv-grid, not both\n"},
        {fit + " --missing raise --drop-missing",
         "lpfit: --drop-missing means --missing drop; give one of them, not --missing raise with it\n"},
        {fit + " --digits 0", "lpfit: --digits 0: give 1 to 17\n"},
        {"dorvane d.csv --returns z --y y", "lpfit: --returns makes the response and the regressors; give no --y, --x or --dummies with it\n"},
        {fit + " --lags 2", "lpfit: --lags goes with --returns\n"},
        {"dorvane d.csv --y y --x x,z", "lpfit: --plot draws a fit in one continuous regressor; this one has 2\n"},
        {fit + " -q -v", "lpfit: --quiet excludes --verbose\n"},
        {fit + " --scores no/such/dir.csv", "lpfit: no/such/dir.csv: cannot write: No such file or directory\n"},
    };
    s.file("out.csv", "keep\n");
    const std::vector<std::string> before = names_in(s.dir);
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.args);
        const Result r = run_lpfit(c.args + " -o out.csv" + (c.plot ? " --plot pic" : ""), s);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(slurp(s.path("out.csv")), "keep\n");
        EXPECT_EQ(names_in(s.dir), before);  // no picture, no temporary file left behind
    }
}

TEST(FailedFit, EveryCandidateFailingIsStatusTwoAndNothingWritten)
{
    Scratch s;
    s.file("d.csv", "y,x\n1,0\n2,1\n3,2\n4,3\n5,4\n6,5\n7,6\n8,7\n");
    s.file("tiny.csv", "x\n1e-9\n2e-9\n");
    s.file("out.csv", "keep\n");
    const Result r = run_lpfit("dorvane d.csv --y y --x x --cv-grid tiny.csv -o out.csv --scores scores.csv", s);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "lpfit: every candidate bandwidth fails the leave-one-out fit at some observation; try larger ones\n");
    EXPECT_EQ(slurp(s.path("out.csv")), "keep\n");
    EXPECT_EQ(names_in(s.dir), (std::vector<std::string>{"d.csv", "out.csv", "tiny.csv"}));
}

TEST(MainJob, TheReadmesFirstCommandGivesTheTableAndThePictures)
{
    Scratch s;
    const Result r = run_lpfit("dorvane " + kData + "/eustock.csv --returns DAX --groups 5 --vol --bandwidth cv --at " +
                                   kData + "/lag1_points.csv --digits 4 --plot dax",
                               s);
    ASSERT_EQ(r.status, 0) << r.err;
    const Parsed t = parse_table(r.out);
    const std::vector<std::string> want = {"lag1", "level", "d1_lag1", "var", "var_d1_lag1", "density", "density_g1",
                                           "density_g2", "density_g3", "density_g4", "density_g5"};
    ASSERT_GE(t.header.size(), want.size());
    EXPECT_EQ(std::vector<std::string>(t.header.begin(), t.header.begin() + 11), want);
    ASSERT_EQ(t.rows.size(), 13u);
    for (const std::vector<double>& row : t.rows) EXPECT_GT(row[3], 0);  // a positive variance
    EXPECT_NE(r.err.find("lpfit: dorvane: local linear fit, n = 1858, 13 evaluation points\n"
                         "lpfit: bandwidth: lag1 = "),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("(cross-validated)\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("lpfit: least-squares cross-validation score minimised over log h: lag1 = "), std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("lpfit: wrote dax.svg and dax.png\nlpfit: wrote dax-criterion.svg and dax-criterion.png\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(slurp(s.path("dax.png")).substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(slurp(s.path("dax-criterion.png")).substr(0, 8), "\x89PNG\r\n\x1a\n");
    const std::string svg = slurp(s.path("dax.svg"));
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_NE(svg.find("conditional mean"), std::string::npos);
    EXPECT_NE(svg.find("group 5"), std::string::npos);
    EXPECT_NE(slurp(s.path("dax-criterion.svg")).find("chosen h = "), std::string::npos);
}

TEST(Help, SaysWhatTheOptionsTakeAndWhatTheExitStatusesMean)
{
    Scratch s;
    const Result r = run_lpfit("dorvane --help", s);
    EXPECT_EQ(r.status, 0);
    for (const char* text : {"Usage: lpfit dorvane [OPTIONS] data", "rot (the normal-reference rule of thumb, the default)",
                             "r(t) = log(P(t)) - log(P(t-1))", "diff(log(P))", "--groups weekday", "--cv-grid FILE",
                             "rbc (robust bias-corrected, what --ci alone asks for)", "--missing drop", "Exit status: 0",
                             "Example:", "1 or 2 (default 1)"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text;
    EXPECT_NE(run_lpfit("tremsal --help", s).out.find("1 to 3 (default 3)"), std::string::npos);
}
