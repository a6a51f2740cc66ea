// The lpfit binary as a user runs it: its table against direct export calls,
// thread counts, the cross-validation choice against leave-one-out refits
// computed here, every bad input with its message and exit status, and the
// picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "cli/tool.h"
#include "host/loader.h"

namespace {

const std::string kData = LP_DATA_DIR;

bool same_value(double a, double b) { return (std::isnan(a) && std::isnan(b)) || same_bits(a, b); }

// Column `name` of a parsed table.
std::vector<double> column(const Parsed& t, const std::string& name)
{
    const auto at = std::find(t.header.begin(), t.header.end(), name);
    if (at == t.header.end()) {
        ADD_FAILURE() << "no column " << name;
        return {};
    }
    std::vector<double> v;
    for (const std::vector<double>& row : t.rows) v.push_back(row[at - t.header.begin()]);
    return v;
}

// Column c (m values) of a column-major output array.
std::vector<double> part(const std::vector<double>& a, std::size_t c, std::size_t m)
{
    return std::vector<double>(a.begin() + c * m, a.begin() + (c + 1) * m);
}

void expect_bits(const std::vector<double>& got, const std::vector<double>& want, const std::string& what)
{
    ASSERT_EQ(got.size(), want.size()) << what;
    for (std::size_t j = 0; j < got.size(); ++j)
        EXPECT_TRUE(same_value(got[j], want[j])) << what << " row " << j << ": " << got[j] << " != " << want[j];
}

// The motorcycle data, read here without the tool's reader.
host::Problem mcycle()
{
    const host::Table tab = host::read_csv(kData + "/mcycle.csv");
    host::Problem pr;
    pr.x = tab.column("times");
    pr.y = tab.column("accel");
    pr.n = pr.nr = static_cast<double>(pr.y.size());
    pr.p = 1;
    return pr;
}

// Synthetic data with two continuous regressors and a dummy, as a CSV file.
std::string synthetic(const Scratch& s, host::Problem& pr)
{
    std::string csv = "x1,x2,D,y\n";
    const int n = 120;
    pr = host::Problem();
    pr.x.resize(3 * n);
    for (int i = 0; i < n; ++i) {
        const double x1 = std::fmod(0.37 * i, 1.0), x2 = std::fmod(0.61 * i + 0.2, 1.0), D = i % 3 == 0 ? 1 : 0;
        const double y = std::sin(3 * x1) + x2 * x2 + 0.5 * D + 0.1 * std::cos(17.0 * i);
        pr.x[i] = x1;
        pr.x[i + n] = x2;
        pr.x[i + 2 * n] = D;
        pr.y.push_back(y);
        char row[200];
        std::snprintf(row, sizeof row, "%.17g,%.17g,%g,%.17g\n", x1, x2, D, y);
        csv += row;
    }
    pr.n = pr.nr = n;
    pr.p = 3;
    return s.file("syn.csv", csv);
}

}  // namespace

