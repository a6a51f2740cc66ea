// Standard errors against a dense computation of each output's linear
// weights, coverage of the intervals by seeded simulation, and the band's
// draws.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "core.h"
#include "core/intervals.h"
#include "core/random.h"

namespace {

using ld = long double;

// The monomial (powers of the continuous regressors) or dummy of an output
// column, read from its name, and its output factor.
struct Col {
    std::vector<int> power;
    int dummy = -1;
    double factor = 1;
};
Col column(const std::string& name, const std::vector<std::string>& cont, const std::vector<std::string>& dummies,
           double n_over_nr)
{
    Col c;
    c.power.assign(cont.size(), 0);
    auto index = [&](const std::string& v) {
        return static_cast<int>(std::find(cont.begin(), cont.end(), v) - cont.begin());
    };
    std::vector<std::string> parts;
    for (std::size_t at = 0, next; at != std::string::npos; at = next == std::string::npos ? next : next + 1) {
        next = name.find('_', at);
        parts.push_back(name.substr(at, next == std::string::npos ? std::string::npos : next - at));
    }
    if (parts[0] == "level") {
        c.factor = n_over_nr;
    } else if (parts[0] == "effect") {
        c.dummy = static_cast<int>(std::find(dummies.begin(), dummies.end(), parts[1]) - dummies.begin());
        c.factor = n_over_nr;
    } else {
        for (std::size_t k = 1; k < parts.size(); ++k) ++c.power[index(parts[k])];
        if (parts[0] == "d1") c.factor = n_over_nr;
        if (parts[0] == "d2" && parts.size() == 2) c.power[index(parts[1])] = 2, c.factor = 2;
        if (parts[0] == "d3") c.power[index(parts[1])] = 3, c.factor = 6;
    }
    return c;
}

struct Problem {
    std::vector<std::vector<double>> x, d;  // continuous regressors, dummies
    std::vector<double> y;
    std::vector<double> h;
    int nr;
};

// Row i of the design at the point t, its intercept 1 for the first nr rows.
std::vector<ld> row(const Problem& P, const std::vector<Col>& cols, std::size_t i, const std::vector<double>& t, int nr)
{
    std::vector<ld> z;
    for (const Col& c : cols) {
        if (c.dummy >= 0) {
            z.push_back(P.d[c.dummy][i]);
            continue;
        }
        ld v = 1;
        bool level = true;
        for (std::size_t k = 0; k < c.power.size(); ++k)
            for (int e = 0; e < c.power[k]; ++e) v *= static_cast<ld>(P.x[k][i]) - t[k], level = false;
        z.push_back(level ? (static_cast<int>(i) < nr ? 1 : 0) : v);
    }
    return z;
}

// Solves A x = b by Gaussian elimination with partial pivoting.
std::vector<ld> solve(std::vector<std::vector<ld>> A, std::vector<ld> b)
{
    const std::size_t B = b.size();
    for (std::size_t c = 0; c < B; ++c) {
        std::size_t p = c;
        for (std::size_t r = c + 1; r < B; ++r)
            if (std::fabs(A[r][c]) > std::fabs(A[p][c])) p = r;
        std::swap(A[p], A[c]);
        std::swap(b[p], b[c]);
        for (std::size_t r = c + 1; r < B; ++r) {
            const ld f = A[r][c] / A[c][c];
            for (std::size_t k = c; k < B; ++k) A[r][k] -= f * A[c][k];
            b[r] -= f * b[c];
        }
    }
    for (std::size_t c = B; c-- > 0;) {
        for (std::size_t k = c + 1; k < B; ++k) b[c] -= A[c][k] * b[k];
        b[c] /= A[c][c];
    }
    return b;
}

// The linear weights of every column at t: l[c][i], β_c = Σ_i l[c][i] y_i,
// from A = Σ_i w_i z_i z_iᵀ with the intercept sums over the first nr rows.
std::vector<std::vector<ld>> weights(const Problem& P, const std::vector<Col>& cols, const std::vector<double>& t, int nr)
{
    const std::size_t n = P.y.size(), B = cols.size();
    std::vector<std::vector<ld>> A(B, std::vector<ld>(B, 0)), l(B, std::vector<ld>(n, 0));
    std::vector<ld> w(n);
    std::vector<std::vector<ld>> Z(n), Zy(n);
    for (std::size_t i = 0; i < n; ++i) {
        ld u2 = 0;
        for (std::size_t k = 0; k < P.x.size(); ++k) {
            const ld u = (static_cast<ld>(P.x[k][i]) - t[k]) / P.h[k];
            u2 += u * u;
        }
        w[i] = std::exp(-u2 / 2);
        Z[i] = row(P, cols, i, t, static_cast<int>(n));  // every row with its intercept
        Zy[i] = row(P, cols, i, t, nr);
    }
    for (std::size_t a = 0; a < B; ++a)
        for (std::size_t b = 0; b < B; ++b)
            for (std::size_t i = 0; i < n; ++i)
                A[a][b] += w[i] * (a == 0 && b == 0 ? Zy[i][0] : Z[i][a] * Z[i][b]);
    for (std::size_t i = 0; i < n; ++i) {
        std::vector<ld> v = Zy[i];
        for (ld& e : v) e *= w[i];
        const std::vector<ld> x = solve(A, v);
        for (std::size_t c = 0; c < B; ++c) l[c][i] = x[c];
    }
    return l;
}

struct Case {
    const char* estimator;
    int pc, q, deg, nr_divisor;
};

TEST(StandardErrors, AgreeWithTheDenseLinearWeightsOfEveryColumn)
{
    const Data data(90, 21);
    const Case cases[] = {{"dorvane", 1, 1, 1, 1}, {"dorvane", 2, 0, 2, 2}, {"tremsal", 1, 0, 3, 1},
                          {"locpa2g", 2, 1, 2, 1}, {"locparg", 2, 0, 3, 1}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.estimator);
        Problem P;
        P.x = {data.x1, data.x2};
        P.x.resize(static_cast<std::size_t>(k.pc));
        if (k.q) P.d = {data.d};
        P.y = data.y;
        P.h = {0.35, 0.45};
        P.h.resize(static_cast<std::size_t>(k.pc));
        const int n = static_cast<int>(P.y.size());
        P.nr = n / k.nr_divisor;
        const std::vector<double> at = k.pc == 1 ? std::vector<double>{0.1, 0.5, 0.93}
                                                 : std::vector<double>{0.1, 0.5, 0.93, 0.3, 0.6, 0.2};
        Request s(k.estimator);
        s.y(P.y).x("a", P.x[0]);
        if (k.pc > 1) s.x("b", P.x[1]);
        if (k.q) s.x("d", P.d[0], true);
        s.set("deg", static_cast<long long>(k.deg)).set("bandwidth", P.h).set("at", at).set("se", "residual");
        s.set("nr", static_cast<long long>(P.nr));
        const Fit f(s);
        ASSERT_EQ(f.status, LPC_OK) << f.message();
        const std::vector<std::string> cont = k.pc == 1 ? std::vector<std::string>{"a"} : std::vector<std::string>{"a", "b"};
        const std::vector<std::string> dummies = k.q ? std::vector<std::string>{"d"} : std::vector<std::string>{};
        std::vector<Col> cols;
        std::vector<std::string> names;
        for (const std::string& c : f.names()) {
            if (c.rfind("se_", 0) == 0 && c != "se_density") {
                names.push_back(c.substr(3));
                cols.push_back(column(c.substr(3), cont, dummies, static_cast<double>(n) / P.nr));
            }
        }
        ASSERT_EQ(names.front(), "level");
        // σ̂_i²: the squared residuals of the ordinary fit at the observations.
        std::vector<double> s2(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) {
            std::vector<double> t;
            for (int c = 0; c < k.pc; ++c) t.push_back(P.x[static_cast<std::size_t>(c)][i]);
            const auto l = weights(P, cols, t, n);
            ld fitted = 0;
            for (std::size_t c = 0; c < cols.size(); ++c) {
                const bool counts = cols[c].dummy >= 0 || std::all_of(cols[c].power.begin(), cols[c].power.end(),
                                                                     [](int e) { return e == 0; });
                if (!counts) continue;
                const ld v = cols[c].dummy >= 0 ? P.d[0][i] : 1;
                for (int j = 0; j < n; ++j) fitted += v * l[c][j] * P.y[j];
            }
            s2[i] = static_cast<double>((P.y[i] - fitted) * (P.y[i] - fitted));
        }
        const std::size_t m = at.size() / static_cast<std::size_t>(k.pc);
        for (std::size_t j = 0; j < m; ++j) {
            std::vector<double> t;
            for (int c = 0; c < k.pc; ++c) t.push_back(at[j + c * m]);
            const auto l = weights(P, cols, t, P.nr);
            for (std::size_t c = 0; c < cols.size(); ++c) {
                ld var = 0;
                for (int i = 0; i < n; ++i) var += l[c][i] * l[c][i] * s2[i];
                const double want = static_cast<double>(std::fabs(cols[c].factor) * std::sqrt(var));
                const double got = f.values(("se_" + names[c]).c_str())[j];
                EXPECT_NEAR(got, want, 1e-10 * want) << names[c] << " at point " << j;
            }
        }
    }
}

