// The lpfit binary as a user runs it, against the core called directly and
// against direct calls of the exports: the table bit for bit, thread counts,
// failed and singular points, nr < n, grids, two regressors with a dummy,
// cross-validation, leave-one-out past a failed point, log returns, weekday
// groups, missing values and the messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "cli/data.h"
#include "cli/tool.h"
#include "core/core.h"

namespace {

const std::string kData = LP_DATA_DIR;

// Two doubles that are the same value: the same bits, or both NaN (a NaN read
// back from the table has the bits of the reader's NaN).
bool same_value(double a, double b) { return (std::isnan(a) && std::isnan(b)) || same_bits(a, b); }

void expect_bits(const std::vector<double>& got, const std::vector<double>& want, const std::string& what)
{
    ASSERT_EQ(got.size(), want.size()) << what;
    for (std::size_t j = 0; j < got.size(); ++j)
        EXPECT_TRUE(same_value(got[j], want[j])) << what << " row " << j << ": " << got[j] << " != " << want[j];
}

// Column c (m values) of a column-major output array.
std::vector<double> part(const std::vector<double>& a, std::size_t c, std::size_t m)
{
    return std::vector<double>(a.begin() + static_cast<std::ptrdiff_t>(c * m), a.begin() + static_cast<std::ptrdiff_t>((c + 1) * m));
}

// Every column of the tool's table equals the core's, names and order included.
void expect_table(const Parsed& t, const Fit& core)
{
    ASSERT_EQ(core.status, LPC_OK) << core.message();
    ASSERT_EQ(t.header, core.names());
    for (const std::string& c : t.header) expect_bits(column(t, c), core.values(c.c_str()), c);
}

std::vector<double> file_column(const std::string& path, const std::string& name)
{
    std::size_t rows = 0;
    return lpfit::read_columns(path, {name}, "rows", rows);
}

// The motorcycle data, as the export takes it.
host::Problem mcycle()
{
    host::Problem pr;
    pr.x = file_column(kData + "/mcycle.csv", "times");
    pr.y = file_column(kData + "/mcycle.csv", "accel");
    pr.n = pr.nr = static_cast<double>(pr.y.size());
    pr.p = 1;
    return pr;
}

std::string csv_of(const std::string& header, const std::vector<std::vector<double>>& columns)
{
    std::string csv = header + "\n";
    for (std::size_t i = 0; i < columns[0].size(); ++i) {
        for (std::size_t k = 0; k < columns.size(); ++k) {
            char cell[40];
            std::snprintf(cell, sizeof cell, "%s%.17g", k ? "," : "", columns[k][i]);
            csv += cell;
        }
        csv += "\n";
    }
    return csv;
}

// Two continuous regressors and a dummy.
struct Synthetic {
    std::vector<double> x1, x2, D, y;
    Synthetic()
    {
        for (int i = 0; i < 120; ++i) {
            x1.push_back(std::fmod(0.37 * i, 1.0));
            x2.push_back(std::fmod(0.61 * i + 0.2, 1.0));
            D.push_back(i % 3 == 0 ? 1 : 0);
            y.push_back(std::sin(3 * x1.back()) + x2.back() * x2.back() + 0.5 * D.back() + 0.1 * std::cos(17.0 * i));
        }
    }
    std::string file(const Scratch& s) const { return s.file("syn.csv", csv_of("x1,x2,D,y", {x1, x2, D, y})); }
    host::Problem problem(const std::vector<double>& t, std::size_t m) const
    {
        host::Problem pr;
        pr.x = x1;
        pr.x.insert(pr.x.end(), x2.begin(), x2.end());
        pr.x.insert(pr.x.end(), D.begin(), D.end());
        pr.y = y;
        pr.n = pr.nr = static_cast<double>(y.size());
        pr.p = 3;
        pr.t = t;
        pr.t.resize(3 * m, 0.0);
        pr.m = static_cast<double>(m);
        return pr;
    }
};

// Data on the integers 0 .. 9 (y = x²) with a small bandwidth: at x = -40 no
// observation has a weight that is not zero, and the moment matrix is singular.
std::string integers(const Scratch& s)
{
    std::vector<double> x, y;
    for (int i = 0; i < 10; ++i) x.push_back(i), y.push_back(i * i);
    return s.file("ints.csv", csv_of("x,y", {x, y}));
}

}  // namespace

