// Reading of the argument block: the integer reading of host doubles, the
// number of continuous regressors, and the refusals that keep the host alive.
#include <climits>
#include <cmath>
#include <limits>

#include "estimators/frame.h"
#include "support.h"

using lp::toint;

TEST(IntegerReading, TruncatesTowardZero)
{
    EXPECT_EQ(toint(-0.9), 0);
    EXPECT_EQ(toint(2.99), 2);
    EXPECT_EQ(toint(-2.7), -2);
    EXPECT_EQ(toint(-0.0), 0);
}

TEST(IntegerReading, KeepsTheLowThirtyTwoBits)
{
    EXPECT_EQ(toint(4294967296.0 + 5), 5);
    EXPECT_EQ(toint(2147483648.0), INT_MIN);
    EXPECT_EQ(toint(-2147483648.0), INT_MIN);
    EXPECT_EQ(toint(4294967295.0), -1);
    EXPECT_EQ(toint(-4294967297.0), -1);
    EXPECT_EQ(toint(9007199254740993.0), static_cast<int>(9007199254740992LL & 0xffffffffLL));
}

TEST(IntegerReading, DefinedForEveryDouble)
{
    EXPECT_EQ(toint(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(toint(std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(toint(-std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(toint(1e300), 0);  // a multiple of 2^32
    EXPECT_EQ(toint(-1e300), 0);
    EXPECT_EQ(toint(std::ldexp(1.0, 63) + std::ldexp(1.0, 20)), 1 << 20);
}

namespace {

// A well-formed call that each test spoils in one place.
struct Call {
    double x[6] = {0, 1, 2, 0, 1, 0}, y[3] = {1, 2, 3}, t[2] = {0.5, 1}, h[2] = {0.5, -1};
    double grp[2] = {0, 0}, mh[8] = {}, sh[8] = {}, fh[2] = {};
    double n = 3, p = 2, nr = 3, m = 1, deg = 1, vol = 0, nloo = 0, lam = 1;

    lp::Pointers pointers(bool with_lam = false)
    {
        return {x, &n, &p, y, &nr, t, &m, h, grp, mh, sh, fh, &deg, &vol, &nloo, with_lam ? &lam : nullptr};
    }
    // The line read_args prints; empty when it accepts.
    std::string refusal(bool with_lam = false)
    {
        lp::Args a{};
        bool ok = true;
        std::string out = printed_by([&] { ok = lp::read_args(pointers(with_lam), "dorvane", a); });
        EXPECT_EQ(ok, out.empty()) << out;
        return out;
    }
};

}  // namespace

TEST(ArgumentBlock, ContinuousCountFromTheLastBandwidth)
{
    Call c;
    c.p = 3;
    double h[3] = {0.5, 0.7, -2.7};
    lp::Pointers ptr = c.pointers();
    ptr.h = h;
    double x[9] = {};
    ptr.x = x;
    lp::Args a{};
    ASSERT_TRUE(lp::read_args(ptr, "dorvane", a));
    EXPECT_EQ(a.pc, 2);
    h[2] = 0.0;  // zero counts as non-negative: all continuous
    ASSERT_TRUE(lp::read_args(ptr, "dorvane", a));
    EXPECT_EQ(a.pc, 3);
}

TEST(ArgumentBlock, AcceptsAWellFormedCall)
{
    Call c;
    EXPECT_EQ(c.refusal(), "");
    c.m = 0;  // no evaluation points is a valid call
    EXPECT_EQ(c.refusal(), "");
    c.h[0] = 0.0;  // a zero bandwidth flows as NaN
    EXPECT_EQ(c.refusal(), "");
}

TEST(ArgumentBlock, RefusesCountsOutsideTheirLimits)
{
    auto with = [](auto spoil) {
        Call c;
        spoil(c);
        return c.refusal();
    };
    EXPECT_EQ(with([](Call& c) { c.n = 0; }), "dorvane: n must be at least 1\n");
    EXPECT_EQ(with([](Call& c) { c.p = 0.5; }), "dorvane: p must be at least 1\n");
    EXPECT_EQ(with([](Call& c) { c.nr = 4; }), "dorvane: nr must lie between 1 and n\n");
    EXPECT_EQ(with([](Call& c) { c.nr = 0; }), "dorvane: nr must lie between 1 and n\n");
    EXPECT_EQ(with([](Call& c) { c.m = -1; }), "dorvane: m must not be negative\n");
    EXPECT_EQ(with([](Call& c) { c.deg = 0; }), "dorvane: deg must be at least 1\n");
    EXPECT_EQ(with([](Call& c) { c.grp[0] = 2; }),
              "dorvane: grp[1] (the phase) must be at least 1 when grp[0] asks for groups\n");
    EXPECT_EQ(with([](Call& c) { c.h[1] = -3; }),
              "dorvane: h[p-1] = -3 gives 3 continuous regressors; there must be 1 to p = 2\n");
    EXPECT_EQ(with([](Call& c) { c.h[1] = -0.5; }),
              "dorvane: h[p-1] = -0.5 gives 0 continuous regressors; there must be 1 to p = 2\n");
    EXPECT_EQ(with([](Call& c) { c.h[1] = -2147483648.0; }),
              "dorvane: h[p-1] = -2.14748e+09 gives 2147483648 continuous regressors; there must be 1 to p = 2\n");
}

TEST(ArgumentBlock, RefusesNegativeBandwidths)
{
    Call c;
    c.h[0] = -0.5;
    EXPECT_EQ(c.refusal(), "dorvane: bandwidth h[0] is negative\n");
    // With pc = p the negative last entry is both the count and a bandwidth.
    Call d;
    d.h[1] = -2;
    EXPECT_EQ(d.refusal(), "dorvane: bandwidth h[1] is negative\n");
}

TEST(ArgumentBlock, RefusesNonFiniteScalars)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    Call c;
    c.nloo = nan;
    EXPECT_EQ(c.refusal(), "dorvane: nloo is not a finite number\n");
    Call d;
    d.grp[0] = inf;
    EXPECT_EQ(d.refusal(), "dorvane: grp[0] is not a finite number\n");
    Call e;
    e.lam = -inf;
    EXPECT_EQ(e.refusal(true), "dorvane: lam is not a finite number\n");
    EXPECT_EQ(e.refusal(false), "");  // the fifteen-argument exports never read lam
}

TEST(ArgumentBlock, RefusesNullPointers)
{
    Call c;
    lp::Pointers ptr = c.pointers();
    ptr.deg = nullptr;
    lp::Args a{};
    EXPECT_EQ(printed_by([&] { lp::read_args(ptr, "tremsal", a); }), "tremsal: deg is a null pointer\n");
    ptr = c.pointers();
    ptr.sh = nullptr;  // sh may be absent when it is not written
    EXPECT_EQ(printed_by([&] { lp::read_args(ptr, "tremsal", a); }), "");
    c.vol = 1;
    EXPECT_EQ(printed_by([&] { lp::read_args(ptr, "tremsal", a); }),
              "tremsal: sh must not be a null pointer when vol is not 0\n");
}