TEST(StandardErrors, AtRefittedPointsAgreeWithTheDenseWeightsOrAreNaN)
{
    // 200 observations on [0, 1], h = 0.1: from t = 2.2 on the weights span
    // 1e-100 and more, the normal equations cannot carry the fit, and the
    // points are refitted by orthogonal factors; their standard errors come
    // from the linear weights of those factors, right or NaN.
    const Data data(200, 5);
    Problem P;
    P.x = {data.x1};
    P.y = data.y;
    P.h = {0.1};
    P.nr = 200;
    const std::vector<double> at = {0.5, 2.2, 3.0, 3.6, 4.0, 4.4, 4.8};
    Request s("dorvane");
    s.y(P.y).x("a", P.x[0]).set("bandwidth", P.h).set("at", at).set("se", "residual");
    const Fit f(s);
    ASSERT_EQ(f.status, LPC_OK) << f.message();
    EXPECT_EQ(f.points("refitted"), (std::vector<long long>{1, 2, 3, 4, 5, 6}));
    const std::vector<Col> cols = {column("level", {"a"}, {}, 1.0), column("d1_a", {"a"}, {}, 1.0)};
    std::vector<double> s2(200);
    for (std::size_t i = 0; i < 200; ++i) {
        const auto l = weights(P, cols, {P.x[0][i]}, 200);
        ld fitted = 0;
        for (std::size_t j = 0; j < 200; ++j) fitted += l[0][j] * P.y[j];
        s2[i] = static_cast<double>((P.y[i] - fitted) * (P.y[i] - fitted));
    }
    int served = 0;
    for (std::size_t j = 1; j < at.size(); ++j) {
        const auto l = weights(P, cols, {at[j]}, 200);
        for (std::size_t c = 0; c < 2; ++c) {
            ld var = 0;
            for (std::size_t i = 0; i < 200; ++i) var += l[c][i] * l[c][i] * s2[i];
            const double want = static_cast<double>(std::sqrt(var));
            const double got = f.values(c == 0 ? "se_level" : "se_d1_a")[j];
            if (std::isnan(got)) continue;
            ++served;
            EXPECT_NEAR(got, want, 1e-10 * want) << c << " at t = " << at[j];
        }
    }
    EXPECT_GE(served, 2);  // t = 2.2 at least
}