TEST(Table, EqualsTheCoreAndADirectExportCallBitForBit)
{
    Scratch s;
    host::Problem pr = mcycle();
    pr.t = {2.4, 10.5, 15.0, 21.25, 30.0, 44.4, 57.6};
    pr.m = static_cast<double>(pr.t.size());
    pr.h = {2.5};
    pr.grp[0] = 3;
    pr.grp[1] = 2;
    pr.vol = 1;
    const Result r = run_lpfit("dorvane " + kData + "/mcycle.csv --y accel --x times --vol --groups 3 --phase 2 "
                               "--bandwidth 2.5 --at " + s.file("at.csv", csv_of("times", {pr.t})) + " -q",
                               s);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const Parsed t = parse_table(r.out);

    Request core("dorvane");
    core.y(pr.y, "accel").x("times", pr.x).set("vol", 1LL).set("groups", 3LL).set("phase", 2LL).set("bandwidth", 2.5).set("at", pr.t);
    expect_table(t, Fit(core));

    const host::Outcome one = call_export("dorvane", pr);
    const std::size_t m = pr.t.size();
    expect_bits(column(t, "times"), pr.t, "times");
    expect_bits(column(t, "level"), part(one.mh, 0, m), "level");
    expect_bits(column(t, "d1_times"), part(one.mh, 1, m), "d1_times");
    expect_bits(column(t, "var"), part(one.sh, 0, m), "var");
    expect_bits(column(t, "var_d1_times"), part(one.sh, 1, m), "var_d1_times");
    expect_bits(column(t, "density"), part(one.fh, 0, m), "density");
    for (int g = 1; g <= 3; ++g) expect_bits(column(t, "density_g" + std::to_string(g)), part(one.fh, g, m), "group");
}

TEST(Table, TwoRegressorsAndADummyInEveryEstimatorOfTremsal)
{
    Scratch s;
    const Synthetic syn;
    const std::string data = syn.file(s);
    const std::vector<double> t = {0.2, 0.5, 0.8, 0.3, 0.6, 0.4};
    host::Problem pr = syn.problem(t, 3);
    pr.h = {0.3, 0.4, -2};
    pr.vol = 1;
    const std::string at = s.file("at.csv", "x2,x1\n0.3,0.2\n0.6,0.5\n0.4,0.8\n");
    struct Case {
        std::string est, args;
        double deg, lam;
        std::size_t B;
    };
    const Case cases[] = {{"tremsal", "", 3, 0, 8}, {"locparg", " --lam x2", 3, 2, 10}, {"locpa2g", " --lam 1", 2, 1, 7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.est);
        pr.deg = c.deg;
        pr.lam = c.lam;
        const Result r =
            run_lpfit(c.est + " " + data + " --y y --x x1,x2 --dummies D --bandwidth 0.3,0.4 --vol --at " + at + c.args, s);
        ASSERT_EQ(r.status, 0) << r.err;
        const Parsed table = parse_table(r.out);
        Request core(c.est.c_str());
        core.y(syn.y).x("x1", syn.x1).x("x2", syn.x2).x("D", syn.D, true).set("vol", 1LL);
        core.set("bandwidth", std::vector<double>{0.3, 0.4}).set("at", t);
        if (c.lam > 0) core.set("lam", static_cast<long long>(c.lam));
        expect_table(table, Fit(core));
        const host::Outcome one = call_export(c.est, pr);
        ASSERT_EQ(table.header.size(), 2 + 2 * c.B + 1);
        for (std::size_t k = 0; k < c.B; ++k) {
            expect_bits(column(table, table.header[2 + k]), part(one.mh, k, 3), table.header[2 + k]);
            expect_bits(column(table, table.header[2 + c.B + k]), part(one.sh, k, 3), table.header[2 + c.B + k]);
        }
        // The library warns at every point; the tool says it once.
        EXPECT_EQ(lines_starting(r.err, "lpfit: warning: the conditional variance is not checked when the regressors "
                                        "include dummies"),
                  1u)
            << r.err;
        EXPECT_EQ(r.err.find("library: the conditional variance"), std::string::npos) << r.err;
        // -v: every line as the library wrote it, four at each point.
        const Result v = run_lpfit(c.est + " " + data + " --y y --x x1,x2 --dummies D --bandwidth 0.3,0.4 --vol --at " + at +
                                       c.args + " -v",
                                   s);
        EXPECT_EQ(lines_starting(v.err, "WARNING: The estimation of the"), 3u) << v.err;
        EXPECT_EQ(v.out, r.out);
    }
}

