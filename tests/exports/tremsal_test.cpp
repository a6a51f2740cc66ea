// tremsal, locparg and locpa2g through the host layer, loaded from the real
// Tremsal.so: identity with dorvane where the designs coincide, exact
// reproduction of polynomials (which also fixes the column order of the cross
// blocks), agreement with an independent weighted least-squares computation,
// and the refusals.
#include <cmath>
#include <random>

#include "exports/oracle.h"
#include "exports/problems.h"
#include "support.h"

namespace {

host::Outcome run(const std::string& name, const host::Problem& pr)
{
    return call_export(name, pr, -777.0);
}

bool untouched(const host::Outcome& out)
{
    for (double v : out.mh)
        if (v != -777.0) return false;
    for (double v : out.sh)
        if (v != -777.0) return false;
    for (double v : out.fh)
        if (v != 0.0) return false;
    return true;
}

// Problems that exercise every path of the frame: dummies, conditional
// variance, groups, leave-one-out, nr < n, and a failing point.
std::vector<host::Problem> varied_problems(int deg)
{
    std::vector<host::Problem> all;
    host::Problem a = random_problem(90, 2, 2, 6, 41);
    a.vol = 1;
    a.grp[0] = 3;
    a.grp[1] = 2;
    all.push_back(a);
    host::Problem b = random_problem(90, 3, 2, 5, 42);  // one dummy
    b.vol = 1;
    b.nr = 60;
    all.push_back(b);
    host::Problem c = random_problem(70, 1, 1, 70, 43);
    c.t = c.x;
    c.nloo = 1;
    c.vol = 1;
    c.grp[0] = 2.5;
    c.grp[1] = 1;
    all.push_back(c);
    host::Problem d = random_problem(40, 1, 1, 4, 44);
    d.t = {0.3, 0.5, 40.0, 0.6};  // far outside the data: every weight underflows
    d.h = {0.05};
    all.push_back(d);
    host::Problem e;  // extrapolation that fails the conditioning check for higher degrees
    for (int i = 0; i < 50; ++i) {
        e.x.push_back(20.0 * i);
        e.y.push_back(std::sin(0.1 * i));
    }
    e.n = e.nr = 50;
    e.p = 1;
    e.m = 3;
    e.t = {300.0, 2000.0, 500.0};
    e.h = {50.0};
    all.push_back(e);
    for (host::Problem& pr : all) pr.deg = deg;
    return all;
}

void expect_identical(const host::Outcome& a, const host::Outcome& b)
{
    EXPECT_EQ(a.ret, b.ret);
    EXPECT_EQ(a.printed, b.printed);
    ASSERT_EQ(a.mh.size(), b.mh.size());
    for (std::size_t k = 0; k < a.mh.size(); ++k) {
        EXPECT_TRUE(a.mh[k] == b.mh[k] || (std::isnan(a.mh[k]) && std::isnan(b.mh[k]))) << "mh " << k;
        EXPECT_TRUE(a.sh[k] == b.sh[k] || (std::isnan(a.sh[k]) && std::isnan(b.sh[k]))) << "sh " << k;
    }
    EXPECT_EQ(a.fh, b.fh);
}

}  // namespace

TEST(LocalCubic, BelowDegreeThreeIsDorvaneBitForBit)
{
    for (int deg : {1, 2, 4}) {
        for (const host::Problem& pr : varied_problems(deg)) {
            SCOPED_TRACE(testing::Message() << "deg " << deg << " p " << pr.p << " n " << pr.n);
            expect_identical(run("tremsal", pr), run("dorvane", pr));
        }
    }
}

TEST(LocalCubic, ReproducesACubicForAnyBandwidth)
{
    const auto f = [](double x) { return 0.5 - 1.5 * x + 2.0 * x * x + 0.75 * x * x * x; };
    for (double h : {0.15, 0.5, 4.0}) {
        host::Problem pr = exact_problem(60, {-0.6, 0.0, 0.35, 0.8}, h, f);
        pr.deg = 3;
        const host::Outcome out = run("tremsal", pr);
        EXPECT_EQ(out.printed, "");
        for (int j = 0; j < 4; ++j) {
            const double t = pr.t[j];
            EXPECT_NEAR(out.mh[j], f(t), 1e-10) << h;
            EXPECT_NEAR(out.mh[j + 4], -1.5 + 4.0 * t + 2.25 * t * t, 1e-8) << h;
            EXPECT_NEAR(out.mh[j + 8], 4.0 + 4.5 * t, 1e-6) << h;
            EXPECT_NEAR(out.mh[j + 12], 4.5, 1e-5) << h;
        }
    }
}

TEST(LocalCubic, ConstantResponseWithVolatility)
{
    host::Problem pr = exact_problem(40, {-0.3, 0.4}, 0.5, [](double) { return 5.0; });
    pr.deg = 3;
    pr.vol = 1;
    const host::Outcome out = run("tremsal", pr);
    for (int c = 0; c < 4; ++c)
        for (int j = 0; j < 2; ++j) {
            EXPECT_NEAR(out.mh[j + 2 * c], c == 0 ? 5.0 : 0.0, 1e-7) << c;
            EXPECT_NEAR(out.sh[j + 2 * c], 0.0, 1e-5) << c;
        }
}