TEST(StandardErrors, TheDensitysIsItsAsymptoticFormula)
{
    const Data d(200);
    Request s("dorvane");
    s.y(d.y).x("x1", d.x1).x("x2", d.x2).set("bandwidth", std::vector<double>{0.2, 0.3}).set("ci", "pointwise");
    const Fit f(s);
    ASSERT_EQ(f.status, LPC_OK) << f.message();
    const double R = 1.0 / (2.0 * std::sqrt(3.14159265358979323846));
    const std::vector<double> fh = f.values("density"), se = f.values("se_density");
    for (std::size_t j = 0; j < fh.size(); j += 37) EXPECT_NEAR(se[j], std::sqrt(fh[j] * R * R / (200 * 0.2 * 0.3)), 1e-14);
}

// Coverage by seeded simulation: y = sin(πx) + x/2 + (0.2 + 0.3x)·ε, x uniform
// on [0, 1], n = 400, at 11 points from 0 to 1; the rule of thumb (h near
// 0.09) and cross-validation both resolve this curve.
struct Coverage {
    std::vector<double> level, d1;  // per point
    double band = 0;
    double h = 0;
};
Coverage simulate(const char* bandwidth, const char* ci, int reps, unsigned seed)
{
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> unit(0, 1);
    std::normal_distribution<double> noise(0, 1);
    const int n = 400, m = 11;
    std::vector<double> t;
    for (int j = 0; j < m; ++j) t.push_back(j / 10.0);
    Coverage c;
    c.level.assign(m, 0);
    c.d1.assign(m, 0);
    const double pi = 3.14159265358979323846;
    for (int r = 0; r < reps; ++r) {
        std::vector<double> x(n), y(n);
        for (int i = 0; i < n; ++i) {
            x[i] = unit(gen);
            y[i] = std::sin(pi * x[i]) + 0.5 * x[i] + (0.2 + 0.3 * x[i]) * noise(gen);
        }
        Request s("dorvane");
        s.y(y).x("x", x).set("at", t).set("ci", ci).set("threads", 2LL);
        if (std::string(bandwidth) != "rot") s.set("bandwidth", bandwidth);
        const Fit f(s);
        EXPECT_EQ(f.status, LPC_OK) << f.message();
        const std::vector<double> lo = f.values("lower_level"), hi = f.values("upper_level"),
                                  dlo = f.values("lower_d1_x"), dhi = f.values("upper_d1_x");
        bool all = true;
        for (int j = 0; j < m; ++j) {
            const double v = std::sin(pi * t[j]) + 0.5 * t[j], dv = pi * std::cos(pi * t[j]) + 0.5;
            const bool in = lo[j] <= v && v <= hi[j];
            c.level[j] += in;
            c.d1[j] += dlo[j] <= dv && dv <= dhi[j];
            all = all && in;
        }
        c.band += all;
        c.h += f.values("bandwidth")[0] / reps;
    }
    for (int j = 0; j < m; ++j) c.level[j] /= reps, c.d1[j] /= reps;
    c.band /= reps;
    return c;
}