TEST(Table, NrBelowNAndAGridAsTheCoreAndTheExportGiveThem)
{
    Scratch s;
    host::Problem pr = mcycle();
    const Result r = run_lpfit("dorvane " + kData + "/mcycle.csv --y accel --x times --nr 60 --bandwidth 3 --grid 9 --deg 2", s);
    ASSERT_EQ(r.status, 0) << r.err;
    const Parsed t = parse_table(r.out);
    Request core("dorvane");
    core.y(pr.y, "accel").x("times", pr.x).set("nr", 60LL).set("bandwidth", 3.0).set("grid", 9LL).set("deg", 2LL);
    expect_table(t, Fit(core));
    // The grid runs from the least to the greatest observation.
    const std::vector<double> times = column(t, "times");
    ASSERT_EQ(times.size(), 9u);
    EXPECT_EQ(times.front(), *std::min_element(pr.x.begin(), pr.x.end()));
    EXPECT_EQ(times.back(), *std::max_element(pr.x.begin(), pr.x.end()));
    pr.nr = 60;
    pr.deg = 2;
    pr.h = {3};
    pr.t = times;
    pr.m = 9;
    const host::Outcome one = call_export("dorvane", pr);
    for (std::size_t c = 0; c < 3; ++c) expect_bits(column(t, t.header[1 + c]), part(one.mh, c, 9), t.header[1 + c]);

    // Two regressors: N points per axis, the first varying fastest.
    const Synthetic syn;
    const Result two = run_lpfit("dorvane " + syn.file(s) + " --y y --x x1,x2 --dummies D --grid 4 --bandwidth 0.3", s);
    ASSERT_EQ(two.status, 0) << two.err;
    Request core2("dorvane");
    core2.y(syn.y).x("x1", syn.x1).x("x2", syn.x2).x("D", syn.D, true).set("grid", 4LL).set("bandwidth", 0.3);
    const Parsed t2 = parse_table(two.out);
    expect_table(t2, Fit(core2));
    EXPECT_EQ(t2.rows.size(), 16u);
}

TEST(Threads, OneTwoAndSevenGiveTheSameBytesForPassingAndFailingFits)
{
    Scratch s;
    const std::string fit = "dorvane " + kData + "/eustock.csv --returns DAX --groups 5 --phase 3 --vol --cv 5 --at " + kData +
                            "/lag1_points.csv";
    far_point_files(s, 29);
    const std::string fails = "tremsal spread.csv --y y --x x --vol --bandwidth 50 --at far.csv";
    const std::string many = "tremsal " + kData + "/mcycle.csv --y accel --x times --vol";  // at the 133 observations
    const Result ok1 = run_lpfit(fit + " --threads 1", s), bad1 = run_lpfit(fails + " --threads 1", s),
                 all1 = run_lpfit(many + " --threads 1", s);
    ASSERT_EQ(ok1.status, 0) << ok1.err;
    ASSERT_EQ(bad1.status, 2) << bad1.err;
    ASSERT_EQ(all1.status, 0) << all1.err;
    EXPECT_EQ(parse_table(ok1.out).rows.size(), 13u);
    EXPECT_EQ(parse_table(bad1.out).rows.size(), 40u);
    EXPECT_EQ(parse_table(all1.out).rows.size(), 133u);
    for (const char* threads : {"2", "7"}) {
        const Result ok = run_lpfit(fit + " --threads " + threads, s), bad = run_lpfit(fails + " --threads " + threads, s),
                     all = run_lpfit(many + " --threads " + threads, s);
        EXPECT_EQ(ok.out, ok1.out) << threads;
        EXPECT_EQ(ok.err, ok1.err) << threads;
        EXPECT_EQ(bad.status, 2) << threads;
        EXPECT_EQ(bad.out, bad1.out) << threads;
        EXPECT_EQ(bad.err, bad1.err) << threads;
        EXPECT_EQ(all.out, all1.out) << threads;
    }
    // The default, every core, is the same again.
    EXPECT_EQ(run_lpfit(fails, s).out, bad1.out);
}