TEST(LamEstimators, OneContinuousRegressorFallsBackOnTheSimplerFits)
{
    for (int p : {1, 2}) {
        host::Problem pr = random_problem(80, p, 1, 5, 50 + p);
        pr.vol = 1;
        pr.lam = 1;
        pr.grp[0] = 4;
        pr.grp[1] = 1;
        // locpa2g is dorvane with deg = 2.
        pr.deg = 2;
        expect_identical(run("locpa2g", pr), run("dorvane", pr));
        // locparg is tremsal with deg = 3, but its cube column holds beta, not 6·beta.
        pr.deg = 3;
        const host::Outcome cubic = run("tremsal", pr), lam = run("locparg", pr);
        EXPECT_EQ(cubic.printed, lam.printed);
        EXPECT_EQ(cubic.fh, lam.fh);
        EXPECT_EQ(cubic.sh, lam.sh);
        const int m = 5, last = p + 2;
        for (int c = 0; c <= last; ++c)
            for (int j = 0; j < m; ++j)
                EXPECT_EQ(cubic.mh[j + c * m], c == last ? 6 * lam.mh[j + c * m] : lam.mh[j + c * m]) << c;
    }
}

namespace {

using Monomial = std::vector<int>;  // exponent of each continuous regressor

// Data exactly on y = sum_c (c + 1)·term_c(x) over the design's own terms,
// evaluated at t = 0, where the local fit must return every coefficient: so
// mh column c holds c + 1 (times 2 for the squares) only when the design's
// column c is term c.
void expect_column_order(const std::string& name, int deg, int lam, const std::vector<Monomial>& terms)
{
    const int pc = static_cast<int>(terms[1].size()), n = 300;
    std::mt19937 gen(lam * 10 + pc);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    host::Problem pr;
    pr.n = pr.nr = n;
    pr.p = pc;
    pr.m = 1;
    pr.deg = deg;
    pr.lam = lam;
    pr.x.resize(static_cast<std::size_t>(n) * pc);
    for (double& v : pr.x) v = unit(gen);
    for (int i = 0; i < n; ++i) {
        double y = 0.0;
        for (std::size_t c = 0; c < terms.size(); ++c) {
            double term = 1.0;
            for (int k = 0; k < pc; ++k) term *= std::pow(pr.x[i + k * n], terms[c][k]);
            y += (c + 1.0) * term;
        }
        pr.y.push_back(y);
    }
    pr.t.assign(pc, 0.0);
    pr.h.assign(pc, 0.7);
    const host::Outcome out = run(name, pr);
    ASSERT_EQ(out.printed, "");
    ASSERT_EQ(out.mh.size(), terms.size());
    for (std::size_t c = 0; c < terms.size(); ++c) {
        const bool square = static_cast<int>(c) > pc && static_cast<int>(c) <= 2 * pc;
        EXPECT_NEAR(out.mh[c], (square ? 2.0 : 1.0) * (c + 1.0), 1e-8) << name << " lam " << lam << " column " << c;
    }
}

}  // namespace

TEST(LamEstimators, CrossBlockColumnOrder)
{
    const Monomial one2 = {0, 0}, z1 = {1, 0}, z2 = {0, 1}, z1s = {2, 0}, z2s = {0, 2};
    expect_column_order("locparg", 3, 2, {one2, z1, z2, z1s, z2s, {1, 1}, {2, 1}, {1, 2}, {0, 3}});
    expect_column_order("locparg", 3, 1, {one2, z1, z2, z1s, z2s, {1, 1}, {1, 2}, {3, 0}, {2, 1}});
    expect_column_order("locpa2g", 2, 1, {one2, z1, z2, z1s, z2s, {1, 1}});
    expect_column_order("locpa2g", 2, 2, {one2, z1, z2, z1s, z2s, {1, 1}});

    const std::vector<Monomial> base3 = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1},
                                         {2, 0, 0}, {0, 2, 0}, {0, 0, 2}};
    auto with = [&](std::vector<Monomial> cross) {
        std::vector<Monomial> all = base3;
        all.insert(all.end(), cross.begin(), cross.end());
        return all;
    };
    expect_column_order("locpa2g", 2, 2, with({{1, 1, 0}, {0, 1, 1}}));
    expect_column_order("locpa2g", 2, 3, with({{1, 0, 1}, {0, 1, 1}}));
    expect_column_order("locparg", 3, 1,
                        with({{1, 1, 0}, {1, 0, 1}, {1, 2, 0}, {1, 0, 2}, {3, 0, 0}, {2, 1, 0}, {2, 0, 1}}));
    expect_column_order("locparg", 3, 2,
                        with({{1, 1, 0}, {0, 1, 1}, {2, 1, 0}, {0, 1, 2}, {1, 2, 0}, {0, 3, 0}, {0, 2, 1}}));
    expect_column_order("locparg", 3, 3,
                        with({{1, 0, 1}, {0, 1, 1}, {2, 0, 1}, {0, 2, 1}, {1, 0, 2}, {0, 1, 2}, {0, 0, 3}}));
}