// The figures, for the README.
void show(const char* what, const Coverage& c)
{
    std::printf("%-22s h %.3f  level", what, c.h);
    for (double v : c.level) std::printf(" %.3f", v);
    std::printf("\n%-22s          d1   ", "");
    for (double v : c.d1) std::printf(" %.3f", v);
    std::printf("\n%-22s          whole curve %.3f\n", "", c.band);
}

// The simulations take a minute under the sanitizers' instrumentation; they
// run in the optimised build.
#if defined(__SANITIZE_ADDRESS__)
#define SKIP_WHEN_SLOW() GTEST_SKIP() << "simulation skipped under AddressSanitizer"
#else
#define SKIP_WHEN_SLOW() (void)0
#endif

void expect_pointwise(const Coverage& c)
{
    // Interior: at least one bandwidth from either edge.
    for (std::size_t j = 0; j < c.level.size(); ++j) {
        const double t = j / 10.0;
        const bool interior = t >= c.h && t <= 1 - c.h;
        EXPECT_GE(c.level[j], interior ? 0.92 : 0.88) << "level at " << t;
        EXPECT_GE(c.d1[j], interior ? 0.92 : 0.88) << "d1 at " << t;
        if (interior) {
            EXPECT_LE(c.level[j], 0.98) << "level at " << t;
            EXPECT_LE(c.d1[j], 0.98) << "d1 at " << t;
        }
    }
}

TEST(Coverage, RobustBiasCorrectedIntervalsCoverTheCurveAndItsSlope)
{
    SKIP_WHEN_SLOW();
    const Coverage rot = simulate("rot", "rbc", 300, 11);
    show("rbc, rule of thumb", rot);
    expect_pointwise(rot);
    const Coverage cv = simulate("cv", "rbc", 300, 12);
    show("rbc, cross-validated", cv);
    expect_pointwise(cv);
    // The conventional intervals ignore the smoothing bias and cover less.
    const Coverage plain = simulate("rot", "pointwise", 300, 11);
    show("conventional, rot", plain);
    show("conventional, cv", simulate("cv", "pointwise", 300, 12));
    double rbc = 0, conventional = 0;
    for (std::size_t j = 0; j < rot.level.size(); ++j) rbc += rot.level[j], conventional += plain.level[j];
    EXPECT_LT(conventional, rbc);
}