TEST(FailedPoint, TheTableIsWrittenWithANaNRowAndThePointNamedFromOne)
{
    // A local cubic far beyond the observations fails the conditioning test.
    Scratch s;
    far_point_files(s, 25);
    const Result r = run_lpfit("tremsal spread.csv --y y --x x --bandwidth 50 --at far.csv -o out.csv", s);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    const Parsed t = parse_table(slurp(s.path("out.csv")));
    ASSERT_EQ(t.rows.size(), 40u);
    for (std::size_t j = 0; j < 40; ++j) EXPECT_EQ(std::isnan(column(t, "level")[j]), j == 25) << j;
    EXPECT_EQ(column(t, "x")[25], 2000);
    EXPECT_NE(r.err.find("lpfit: library: the conditioning test failed (off-diagonal sum above 100000), at 1 point: 26\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("lpfit: warning: the local fit is NaN at point 26 (x = 2000): its local moment matrix is "
                         "singular or too ill-conditioned"),
              std::string::npos)
        << r.err;
    // The library's own line, with -v, numbers the point from 0 among all the fit's points.
    const Result v = run_lpfit("tremsal spread.csv --y y --x x --bandwidth 50 --at far.csv --threads 3 -v", s);
    EXPECT_NE(v.err.find("t: sum of off-diagonal element of invZWZ*ZWZ 25 "), std::string::npos) << v.err;
    // -q: the warning alone.
    const Result q = run_lpfit("tremsal spread.csv --y y --x x --bandwidth 50 --at far.csv -q", s);
    EXPECT_EQ(q.status, 2);
    EXPECT_EQ(lines_starting(q.err, "lpfit: warning: "), 1u) << q.err;
    EXPECT_EQ(lines_starting(q.err, "lpfit: "), 1u) << q.err;
}

