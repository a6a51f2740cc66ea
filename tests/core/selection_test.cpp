// Bandwidth selection: the minimisers on known functions, cross-validation
// against an exhaustive search of its own scores, AICc and the leverages
// against a dense smoother matrix, and the plug-in rule against its formula
// and against KernSmooth's dpill.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>

#include "core.h"
#include "core/minimise.h"
#include "core/plugin.h"

namespace {

const double inf = std::numeric_limits<double>::infinity();

// The numeric columns of a CSV file with a header line, by name.
std::map<std::string, std::vector<double>> read_csv(const std::string& path)
{
    std::ifstream in(path);
    EXPECT_TRUE(in.good()) << path;
    std::string line;
    std::getline(in, line);
    std::vector<std::string> names;
    std::stringstream head(line);
    for (std::string cell; std::getline(head, cell, ',');) {
        if (!cell.empty() && cell.front() == '"') cell = cell.substr(1, cell.size() - 2);
        names.push_back(cell);
    }
    std::map<std::string, std::vector<double>> cols;
    while (std::getline(in, line)) {
        std::stringstream row(line);
        std::size_t k = 0;
        for (std::string cell; std::getline(row, cell, ','); ++k) cols[names[k]].push_back(std::atof(cell.c_str()));
    }
    return cols;
}

std::string data(const char* file) { return std::string(LP_DATA_DIR) + "/" + file; }

TEST(Minimisers, BrentFindsTheMinimumOfALineWithinItsTolerance)
{
    int evals = 0;
    const lpc::Objective f = [&](const std::vector<double>& u) {
        ++evals;
        return (u[0] - 0.37) * (u[0] - 0.37) * (1 + u[0] * u[0]) + 2.0;
    };
    const lpc::Found got = lpc::minimise_line(f, 0.0, std::log(2.0), -6, 6, 1e-5);
    EXPECT_NEAR(got.u[0], 0.37, 2e-5);
    EXPECT_FALSE(got.at_limit);
    EXPECT_LT(evals, 30);
}

TEST(Minimisers, TheBracketWidensTowardsTheMinimumAndStopsAtItsLimit)
{
    // The minimum lies far right of the start: the grid widens until it holds it.
    const lpc::Objective far = [](const std::vector<double>& u) { return std::fabs(u[0] - 4.2); };
    EXPECT_NEAR(lpc::minimise_line(far, 0.0, 0.5, -10, 10, 1e-6).u[0], 4.2, 1e-5);
    // A criterion falling without end stops at the limit, and says so.
    const lpc::Objective falling = [](const std::vector<double>& u) { return -u[0]; };
    const lpc::Found edge = lpc::minimise_line(falling, 0.0, 0.5, -3, 3, 1e-6);
    EXPECT_DOUBLE_EQ(edge.u[0], 3.0);
    EXPECT_TRUE(edge.at_limit);
    // Failed fits (+inf) below some bandwidth are stepped away from.
    const lpc::Objective failing = [](const std::vector<double>& u) {
        return u[0] < -1.0 ? inf : (u[0] + 0.5) * (u[0] + 0.5);
    };
    EXPECT_NEAR(lpc::minimise_line(failing, -1.2, 0.5, -6, 6, 1e-6).u[0], -0.5, 1e-5);
}

TEST(Minimisers, TheSimplexFindsAValleysMinimumInTwoDimensions)
{
    const lpc::Objective valley = [](const std::vector<double>& u) {
        const double a = u[0] - 1.0, b = u[1] - u[0] * u[0];
        return a * a + 10 * b * b;
    };
    const lpc::Found got = lpc::minimise_simplex(valley, {-1.0, 2.0}, 0.7, {-5, -5}, {5, 5}, 1e-7, 2000);
    EXPECT_NEAR(got.u[0], 1.0, 1e-4);
    EXPECT_NEAR(got.u[1], 1.0, 2e-4);
    // A box edge: the minimum of (u0 - 3)² + u1² within u0 <= 2.
    const lpc::Objective beyond = [](const std::vector<double>& u) { return (u[0] - 3) * (u[0] - 3) + u[1] * u[1]; };
    const lpc::Found edge = lpc::minimise_simplex(beyond, {0, 1}, 0.5, {-2, -2}, {2, 2}, 1e-7, 2000);
    EXPECT_NEAR(edge.u[0], 2.0, 1e-6);
    EXPECT_TRUE(edge.at_limit);
}

// The scores of the candidates of a grid, through the core.
std::vector<double> scores(const std::vector<double>& y, const std::map<std::string, std::vector<double>>& xs,
                           const std::vector<double>& grid, const char* method = "cv")
{
    Request s("dorvane");
    s.y(y);
    for (const auto& [name, x] : xs) s.x(name.c_str(), x);
    s.set("bandwidth", method).set("cv_grid", grid).set("task", "score");
    const Fit f(s);
    EXPECT_EQ(f.status, LPC_OK) << f.message();
    return f.values("score");
}

TEST(CrossValidation, ItsMinimumIsThatOfAFineSearchOfItsScores)
{
    auto mc = read_csv(data("../../../data/mcycle.csv"));
    Request s("dorvane");
    s.y(mc["accel"]).x("times", mc["times"]).set("bandwidth", "cv").set("at", std::vector<double>{10.0});
    const Fit f(s);
    ASSERT_EQ(f.status, LPC_OK) << f.message();
    const double h = f.values("bandwidth")[0];
    // A search over a fine grid around it, 0.02% apart.
    std::vector<double> grid;
    for (int k = -50; k <= 50; ++k) grid.push_back(h * std::pow(1.0002, k));
    const std::vector<double> sc = scores(mc["accel"], {{"times", mc["times"]}}, grid);
    const std::size_t best = static_cast<std::size_t>(std::min_element(sc.begin(), sc.end()) - sc.begin());
    EXPECT_NEAR(grid[best] / h, 1.0, 1.5e-4);
    EXPECT_NEAR(h, 1.476, 0.001);  // the least-squares cross-validation minimum of accel ~ times
    EXPECT_NE(f.text("notes").find("least-squares cross-validation score minimised over log h"), std::string::npos);
    EXPECT_EQ(f.values("selection_h").size(), f.values("selection_score").size());
}

TEST(CrossValidation, TwoRegressorsFindTheMinimumOfAGridSearch)
{
    auto bo = read_csv(data("boston.csv"));
    Request s("dorvane");
    s.y(bo["medv"]).x("lstat", bo["lstat"]).x("rm", bo["rm"]).set("bandwidth", "cv");
    s.set("at", std::vector<double>{10.0, 6.0});
    const Fit f(s);
    ASSERT_EQ(f.status, LPC_OK) << f.message();
    const std::vector<double> h = f.values("bandwidth");
    // The grid search around the choice: 1% apart in each regressor.
    std::vector<double> a, b;
    for (int i = -4; i <= 4; ++i)
        for (int j = -4; j <= 4; ++j) a.push_back(h[0] * std::pow(1.01, i)), b.push_back(h[1] * std::pow(1.01, j));
    std::vector<double> grid = a;
    grid.insert(grid.end(), b.begin(), b.end());
    const std::vector<double> sc = scores(bo["medv"], {{"lstat", bo["lstat"]}, {"rm", bo["rm"]}}, grid);
    const std::size_t best = static_cast<std::size_t>(std::min_element(sc.begin(), sc.end()) - sc.begin());
    EXPECT_EQ(best, 40u) << a[best] << " " << b[best];  // the centre: the choice itself
    EXPECT_NEAR(h[0], 2.746, 0.01);
    EXPECT_NEAR(h[1], 1.023, 0.005);
    EXPECT_EQ(f.values("selection_start").size(), 3u * 2u);
}

// The dense smoother matrix of a local linear fit at the observations:
// ŷ = S y, S_ij = e0ᵀ (ZᵀWZ)⁻¹ z_j w_j at x_i.
std::vector<double> smoother(const std::vector<double>& x, double h)
{
    const std::size_t n = x.size();
    std::vector<double> S(n * n);
    for (std::size_t i = 0; i < n; ++i) {
        long double s0 = 0, s1 = 0, s2 = 0;
        std::vector<long double> w(n);
        for (std::size_t j = 0; j < n; ++j) {
            const long double d = x[j] - x[i];
            w[j] = std::exp(-0.5L * (d / h) * (d / h));
            s0 += w[j], s1 += w[j] * d, s2 += w[j] * d * d;
        }
        for (std::size_t j = 0; j < n; ++j)
            S[i + j * n] = static_cast<double>(w[j] * (s2 - s1 * (x[j] - x[i])) / (s0 * s2 - s1 * s1));
    }
    return S;
}

TEST(Aicc, LeveragesAndTheCriterionAgreeWithADenseSmootherMatrix)
{
    const Data d(60, 3);
    const double h = 0.15;
    const std::vector<double> S = smoother(d.x1, h);
    const std::size_t n = d.x1.size();
    double trace = 0, rss = 0;
    for (std::size_t i = 0; i < n; ++i) {
        trace += S[i + i * n];
        double fit = 0;
        for (std::size_t j = 0; j < n; ++j) fit += S[i + j * n] * d.y[j];
        rss += (d.y[i] - fit) * (d.y[i] - fit);
    }
    const double N = static_cast<double>(n);
    const double aicc = std::log(rss / N) + (1 + trace / N) / (1 - (trace + 2) / N);

    Request s("dorvane");
    s.y(d.y).x("x1", d.x1).set("bandwidth", h).set("fitted", 1LL);
    const Fit f(s);
    ASSERT_EQ(f.status, LPC_OK) << f.message();
    const std::vector<double> lev = f.values("leverage");
    ASSERT_EQ(lev.size(), n);
    for (std::size_t i = 0; i < n; ++i) EXPECT_NEAR(lev[i], S[i + i * n], 1e-12) << i;
    EXPECT_NEAR(scores(d.y, {{"x1", d.x1}}, {h}, "aicc")[0], aicc, 1e-11);
}

TEST(Aicc, IsMinimisedLikeCrossValidation)
{
    auto mc = read_csv(data("../../../data/mcycle.csv"));
    Request s("dorvane");
    s.y(mc["accel"]).x("times", mc["times"]).set("bandwidth", "aicc").set("curve", 1LL).set("at", std::vector<double>{10.0});
    const Fit f(s);
    ASSERT_EQ(f.status, LPC_OK) << f.message();
    const double h = f.values("bandwidth")[0];
    const std::vector<double> ch = f.values("curve_h"), cs = f.values("curve_score");
    ASSERT_EQ(ch.size(), 41u);
    EXPECT_DOUBLE_EQ(ch[20], h);
    // The curve's least value is the choice, its neighbours above it.
    EXPECT_EQ(std::min_element(cs.begin(), cs.end()) - cs.begin(), 20);
    EXPECT_EQ(f.text("method"), "aicc");
}

TEST(Plugin, FollowsItsFormulaStepByStep)
{
    // m(x) = x⁴ on [0, 1], no noise but a small regular wobble: the quartic
    // pilot on one block is exact, so θ24 = ∫ 12x²·24 over the inner range.
    std::vector<double> x, y;
    const int n = 400;
    for (int i = 0; i < n; ++i) {
        x.push_back((i + 0.5) / n);
        y.push_back(std::pow(x.back(), 4) + 0.01 * ((i % 2) ? 1 : -1));
    }
    lpc::Progress quiet(nullptr, nullptr);
    const lpc::Plugin P = lpc::plugin_steps(x, y, 1, quiet);
    EXPECT_EQ(P.n, 392u);  // 1% trimmed at each end
    const double a = x[4], b = x[395], lo = a + 0.05 * (b - a), hi = b - 0.05 * (b - a);
    EXPECT_NEAR(P.range, hi - lo, 1e-15);
    // θ22 and θ24 of the pilot: sums over the inner observations of
    // (12x²)² and 12x²·24, over n.
    double t22 = 0, t24 = 0;
    for (int i = 4; i < 396; ++i)
        if (x[i] >= lo && x[i] <= hi) t22 += 144 * std::pow(x[i], 4), t24 += 288 * x[i] * x[i];
    if (P.blocks == 1) {
        EXPECT_NEAR(P.theta22_q, t22 / 392, 5e-3 * t22 / 392);
        EXPECT_NEAR(P.theta24_q, t24 / 392, 5e-3 * t24 / 392);
    }
    const double pi = 3.14159265358979323846;
    EXPECT_DOUBLE_EQ(P.g, std::pow(3.0 / (8.0 * std::sqrt(pi)), 1.0 / 7.0) *
                              std::pow(P.sigma2_q * P.range / (std::fabs(P.theta24_q) * 392.0), 1.0 / 7.0));
    EXPECT_DOUBLE_EQ(P.h, std::pow(P.sigma2 * P.range / (2.0 * std::sqrt(pi) * P.theta22 * 392.0), 0.2));
    EXPECT_NEAR(P.sigma2, 1e-4, 3e-5);  // the wobble's variance
}

TEST(Plugin, IsCloseToKernSmoothsDpill)
{
    const auto ref = read_csv(data("dpill.csv"));
    const auto mc = read_csv(data("../../../data/mcycle.csv")), fa = read_csv(data("faithful.csv")),
               bo = read_csv(data("boston.csv"));
    const std::vector<std::pair<const std::vector<double>*, const std::vector<double>*>> sets = {
        {&mc.at("times"), &mc.at("accel")}, {&fa.at("waiting"), &fa.at("eruptions")}, {&bo.at("lstat"), &bo.at("medv")}};
    for (std::size_t k = 0; k < sets.size(); ++k) {
        Request s("dorvane");
        s.y(*sets[k].second).x("x", *sets[k].first).set("bandwidth", "plugin").set("at", std::vector<double>{0.0});
        const Fit f(s);
        ASSERT_EQ(f.status, LPC_OK) << f.message();
        // dpill bins its pilots and picks its blocks in its own way: within 10%.
        EXPECT_NEAR(f.values("bandwidth")[0] / ref.at("h")[k], 1.0, 0.10) << k;
    }
    Request two("dorvane");
    two.y(bo.at("medv")).x("lstat", bo.at("lstat")).x("rm", bo.at("rm")).set("bandwidth", "plugin");
    const Fit refused(two);
    EXPECT_EQ(refused.status, LPC_EINPUT);
}

}  // namespace
