// Column layouts of the local designs, written out as products of regressors.
#include <string>
#include <vector>

#include "estimators/frame.h"
#include "support.h"

namespace {

lp::Args args(int p, int pc, int deg, int lam = 0)
{
    lp::Args a{};
    a.name = "test";
    a.p = p;
    a.pc = pc;
    a.deg = deg;
    a.lam = lam;
    return a;
}

// Each column as "<kind> <product>", e.g. "square z1*z1"; regressors are
// numbered from 1 as z (continuous) or d (dummy).
std::vector<std::string> describe(const lp::Layout& lay)
{
    static const char* kinds[] = {"intercept", "slope", "dummy", "square", "cube", "cross"};
    std::vector<std::string> expr(lay.size()), out;
    for (int c = 0; c < lay.size(); ++c) {
        const lp::Column& col = lay[c];
        switch (col.kind) {
        case lp::Kind::intercept: expr[c] = "1"; break;
        case lp::Kind::slope: expr[c] = "z" + std::to_string(col.a + 1); break;
        case lp::Kind::dummy: expr[c] = "d" + std::to_string(col.a + 1); break;
        default: expr[c] = expr[col.a] + "*" + expr[col.b]; break;
        }
        out.push_back(std::string(kinds[static_cast<int>(col.kind)]) + " " + expr[c]);
    }
    return out;
}

std::vector<std::string> power(int p, int pc, int deg, bool cubes)
{
    lp::Layout lay;
    EXPECT_TRUE(lp::power_layout(args(p, pc, deg), lay, cubes));
    EXPECT_TRUE(lay.complete());
    return describe(lay);
}

using Cols = std::vector<std::string>;

}  // namespace

TEST(PowerLayout, LinearAndQuadratic)
{
    EXPECT_EQ(power(1, 1, 1, false), (Cols{"intercept 1", "slope z1"}));
    EXPECT_EQ(power(2, 1, 1, false), (Cols{"intercept 1", "slope z1", "dummy d2"}));
    EXPECT_EQ(power(2, 2, 2, false),
              (Cols{"intercept 1", "slope z1", "slope z2", "square z1*z1", "square z2*z2"}));
}

TEST(PowerLayout, HigherDegreesSquareOnPastTheContinuousColumns)
{
    EXPECT_EQ(power(1, 1, 3, false), (Cols{"intercept 1", "slope z1", "square z1*z1", "square z1*z1*z1*z1"}));
    EXPECT_EQ(power(1, 1, 4, false).back(), "square z1*z1*z1*z1*z1*z1*z1*z1");
    // One continuous regressor and one dummy, deg = 3: the dummy is squared.
    EXPECT_EQ(power(2, 1, 3, false),
              (Cols{"intercept 1", "slope z1", "dummy d2", "square z1*z1", "square d2*d2"}));
}

TEST(PowerLayout, CubesReplaceTheThirdRoundForDegreeThree)
{
    EXPECT_EQ(power(1, 1, 3, true), (Cols{"intercept 1", "slope z1", "square z1*z1", "cube z1*z1*z1"}));
    EXPECT_EQ(power(3, 2, 3, true),
              (Cols{"intercept 1", "slope z1", "slope z2", "dummy d3", "square z1*z1", "square z2*z2",
                    "cube z1*z1*z1", "cube z2*z2*z2"}));
    // Every other degree is the dorvane layout.
    for (int deg : {1, 2, 4}) EXPECT_EQ(power(2, 2, deg, true), power(2, 2, deg, false)) << deg;
}

TEST(PowerLayout, RefusesMoreColumnsThanCanBeServed)
{
    lp::Layout lay;
    std::string out;
    out = printed_by([&] { EXPECT_FALSE(lp::power_layout(args(2, 2, 2000000000), lay, false)); });
    EXPECT_EQ(out, "test: 4000000001 design columns are more than can be served\n");
}