TEST(Coverage, TheUniformBandCoversTheWholeCurve)
{
    SKIP_WHEN_SLOW();
    const Coverage rot = simulate("rot", "uniform", 300, 13), cv = simulate("cv", "uniform", 300, 14);
    show("uniform, rule of thumb", rot);
    show("uniform, cross-validated", cv);
    EXPECT_GE(rot.band, 0.90);
    EXPECT_GE(cv.band, 0.90);
}

TEST(Band, ItsDrawsAreTheSameForAnyThreadCountAndFollowTheSeed)
{
    const Data d(300);
    auto critical = [&](long long threads, long long seed) {
        Request s("dorvane");
        s.y(d.y).x("x1", d.x1).set("grid", 30LL).set("ci", "uniform").set("threads", threads).set("seed", seed);
        const Fit f(s);
        EXPECT_EQ(f.status, LPC_OK) << f.message();
        return f.values("critical_value").at(0);
    };
    const double one = critical(1, 5);
    EXPECT_TRUE(same_bits(one, critical(2, 5)));
    EXPECT_TRUE(same_bits(one, critical(7, 5)));
    EXPECT_FALSE(same_bits(one, critical(2, 6)));
    // Thirty correlated points need more than the pointwise 1.96, less than Bonferroni's 3.19.
    EXPECT_GT(one, 2.2);
    EXPECT_LT(one, 3.19);
}

TEST(ResidualVariance, IsNeverNegativeAndFollowsTheTrueVariance)
{
    std::mt19937_64 gen(8);
    std::uniform_real_distribution<double> unit(0, 1);
    std::normal_distribution<double> noise(0, 1);
    std::vector<double> x, y;
    for (int i = 0; i < 3000; ++i) {
        x.push_back(unit(gen));
        y.push_back(std::sin(3 * x.back()) + (0.2 + 0.3 * x.back()) * noise(gen));
    }
    Request s("dorvane");
    s.y(y).x("x", x).set("vol", 1LL).set("var_residual", 1LL).set("grid", 21LL).set("bandwidth", 0.08);
    const Fit f(s);
    ASSERT_EQ(f.status, LPC_OK) << f.message();
    const std::vector<double> t = f.values("x"), v = f.values("var_residual");
    for (std::size_t j = 0; j < t.size(); ++j) {
        EXPECT_GE(v[j], 0.0);
        const double truth = (0.2 + 0.3 * t[j]) * (0.2 + 0.3 * t[j]);
        if (t[j] > 0.1 && t[j] < 0.9) {
            EXPECT_NEAR(v[j] / truth, 1.0, 0.2) << t[j];
        }
    }
}

TEST(Draws, TheLogarithmAndTheNormalDrawsAreAccurate)
{
    std::mt19937_64 gen(3);
    for (int k = 0; k < 100000; ++k) {
        const double x = std::ldexp(1.0 + static_cast<double>(gen() >> 11) * 0x1p-53, static_cast<int>(gen() % 2000) - 1000);
        const long double exact = std::log(static_cast<long double>(x));
        EXPECT_NEAR(lpc::log_det(x), static_cast<double>(exact), 2.5e-16 * std::fabs(static_cast<double>(exact)) + 1e-300);
    }
    EXPECT_EQ(lpc::log_det(1.0), 0.0);
    EXPECT_NEAR(lpc::log_det(0x1p-1074), -744.4400719213812, 1e-12);
    // The draws' first two moments.
    double s = 0, s2 = 0;
    const int N = 200000;
    for (int i = 0; i < N; ++i) {
        const double z = lpc::normal(9, static_cast<std::uint64_t>(i));
        s += z, s2 += z * z;
    }
    EXPECT_NEAR(s / N, 0.0, 0.01);
    EXPECT_NEAR(s2 / N, 1.0, 0.01);
    EXPECT_NEAR(lpc::t_quantile(0.975, 10), 2.2281388519649385, 2e-3);
    EXPECT_NEAR(lpc::t_quantile(0.975, 100), 1.9839715184496334, 1e-6);
}

}  // namespace