TEST(FailedPoint, ASingularPointWhereEveryWeightIsZero)
{
    Scratch s;
    const std::string data = integers(s);
    const Result r = run_lpfit("dorvane " + data + " --y y --x x --bandwidth 0.05 --vol --at " +
                                   s.file("at.csv", "x\n0.5\n-40\n4.5\n"),
                               s);
    EXPECT_EQ(r.status, 2);
    const Parsed t = parse_table(r.out);
    std::vector<double> x, y;
    for (int i = 0; i < 10; ++i) x.push_back(i), y.push_back(i * i);
    Request core("dorvane");
    core.y(y).x("x", x).set("bandwidth", 0.05).set("vol", 1LL).set("at", std::vector<double>{0.5, -40, 4.5});
    expect_table(t, Fit(core));
    for (const char* c : {"level", "d1_x", "var", "var_d1_x"}) EXPECT_TRUE(std::isnan(column(t, c)[1])) << c;
    EXPECT_EQ(column(t, "density")[1], 0.0);
    EXPECT_EQ(column(t, "level")[2], 20.5);
    EXPECT_NE(r.err.find("lpfit: library: the LU decomposition found a moment matrix with an all-zero row, at 1 point: 2\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("lpfit: warning: the local fit is NaN at point 2 (x = -40): "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("lpfit: points: 1 failed (NaN): 2; 0 refitted\n"), std::string::npos) << r.err;
    // The numerical routines' report, which says the program exits although
    // nothing exits, only with -v.
    EXPECT_EQ(r.err.find("now exiting"), std::string::npos) << r.err;
}

TEST(LeaveOneOut, GoesOnPastAFailedPoint)
{
    // Observation 11 stands alone: left out, its fit has no observation near.
    Scratch s;
    std::vector<double> x, y;
    for (int i = 0; i < 10; ++i) x.push_back(i), y.push_back(std::sin(i));
    x.push_back(40), y.push_back(0.5);
    // At h = 0.2 its two nearest observations' weights differ by e^-787,
    // beyond the range of doubles, so no line through them is determined.
    const Result r = run_lpfit("dorvane " + s.file("d.csv", csv_of("x,y", {x, y})) + " --y y --x x --bandwidth 0.2 --loo", s);
    EXPECT_EQ(r.status, 2) << r.err;
    const Parsed t = parse_table(r.out);
    Request core("dorvane");
    core.y(y).x("x", x).set("bandwidth", 0.2).set("loo", 1LL);
    expect_table(t, Fit(core));
    const std::vector<double> level = column(t, "level");
    ASSERT_EQ(level.size(), 11u);
    for (std::size_t j = 0; j < 11; ++j) EXPECT_EQ(std::isnan(level[j]), j == 10) << j;
    EXPECT_NE(r.err.find("(leave-one-out)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("lpfit: warning: the local fit is NaN at point 11 (x = 40)"), std::string::npos) << r.err;
}

TEST(CrossValidation, ChoosesTheLeastLeaveOneOutScoreAndWritesTheScores)
{
    Scratch s;
    const std::vector<double> hs = {0.05, 1.2, 1.6, 2.0, 3.0, 5.0};
    const Result r = run_lpfit("dorvane " + kData + "/mcycle.csv --y accel --x times --cv 0.05,1.2,1.6,2.0,3.0,5.0 "
                               "--grid 5 --scores scores.csv -v",
                               s);
    ASSERT_EQ(r.status, 0) << r.err;

    // Leave-one-out the plain way: drop observation i, fit at x_i.
    const host::Problem all = mcycle();
    const std::size_t n = all.y.size();
    std::vector<double> score;
    for (double h : hs) {
        double ss = 0;
        for (std::size_t i = 0; i < n; ++i) {
            host::Problem drop = all;
            drop.x.erase(drop.x.begin() + static_cast<std::ptrdiff_t>(i));
            drop.y.erase(drop.y.begin() + static_cast<std::ptrdiff_t>(i));
            drop.n = drop.nr = static_cast<double>(n - 1);
            drop.t = {all.x[i]};
            drop.m = 1;
            drop.h = {h};
            const host::Outcome o = call_export("dorvane", drop);
            ss += (all.y[i] - o.mh[0]) * (all.y[i] - o.mh[0]);
        }
        // A refit that fails leaves NaN: the score is +inf.
        score.push_back(std::isnan(ss) ? HUGE_VAL : ss / static_cast<double>(n));
    }
    const Parsed written = parse_table(slurp(s.path("scores.csv")));
    ASSERT_EQ(written.header, (std::vector<std::string>{"h_times", "score"}));
    expect_bits(column(written, "h_times"), hs, "h_times");
    const std::vector<double> got = column(written, "score");
    for (std::size_t k = 0; k < hs.size(); ++k) {
        if (std::isinf(score[k]))
            EXPECT_TRUE(std::isinf(got[k])) << hs[k];
        else
            EXPECT_NEAR(got[k], score[k], 1e-9 * score[k]) << hs[k];
    }
    EXPECT_TRUE(std::isinf(score[0]));

    // The table is the fit at the least score's bandwidth, as the core gives it.
    const std::size_t best = static_cast<std::size_t>(std::min_element(score.begin(), score.end()) - score.begin());
    Request core("dorvane");
    core.y(all.y, "accel").x("times", all.x).set("bandwidth", hs[best]).set("grid", 5LL);
    expect_table(parse_table(r.out), Fit(core));
    // -v prints the table of the bandwidths tried, the choice marked.
    EXPECT_NE(r.err.find("lpfit: least-squares cross-validation over 6 bandwidths (n = 133)\n  h_times"), std::string::npos)
        << r.err;
    EXPECT_EQ(lines_starting(r.err, "  "), 7u) << r.err;
    EXPECT_NE(r.err.find("  <- chosen\n"), std::string::npos) << r.err;

    // A grid of candidates from a file, one column per continuous regressor.
    const Synthetic syn;
    const std::string grid = s.file("grid.csv", "x2,x1\n0.3,0.2\n0.5,0.4\n");
    const Result g = run_lpfit("dorvane " + syn.file(s) + " --y y --x x1,x2 --cv-grid " + grid + " --scores g.csv --grid 3", s);
    ASSERT_EQ(g.status, 0) << g.err;
    Request cv("dorvane");
    cv.y(syn.y).x("x1", syn.x1).x("x2", syn.x2).set("cv_grid", std::vector<double>{0.2, 0.4, 0.3, 0.5}).set("grid", 3LL);
    const Fit f(cv);
    expect_table(parse_table(g.out), f);
    const Parsed gs = parse_table(slurp(s.path("g.csv")));
    expect_bits(column(gs, "h_x1"), {0.2, 0.4}, "h_x1");
    expect_bits(column(gs, "h_x2"), {0.3, 0.5}, "h_x2");
    expect_bits(column(gs, "score"), f.values("selection_score"), "score");
}

TEST(Returns, AreTheDifferenceOfTheLogarithmsOfThePrices)
{
    Scratch s;
    const std::vector<double> P = file_column(kData + "/eustock.csv", "DAX");
    const Result r = run_lpfit("dorvane " + kData + "/eustock.csv --returns DAX --lags 2 --bandwidth 0.01 -q", s);
    ASSERT_EQ(r.status, 0) << r.err;
    const Parsed t = parse_table(r.out);
    const std::vector<double> lag1 = column(t, "lag1"), lag2 = column(t, "lag2");
    ASSERT_EQ(lag1.size(), P.size() - 3);
    std::vector<double> ret;  // ret[s - 1] = log(P(s)) - log(P(s - 1))
    for (std::size_t k = 1; k < P.size(); ++k) ret.push_back(std::log(P[k]) - std::log(P[k - 1]));
    std::vector<double> y, x1, x2;
    for (std::size_t i = 2; i < ret.size(); ++i) y.push_back(ret[i]), x1.push_back(ret[i - 1]), x2.push_back(ret[i - 2]);
    expect_bits(lag1, x1, "lag1");
    expect_bits(lag2, x2, "lag2");
    // The same fit as the core's on those returns.
    Request core("dorvane");
    core.y(y).x("lag1", x1).x("lag2", x2).set("bandwidth", 0.01);
    expect_table(t, Fit(core));
    // Not the logarithm of the ratio, which differs in the last bit for most days.
    std::size_t differ = 0;
    for (std::size_t k = 1; k < P.size(); ++k) differ += same_bits(ret[k - 1], std::log(P[k] / P[k - 1])) ? 0 : 1;
    EXPECT_GT(differ, 100u);
}

TEST(Weekdays, GroupsFromTheDatesAndPicturesLabelledByWeekday)
{
    // Three weeks of trading days from Wednesday 2024-01-03.
    Scratch s;
    std::string csv = "date,y,x\n";
    std::vector<std::string> days;
    for (int d = 3; d <= 31; ++d) {
        const lpfit::Date date{2024, 1, d};
        if (date.weekday() > 5) continue;
        days.push_back(date.text());
        csv += date.text() + "," + std::to_string(std::sin(0.3 * d)) + "," + std::to_string(std::fmod(0.37 * d, 1.0)) + "\n";
    }
    s.file("days.csv", csv);
    const Result w = run_lpfit("dorvane days.csv --y y --x x --date date --groups weekday --bandwidth 0.2 --plot week", s);
    ASSERT_EQ(w.status, 0) << w.err;
    // Wednesday is group 3: the cyclic groups of phase 3.
    const Result c = run_lpfit("dorvane days.csv --y y --x x --groups 5 --phase 3 --bandwidth 0.2", s);
    EXPECT_EQ(w.out, c.out);
    const std::string svg = slurp(s.path("week.svg"));
    for (const char* day : {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday"}) EXPECT_NE(svg.find(day), std::string::npos) << day;
    EXPECT_EQ(svg.find("group 1"), std::string::npos);

    // A missing day (a holiday) leaves every other day in its weekday's
    // group; a weekend day is refused.
    std::string holiday = csv, weekend = csv;
    holiday.erase(holiday.find(days[4]), holiday.substr(holiday.find(days[4])).find('\n') + 1);
    s.file("holiday.csv", holiday);
    const Result h = run_lpfit("dorvane holiday.csv --y y --x x --date date --groups weekday --bandwidth 0.2", s);
    ASSERT_EQ(h.status, 0) << h.err;
    // 2024-01-09, the Tuesday, is missing: days 0..3 are Wednesday ... Monday,
    // then Wednesday again, which cyclic groups would call Tuesday.
    const Parsed hp = parse_table(h.out), cp = parse_table(run_lpfit(
        "dorvane holiday.csv --y y --x x --groups 5 --phase 3 --bandwidth 0.2", s).out);
    EXPECT_NE(hp.rows, cp.rows);
    weekend.replace(weekend.find(days[3]), 10, "2024-01-07");
    s.file("weekend.csv", weekend);
    const Result e = run_lpfit("dorvane weekend.csv --y y --x x --date date --groups weekday --bandwidth 0.2", s);
    EXPECT_EQ(e.status, 1);
    EXPECT_NE(e.err.find("lpfit: --groups weekday: weekend.csv:5: 2024-01-07, a Sunday: the weekday groups are Monday to "
                         "Friday"),
              std::string::npos)
        << e.err;

    // Returns are dated by their day's price: with one lag the first
    // observation is the return of the third day, a Friday.
    std::string prices = "date,P\n";
    for (std::size_t k = 0; k < days.size(); ++k) prices += days[k] + "," + std::to_string(100 + (k * 7) % 5) + "\n";
    s.file("prices.csv", prices);
    const Result rw = run_lpfit("dorvane prices.csv --returns P --date date --groups weekday --bandwidth 0.02", s);
    const Result rc = run_lpfit("dorvane prices.csv --returns P --groups 5 --phase 5 --bandwidth 0.02", s);
    ASSERT_EQ(rw.status, 0) << rw.err;
    EXPECT_EQ(rw.out, rc.out);
}

TEST(MissingValues, DroppedOnRequestAndCounted)
{
    Scratch s;
    s.file("na.csv", "y,x\n1,0.1\n2,\n3,0.2\n4,0.9\nNA,0.5\n6,0.7\n7,0.3\n8,0.8\n");
    const Result r = run_lpfit("dorvane na.csv --y y --x x --drop-missing --bandwidth 0.3", s);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(parse_table(r.out).rows.size(), 6u);
    EXPECT_NE(r.err.find("lpfit: observations: 6 used, 2 dropped for a missing value (2 and 5)\n"), std::string::npos) << r.err;
    const Result m = run_lpfit("dorvane na.csv --y y --x x --missing drop --bandwidth 0.3", s);
    EXPECT_EQ(m.out, r.out);
    EXPECT_EQ(m.err, r.err);
    s.file("kept.csv", "y,x\n1,0.1\n3,0.2\n4,0.9\n6,0.7\n7,0.3\n8,0.8\n");
    EXPECT_EQ(run_lpfit("dorvane kept.csv --y y --x x --bandwidth 0.3", s).out, r.out);
}

TEST(Intervals, AskedForThroughTheCoreAndDrawnOnlyWhenItGivesThem)
{
    // The kinds pass to the core; a picture draws the interval columns the
    // core gives and leaves out those it does not.
    Scratch s;
    const std::string fit = "dorvane " + kData + "/mcycle.csv --y accel --x times --bandwidth 2 --grid 7 --conf 0.9";
    for (const char* ci : {"--ci", "--ci pointwise", "--ci rbc", "--ci uniform --seed 3"}) {
        SCOPED_TRACE(ci);
        const Result r = run_lpfit(fit + " " + ci + " --se leverage --plot p --plot-derivative", s);
        ASSERT_EQ(r.status, 0) << r.err;
        const Parsed t = parse_table(r.out);
        const std::string svg = slurp(s.path("p.svg"));
        EXPECT_NE(svg.find("first derivative"), std::string::npos);
        const bool has = std::find(t.header.begin(), t.header.end(), "lower_level") != t.header.end();
        EXPECT_EQ(svg.find("confidence interval") != std::string::npos || svg.find("confidence band") != std::string::npos, has);
    }
    // A local linear fit in one regressor with --vol has the level's
    // interval of its own, with the old names ci_lower and ci_upper beside.
    const Result band = run_lpfit(fit + " --vol --plot b", s);
    ASSERT_EQ(band.status, 0) << band.err;
    const Parsed t = parse_table(band.out);
    EXPECT_NE(std::find(t.header.begin(), t.header.end(), "ci_lower"), t.header.end());
    EXPECT_NE(slurp(s.path("b.svg")).find("90% robust bias-corrected confidence interval"), std::string::npos);
}