TEST(Table, EqualsADirectExportCallBitForBit)
{
    Scratch s;
    host::Problem pr = mcycle();
    pr.t = {2.4, 10.5, 15.0, 21.25, 30.0, 44.4, 57.6};
    pr.m = static_cast<double>(pr.t.size());
    pr.h = {2.5};
    pr.grp[0] = 3;
    pr.grp[1] = 2;
    pr.vol = 1;
    std::string at = "times\n";
    for (double t : pr.t) {
        char row[40];
        std::snprintf(row, sizeof row, "%.17g\n", t);
        at += row;
    }
    const Result r = run_lpfit("dorvane " + kData + "/mcycle.csv --y accel --x times --vol --groups 3 --phase 2 "
                        "--bandwidth 2.5 --at " + s.file("at.csv", at) + " -q", s);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const Parsed t = parse_table(r.out);
    EXPECT_EQ(t.header, (std::vector<std::string>{"times", "level", "d1_times", "var", "var_d1_times", "density", "density_g1",
                                                  "density_g2", "density_g3", "ci_lower", "ci_upper"}));
    const host::Outcome one = host::call(dorvane_so(), "dorvane", pr);
    const std::size_t m = pr.t.size();
    expect_bits(column(t, "times"), pr.t, "times");
    expect_bits(column(t, "level"), part(one.mh, 0, m), "level");
    expect_bits(column(t, "d1_times"), part(one.mh, 1, m), "d1_times");
    expect_bits(column(t, "var"), part(one.sh, 0, m), "var");
    expect_bits(column(t, "var_d1_times"), part(one.sh, 1, m), "var_d1_times");
    expect_bits(column(t, "density"), part(one.fh, 0, m), "density");
    for (int g = 1; g <= 3; ++g) expect_bits(column(t, "density_g" + std::to_string(g)), part(one.fh, g, m), "group");
    // The asymptotic band m ± z sqrt(var R(K) / (n h f)), z = 1.96, R(K) = 1/(2 sqrt(pi)).
    const std::vector<double> lo = column(t, "ci_lower"), hi = column(t, "ci_upper");
    for (std::size_t j = 0; j < m; ++j) {
        if (one.sh[j] < 0) {  // a negative variance estimate leaves the band undefined
            EXPECT_TRUE(std::isnan(lo[j]) && std::isnan(hi[j])) << j;
            continue;
        }
        const double half = 1.959963984540054 * std::sqrt(one.sh[j] / (2 * std::sqrt(M_PI)) / (pr.n * 2.5 * one.fh[j]));
        EXPECT_NEAR(lo[j], one.mh[j] - half, 1e-12 * half) << j;
        EXPECT_NEAR(hi[j], one.mh[j] + half, 1e-12 * half) << j;
    }
}