TEST(LamEstimators, MixedSecondDerivativeOfAnInteraction)
{
    // y = 1 + 2·x1 - 3·x1·x2: at every point the cross coefficient is -3 and
    // the slopes are 2 - 3·t2 and -3·t1.
    host::Problem pr = random_problem(200, 2, 2, 4, 60, 0.5);
    for (int i = 0; i < 200; ++i) pr.y[i] = 1.0 + 2.0 * pr.x[i] - 3.0 * pr.x[i] * pr.x[i + 200];
    for (const char* name : {"locparg", "locpa2g"}) {
        pr.deg = std::string(name) == "locparg" ? 3 : 2;
        pr.lam = 2;
        const host::Outcome out = run(name, pr);
        for (int j = 0; j < 4; ++j) {
            const double t1 = pr.t[j], t2 = pr.t[j + 4];
            EXPECT_NEAR(out.mh[j], 1.0 + 2.0 * t1 - 3.0 * t1 * t2, 1e-10) << name;
            EXPECT_NEAR(out.mh[j + 4], 2.0 - 3.0 * t2, 1e-9) << name;
            EXPECT_NEAR(out.mh[j + 8], -3.0 * t1, 1e-9) << name;
            EXPECT_NEAR(out.mh[j + 20], -3.0, 1e-8) << name;  // column 5: z1·z2
        }
    }
}

TEST(TremsalExports, MatchIndependentWeightedLeastSquares)
{
    struct Case {
        const char* name;
        int p, pc, deg, lam, vol, nloo;
        double K;
        int nr;
    } cases[] = {
        {"tremsal", 1, 1, 3, 0, 1, 0, 0, 0},  {"tremsal", 2, 2, 3, 0, 1, 0, 3, 0},
        {"tremsal", 3, 2, 3, 0, 1, 0, 0, 0},  {"tremsal", 2, 1, 3, 0, 0, 1, 0, 0},
        {"locparg", 2, 2, 3, 1, 1, 0, 0, 0},  {"locparg", 2, 2, 3, 2, 1, 0, 2.5, 0},
        {"locparg", 3, 2, 3, 2, 1, 0, 0, 0},  {"locparg", 3, 3, 3, 3, 0, 0, 0, 90},
        {"locpa2g", 2, 2, 2, 2, 1, 0, 0, 0},  {"locpa2g", 3, 3, 2, 1, 1, 0, 4, 0},
        {"locpa2g", 3, 2, 2, 1, 1, 0, 0, 100}, {"locpa2g", 3, 3, 2, 2, 1, 1, 0, 0},
    };
    unsigned seed = 70;
    for (const Case& c : cases) {
        host::Problem pr = random_problem(150, c.p, c.pc, 6, seed++, 0.5);
        pr.deg = c.deg;
        pr.lam = c.lam;
        pr.vol = c.vol;
        pr.grp[0] = c.K;
        pr.grp[1] = 1;
        if (c.nr) pr.nr = c.nr;
        if (c.nloo) {
            pr.nloo = 1;
            pr.m = 150;
            pr.t = pr.x;
        }
        SCOPED_TRACE(testing::Message() << c.name << " p=" << c.p << " pc=" << c.pc << " lam=" << c.lam
                                        << " vol=" << c.vol << " nloo=" << c.nloo << " K=" << c.K);
        const host::Outcome out = run(c.name, pr);
        const Expected want = oracle(c.name, pr);
        const int m = static_cast<int>(pr.m);
        EXPECT_LT(worst_relative_error(out.mh, want.mh, m, want.B), 1e-8);
        if (c.vol) {
            EXPECT_LT(worst_relative_error(out.sh, want.sh, m, want.B), 1e-8);
        }
        EXPECT_LT(worst_relative_error(out.fh, want.fh, m, static_cast<int>(want.fh.size()) / m), 1e-12);
        if (c.pc == c.p || !c.vol) {
            EXPECT_EQ(out.printed, "");
        }
    }
}

TEST(TremsalRefusal, LamRefusalComesBeforeTheLeaveOneOutAdmission)
{
    host::Problem pr = random_problem(30, 2, 2, 4, 81);
    pr.deg = 3;
    pr.lam = 0;
    pr.nloo = 1;
    pr.nr = 20;
    const host::Outcome out = run("locparg", pr);
    EXPECT_EQ(out.printed, "locparg: use lam > 0 or tremsal \n");
    EXPECT_TRUE(untouched(out));
    pr.lam = 1;
    const host::Outcome loo = run("locparg", pr);
    EXPECT_EQ(loo.printed,
              "You cannot use leave one out (nloo=1) since you do not compute\nthe function at the observed values\n");
    EXPECT_TRUE(untouched(loo));
}
