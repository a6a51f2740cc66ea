// From columns to the argument block: returns and lags, column names against
// the libraries' layouts, lam, grids, bandwidths and the normal quantile
// behind the confidence band.
#include <gtest/gtest.h>

#include <cmath>

#include "cli/tool.h"
#include "host/band.h"
#include "host/csv.h"
#include "host/design.h"

namespace {

lpfit::Data data_with(std::vector<std::string> cont, std::vector<std::string> dummies, std::size_t n = 20)
{
    lpfit::Data d;
    d.cont = std::move(cont);
    d.dummies = std::move(dummies);
    for (std::size_t i = 0; i < n; ++i) d.y.push_back(static_cast<double>(i));
    for (std::size_t k = 0; k < d.cont.size(); ++k) {
        d.xc.emplace_back();
        for (std::size_t i = 0; i < n; ++i) d.xc.back().push_back(std::sin(static_cast<double>(i * (k + 2))));
    }
    for (std::size_t k = 0; k < d.dummies.size(); ++k) {
        d.xd.emplace_back();
        for (std::size_t i = 0; i < n; ++i) d.xd.back().push_back(static_cast<double>((i + k) % 2));
    }
    return d;
}

template <class F>
std::string error_of(F f)
{
    try {
        f();
    } catch (const lpfit::InputError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(Returns, LaggedLogReturnsOfAPriceColumn)
{
    Scratch s;
    lpfit::Source src;
    src.path = s.file("p.csv", "day,P\n1,100\n2,110\n3,99\n4,99\n5,120\n");
    src.returns = "P";
    src.lags = 2;
    const lpfit::Data d = lpfit::load_data(src);
    // r = log(110/100), log(99/110), log(99/99), log(120/99); rows t = 2, 3.
    const double r[] = {std::log(110.0 / 100), std::log(99.0 / 110), 0.0, std::log(120.0 / 99)};
    EXPECT_EQ(d.cont, (std::vector<std::string>{"lag1", "lag2"}));
    EXPECT_EQ(d.y, (std::vector<double>{r[2], r[3]}));
    EXPECT_EQ(d.xc[0], (std::vector<double>{r[1], r[2]}));
    EXPECT_EQ(d.xc[1], (std::vector<double>{r[0], r[1]}));

    src.path = s.file("z.csv", "P\n100\n0\n");
    EXPECT_EQ(error_of([&] { lpfit::load_data(src); }), s.path("z.csv") + ":3: column 1 'P': price 0 is not positive, so it has no log return");
}

TEST(OutputColumns, MatchTheLayoutOfEveryEstimator)
{
    const lpfit::Data d = data_with({"a", "b", "c"}, {"D"});
    struct Case {
        const char* est;
        int deg, lam;
        std::vector<std::string> mh;
    };
    const Case cases[] = {
        {"dorvane", 1, 0, {"level", "d1_a", "d1_b", "d1_c", "effect_D"}},
        {"dorvane", 2, 0, {"level", "d1_a", "d1_b", "d1_c", "effect_D", "d2_a", "d2_b", "d2_c"}},
        {"tremsal", 3, 0, {"level", "d1_a", "d1_b", "d1_c", "effect_D", "d2_a", "d2_b", "d2_c", "d3_a", "d3_b", "d3_c"}},
        {"locpa2g", 2, 2, {"level", "d1_a", "d1_b", "d1_c", "effect_D", "d2_a", "d2_b", "d2_c", "d2_a_b", "d2_c_b"}},
        {"locparg", 3, 2, {"level", "d1_a", "d1_b", "d1_c", "effect_D", "d2_a", "d2_b", "d2_c", "d2_a_b", "d2_c_b",
                           "c3_a_a_b", "c3_c_c_b", "c3_a_b_b", "c3_b_b_b", "c3_c_b_b"}},
    };
    for (const Case& c : cases) {
        const lpfit::Columns cols = lpfit::output_columns(c.est, d, c.deg, c.lam);
        EXPECT_EQ(cols.mh, c.mh) << c.est << " deg " << c.deg;
        host::Problem pr = lpfit::problem(d, {0.5, 0.5, 0.5}, lpfit::observation_points(d));
        pr.deg = c.deg;
        pr.lam = c.lam;
        EXPECT_EQ(static_cast<int>(cols.mh.size()), host::output_columns(c.est, pr)) << c.est;
        ASSERT_EQ(cols.sh.size(), cols.mh.size());
    }
    const lpfit::Columns l = lpfit::output_columns("locparg", d, 3, 2);
    EXPECT_EQ(l.sh[0], "var");
    EXPECT_EQ(l.sh[4], "var_effect_D");
    EXPECT_EQ(l.sh[5], "var_d2_a");
    EXPECT_EQ(l.sh[8], "y2_d2_a_b");
    EXPECT_EQ(l.sh[13], "y2_c3_b_b_b");
    EXPECT_EQ(lpfit::output_columns("tremsal", d, 3, 0).sh[8], "y2_c3_a_a_a");
}

TEST(ArgumentBlock, ContinuousFirstAndTheDummyCountInTheLastBandwidth)
{
    const lpfit::Data d = data_with({"a", "b"}, {"D"}, 4);
    lpfit::Points at;
    at.m = 2;
    at.t = {0.1, 0.2, 0.3, 0.4};
    const host::Problem pr = lpfit::problem(d, {0.5, 0.7}, at);
    EXPECT_EQ(pr.n, 4);
    EXPECT_EQ(pr.p, 3);
    EXPECT_EQ(pr.h, (std::vector<double>{0.5, 0.7, -2}));
    EXPECT_EQ(std::vector<double>(pr.x.begin() + 8, pr.x.end()), d.xd[0]);
    EXPECT_EQ(pr.t, (std::vector<double>{0.1, 0.2, 0.3, 0.4, 0, 0}));
    EXPECT_EQ(lpfit::problem(data_with({"a"}, {}, 4), {0.5}, at).h, (std::vector<double>{0.5}));
}

TEST(Lam, ByNameOrNumberAmongTheContinuousRegressors)
{
    const lpfit::Data d = data_with({"a", "b"}, {"D"});
    EXPECT_EQ(lpfit::resolve_lam(d, "b"), 2);
    EXPECT_EQ(lpfit::resolve_lam(d, "1"), 1);
    EXPECT_EQ(lpfit::resolve_lam(d, "2"), 2);
    EXPECT_EQ(error_of([&] { lpfit::resolve_lam(d, "3"); }), "--lam 3 is outside the continuous regressors, numbered 1 to 2");
    EXPECT_EQ(error_of([&] { lpfit::resolve_lam(d, "99999999999999"); }).substr(0, 22), "--lam 99999999999999 i");
    EXPECT_EQ(error_of([&] { lpfit::resolve_lam(d, "q"); }), "--lam 'q' is not a continuous regressor (they are a, b)");
}

TEST(Grid, EndsExactlyAtTheDataRangeAndVariesTheFirstAxisFastest)
{
    const std::vector<double> a = {0.3, -1.7, 2.9, 0.0}, b = {10, 30, 20, 10}, c = {0.5, -1.5, 2.5};
    const lpfit::Points one = lpfit::grid_points({a}, 7);
    ASSERT_EQ(one.m, 7u);
    EXPECT_EQ(one.t.front(), -1.7);
    EXPECT_EQ(one.t.back(), 2.9);
    for (std::size_t j = 1; j < 7; ++j) EXPECT_NEAR(one.t[j] - one.t[j - 1], 4.6 / 6, 1e-15);
    const lpfit::Points two = lpfit::grid_points({c, b}, 3);
    ASSERT_EQ(two.m, 9u);
    EXPECT_EQ(std::vector<double>(two.t.begin(), two.t.begin() + 9),
              (std::vector<double>{-1.5, 0.5, 2.5, -1.5, 0.5, 2.5, -1.5, 0.5, 2.5}));
    EXPECT_EQ(std::vector<double>(two.t.begin() + 9, two.t.end()), (std::vector<double>{10, 10, 10, 20, 20, 20, 30, 30, 30}));
    EXPECT_NE(error_of([&] { lpfit::grid_points({a, a, a}, 3); }).find("give the points with --at"), std::string::npos);
    EXPECT_NE(error_of([&] { lpfit::grid_points({a}, 1); }).find("at least 2"), std::string::npos);
}

TEST(Bandwidth, RuleOfThumbIsSilvermansForOneRegressorAndADegreeOne)
{
    lpfit::Data d = data_with({"a"}, {}, 0);
    for (int i = 0; i < 100; ++i) {
        d.y.push_back(0);
        d.xc[0].push_back(i % 2 ? 1.0 : -1.0);  // sample sd sqrt(100/99)
    }
    const double s = std::sqrt(100.0 / 99.0);
    EXPECT_NEAR(lpfit::rule_of_thumb(d, 1)[0], 1.0592238410488122 * s * std::pow(100.0, -0.2), 1e-15);
    EXPECT_NEAR(lpfit::rule_of_thumb(d, 3)[0], 1.0592238410488122 * s * std::pow(100.0, -1.0 / 9), 1e-15);
}

TEST(Bandwidth, CandidatesAndGivenValues)
{
    const std::vector<std::vector<double>> grid = lpfit::cv_candidates("5", {2.0, 8.0});
    ASSERT_EQ(grid.size(), 5u);
    EXPECT_EQ(grid.front(), (std::vector<double>{0.5, 2.0}));
    EXPECT_EQ(grid[2], (std::vector<double>{2.0, 8.0}));
    EXPECT_EQ(grid.back(), (std::vector<double>{8.0, 32.0}));
    EXPECT_EQ(lpfit::cv_candidates("0.1,3", {1, 1}), (std::vector<std::vector<double>>{{0.1, 0.1}, {3, 3}}));
    EXPECT_EQ(lpfit::cv_candidates("2.0", {1}), (std::vector<std::vector<double>>{{2.0}}));
    EXPECT_NE(error_of([&] { lpfit::cv_candidates("1", {1}); }).find("count of 2 to 1000"), std::string::npos);
    EXPECT_EQ(error_of([&] { lpfit::cv_candidates("0.1,-2", {1}); }), "--cv candidate '-2' is not a positive finite number");

    EXPECT_EQ(lpfit::given_bandwidths({"0.25"}, 3), (std::vector<double>{0.25, 0.25, 0.25}));
    EXPECT_EQ(lpfit::given_bandwidths({"1", "2"}, 2), (std::vector<double>{1, 2}));
    EXPECT_EQ(error_of([&] { lpfit::given_bandwidths({"1e400"}, 1); }), "--bandwidth '1e400' is not a positive finite number");
    EXPECT_NE(error_of([&] { lpfit::given_bandwidths({"1", "2"}, 3); }).find("give one, or one for each of the 3"), std::string::npos);
}

TEST(NormalQuantile, KnownValuesAndTheRoundTripThroughErfc)
{
    EXPECT_NEAR(lpfit::normal_quantile(0.975), 1.9599639845400542, 1e-15);
    EXPECT_NEAR(lpfit::normal_quantile(0.995), 2.5758293035489004, 1e-15);
    EXPECT_NEAR(lpfit::normal_quantile(0.9), 1.2815515655446008, 1e-15);
    EXPECT_EQ(lpfit::normal_quantile(0.5), 0.0);
    // The band's z for 95 %, as R's qnorm and Python's NormalDist give it.
    EXPECT_EQ(-lpfit::normal_quantile(0.025), 1.9599639845400538);
    for (double p : {1e-300, 1e-100, 1e-20, 1e-10, 1e-5, 0.01, 0.02425, 0.1, 0.3, 0.49}) {
        const double z = lpfit::normal_quantile(p);
        EXPECT_NEAR(0.5 * std::erfc(-z / std::sqrt(2.0)) / p, 1.0, 5e-13) << p;
        if (p > 1e-10) {  // 1 - p rounds
            EXPECT_NEAR(lpfit::normal_quantile(1.0 - p), -z, 1e-15 + 1e-16 / p) << p;
        }
    }
    EXPECT_TRUE(std::isnan(lpfit::normal_quantile(0.0)));
    EXPECT_TRUE(std::isnan(lpfit::normal_quantile(1.0)));
    EXPECT_TRUE(std::isnan(lpfit::normal_quantile(NAN)));
}