TEST(Table, NamesAndColumnsOfTheTremsalLibrary)
{
    Scratch s;
    host::Problem pr;
    const std::string data = synthetic(s, pr);
    pr.t = {0.2, 0.5, 0.8, 0.3, 0.6, 0.4, 0, 0, 0};
    pr.m = 3;
    pr.h = {0.3, 0.4, -2};
    pr.vol = 1;
    const std::string at = s.file("at.csv", "x2,x1\n0.3,0.2\n0.6,0.5\n0.4,0.8\n");
    struct Case {
        std::string est, args;
        double deg, lam;
        std::vector<std::string> mh;
    };
    const Case cases[] = {
        {"tremsal", "", 3, 0, {"level", "d1_x1", "d1_x2", "effect_D", "d2_x1", "d2_x2", "d3_x1", "d3_x2"}},
        {"locparg", "--lam x2", 3, 2,
         {"level", "d1_x1", "d1_x2", "effect_D", "d2_x1", "d2_x2", "d2_x1_x2", "c3_x1_x1_x2", "c3_x1_x2_x2", "c3_x2_x2_x2"}},
        {"locpa2g", "--lam 1", 2, 1, {"level", "d1_x1", "d1_x2", "effect_D", "d2_x1", "d2_x2", "d2_x2_x1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.est);
        pr.deg = c.deg;
        pr.lam = c.lam;
        const Result r = run_lpfit(c.est + " " + data + " --y y --x x1,x2 --dummies D --bandwidth 0.3,0.4 --vol --at " + at + " " + c.args, s);
        ASSERT_EQ(r.status, 0) << r.err;
        const Parsed t = parse_table(r.out);
        const host::Outcome one = host::call(tremsal_so(), c.est, pr);
        const std::size_t B = c.mh.size();
        ASSERT_EQ(t.header.size(), 2 + 2 * B + 1);
        EXPECT_EQ(std::vector<std::string>(t.header.begin() + 2, t.header.begin() + 2 + B), c.mh);
        for (std::size_t k = 0; k < B; ++k) {
            expect_bits(column(t, c.mh[k]), part(one.mh, k, 3), c.mh[k]);
            expect_bits(column(t, t.header[2 + B + k]), part(one.sh, k, 3), t.header[2 + B + k]);
        }
        EXPECT_EQ(t.header[2 + B], "var");
        // The library's dummy warning, once per point, on standard error.
        std::size_t warnings = 0;
        for (std::size_t at = 0; (at = r.err.find("WARNING: The estimation of the\n", at)) != std::string::npos; ++at) ++warnings;
        EXPECT_EQ(warnings, 3u);
    }
}

TEST(Threads, OneTwoAndSevenGiveTheSameBytes)
{
    Scratch s;
    const std::string fit = "dorvane " + kData + "/eustock.csv --returns DAX --groups 5 --phase 3 --vol --cv 5 --grid 40 -q";
    far_point_files(s, 29);
    const std::string fails = "tremsal spread.csv --y y --x x --vol --bandwidth 50 --at far.csv";
    const Result ok1 = run_lpfit(fit + " --threads 1", s), bad1 = run_lpfit(fails + " --threads 1", s);
    ASSERT_EQ(ok1.status, 0) << ok1.err;
    ASSERT_EQ(bad1.status, 2) << bad1.err;
    EXPECT_EQ(parse_table(ok1.out).rows.size(), 40u);
    for (const char* threads : {"2", "7"}) {
        const Result ok = run_lpfit(fit + " --threads " + threads, s), bad = run_lpfit(fails + " --threads " + threads, s);
        EXPECT_EQ(ok.out, ok1.out) << threads;
        EXPECT_EQ(ok.err, ok1.err) << threads;
        EXPECT_EQ(bad.status, 2) << threads;
        EXPECT_EQ(bad.err, bad1.err) << threads;
    }
    const Result many = run_lpfit("tremsal " + kData + "/mcycle.csv --y accel --x times --vol --threads 7 -q", s);
    const Result single = run_lpfit("tremsal " + kData + "/mcycle.csv --y accel --x times --vol --threads 1 -q", s);
    ASSERT_EQ(single.status, 0) << single.err;
    EXPECT_EQ(many.out, single.out);
    EXPECT_EQ(parse_table(single.out).rows.size(), 133u);
}

TEST(CrossValidation, ChoosesTheLeastLeaveOneOutScoreComputedByRefits)
{
    Scratch s;
    const std::vector<double> hs = {0.05, 1.2, 1.6, 2.0, 3.0, 5.0};
    const Result r = run_lpfit("dorvane " + kData + "/mcycle.csv --y accel --x times --cv 0.05,1.2,1.6,2.0,3.0,5.0 --grid 5", s);
    ASSERT_EQ(r.status, 0) << r.err;

    // Leave-one-out the plain way: drop observation i, fit at x_i.
    const host::Problem all = mcycle();
    const std::size_t n = all.y.size();
    std::vector<double> score;
    for (double h : hs) {
        double ss = 0;
        for (std::size_t i = 0; i < n; ++i) {
            host::Problem drop = all;
            drop.x.erase(drop.x.begin() + i);
            drop.y.erase(drop.y.begin() + i);
            drop.n = drop.nr = static_cast<double>(n - 1);
            drop.t = {all.x[i]};
            drop.m = 1;
            drop.h = {h};
            const host::Outcome o = host::call(dorvane_so(), "dorvane", drop);
            ss += (all.y[i] - o.mh[0]) * (all.y[i] - o.mh[0]);
        }
        // A refit that fails its conditioning test leaves NaN: the score is +inf.
        score.push_back(std::isnan(ss) ? HUGE_VAL : ss / static_cast<double>(n));
    }
    const std::size_t best = std::min_element(score.begin(), score.end()) - score.begin();
    const std::string chosen = "lpfit: chosen bandwidth times = ";
    const std::size_t at = r.err.find(chosen);
    ASSERT_NE(at, std::string::npos) << r.err;
    EXPECT_EQ(std::strtod(r.err.c_str() + at + chosen.size(), nullptr), hs[best]) << r.err;
    // Every candidate's score as printed, the failing one as inf.
    for (std::size_t k = 0; k < hs.size(); ++k) {
        char h[32];
        std::snprintf(h, sizeof h, "\n  %-14.6g  ", hs[k]);
        const std::size_t line = r.err.find(h);
        ASSERT_NE(line, std::string::npos) << h << r.err;
        const double printed = std::strtod(r.err.c_str() + line + std::strlen(h), nullptr);
        if (std::isinf(score[k]))
            EXPECT_TRUE(std::isinf(printed)) << hs[k];
        else
            EXPECT_NEAR(printed, score[k], 1e-9 * score[k]) << hs[k];
    }
    EXPECT_TRUE(std::isinf(score[0]));
}
