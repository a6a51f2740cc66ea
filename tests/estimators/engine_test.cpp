// The fitting engine over its batch kernels: every instruction set gives the
// same bits, a point's outputs do not depend on its batch, and a point that
// fails inside a batch ends the call exactly as it would alone.
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "estimators/frame.h"
#include "support.h"

namespace {

bool power_rule(const lp::Args& a, lp::Layout& lay) { return lp::power_layout(a, lay, false); }
bool cubic_rule(const lp::Args& a, lp::Layout& lay) { return lp::power_layout(a, lay, true); }
bool products_rule(const lp::Args& a, lp::Layout& lay)
{
    return lp::lam_products(a, lay, static_cast<std::int64_t>(a.p) + 2LL * a.pc);
}

// A call as a host makes it: column-major arrays, scalars as doubles.
struct Call {
    std::vector<double> x, y, t, h;
    double n = 0, p = 0, nr = 0, m = 0, deg = 1, vol = 1, nloo = 0, lam = 1;
    double grp[2] = {0, 0};
    lp::LayoutRule rule = power_rule;
    int B = 0;

    struct Result {
        std::vector<double> mh, sh, fh;
        std::string printed;
    };
    Result run(lp::Path path = lp::Path::widest, double fill = -777.0) const
    {
        Result r;
        const std::size_t rows = static_cast<std::size_t>(m);
        const int K = static_cast<int>(grp[0]);
        r.mh.assign(std::max<std::size_t>(rows * B, 1), fill);
        r.sh.assign(std::max<std::size_t>(rows * B, 1), fill);
        r.fh.assign(std::max<std::size_t>(rows * (K >= 2 ? K + 1 : 1), 1), 0.0);
        Call c = *this;
        if (c.t.empty()) c.t.push_back(0.0);
        const lp::Pointers ptr{c.x.data(), &c.n, &c.p, c.y.data(), &c.nr, c.t.data(), &c.m, c.h.data(), c.grp,
                               r.mh.data(), r.sh.data(), r.fh.data(), &c.deg, &c.vol, &c.nloo, &c.lam};
        r.printed = printed_by([&] { lp::estimate(ptr, "test", rule, path); });
        return r;
    }
    // The same call at points `keep` of this one only, in that order.
    Call at(const std::vector<int>& keep) const
    {
        Call c = *this;
        const int pc = continuous();
        c.m = static_cast<double>(keep.size());
        c.t.assign(keep.size() * static_cast<std::size_t>(p), 0.0);
        for (int k = 0; k < pc; ++k)
            for (std::size_t q = 0; q < keep.size(); ++q) c.t[q + k * keep.size()] = t[keep[q] + k * static_cast<int>(m)];
        return c;
    }
    int continuous() const { return h.back() < 0 ? static_cast<int>(-h.back()) : static_cast<int>(p); }
};

// n observations of pc continuous regressors and p - pc dummies, m points;
// B is the column count of the rule's layout.
Call problem(int n, int p, int pc, int m, int deg, int B, lp::LayoutRule rule, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Call c;
    c.n = c.nr = n;
    c.p = p;
    c.m = m;
    c.deg = deg;
    c.B = B;
    c.rule = rule;
    for (int k = 0; k < p; ++k)
        for (int i = 0; i < n; ++i) c.x.push_back(k < pc ? unit(gen) : (unit(gen) < 0.5 ? 1.0 : 0.0));
    for (int i = 0; i < n; ++i) c.y.push_back(std::sin(3.0 * c.x[i]) + 0.3 * unit(gen));
    for (int k = 0; k < p; ++k)
        for (int j = 0; j < m; ++j) c.t.push_back(0.15 + 0.7 * unit(gen));
    c.h.assign(p, 0.3);
    if (pc < p) c.h[p - 1] = -pc;
    return c;
}

// Row j of an m-row array with `cols` columns.
std::vector<double> row(const std::vector<double>& v, int m, int cols, int j)
{
    std::vector<double> r;
    for (int c = 0; c < cols; ++c) r.push_back(v[j + static_cast<std::size_t>(c) * m]);
    return r;
}

std::vector<lp::Path> paths()
{
    std::vector<lp::Path> out;
    for (lp::Path p : {lp::Path::avx512, lp::Path::avx2, lp::Path::sse2, lp::Path::scalar})
        if (lp::path_available(p)) out.push_back(p);
    return out;
}

// Designs that reach both the fixed kernels and the general one.
std::vector<Call> designs()
{
    std::vector<Call> out;
    out.push_back(problem(120, 1, 1, 21, 1, 2, power_rule, 1));     // linear
    out.push_back(problem(120, 1, 1, 19, 2, 3, power_rule, 2));     // quadratic
    out.push_back(problem(120, 1, 1, 17, 3, 4, cubic_rule, 3));     // cubic
    out.push_back(problem(150, 2, 2, 13, 1, 3, power_rule, 4));     // two regressors
    out.push_back(problem(150, 2, 2, 11, 2, 5, power_rule, 5));     // and their squares
    out.push_back(problem(150, 3, 2, 10, 2, 6, power_rule, 6));     // a dummy
    out.push_back(problem(200, 3, 3, 9, 2, 9, products_rule, 7));   // cross products
    out.push_back(problem(200, 3, 3, 12, 3, 10, cubic_rule, 8));    // three regressors, cubes
    return out;
}

}  // namespace

TEST(InstructionSets, EveryPathGivesTheSameBits)
{
    int compared = 0;
    for (Call c : designs()) {
        for (int variant = 0; variant < 5; ++variant) {
            Call v = c;
            if (variant == 1) {  // groups with a phase, no variance
                v.grp[0] = 5;
                v.grp[1] = 3;
                v.vol = 0;
            }
            if (variant == 2) v.nr = static_cast<int>(c.n) / 2;  // intercept sums over half
            if (variant == 3) {                                   // leave-one-out at the observations
                v.nloo = 1;
                v = v.at({});
                v.m = v.n;
                v.t = v.x;
            }
            if (variant == 4)  // weights from normal down to subnormal and zero in one vector
                for (int k = 0; k < v.continuous(); ++k) v.h[k] = 0.012;
            const Call::Result want = v.run(lp::Path::scalar);
            for (lp::Path path : paths()) {
                const Call::Result got = v.run(path);
                EXPECT_TRUE(same_bits(got.mh, want.mh)) << "B = " << c.B << ", variant " << variant;
                EXPECT_TRUE(same_bits(got.sh, want.sh)) << "B = " << c.B << ", variant " << variant;
                EXPECT_TRUE(same_bits(got.fh, want.fh)) << "B = " << c.B << ", variant " << variant;
                EXPECT_EQ(got.printed, want.printed);
                ++compared;
            }
        }
    }
    EXPECT_GE(compared, 40);
}

TEST(Batches, APointsOutputsDoNotDependOnItsCompanions)
{
    for (const Call& c : designs()) {
        const int m = static_cast<int>(c.m), B = c.B;
        const Call::Result all = c.run();
        // Each point alone, and all points in reverse order.
        std::vector<int> reverse;
        for (int j = m - 1; j >= 0; --j) reverse.push_back(j);
        const Call::Result backwards = c.at(reverse).run();
        for (int j = 0; j < m; ++j) {
            const Call::Result alone = c.at({j}).run();
            EXPECT_TRUE(same_bits(alone.mh, row(all.mh, m, B, j))) << "B = " << B << ", point " << j;
            EXPECT_TRUE(same_bits(alone.sh, row(all.sh, m, B, j))) << "B = " << B << ", point " << j;
            EXPECT_TRUE(same_bits(alone.fh, row(all.fh, m, 1, j))) << "B = " << B << ", point " << j;
            EXPECT_TRUE(same_bits(row(backwards.mh, m, B, m - 1 - j), row(all.mh, m, B, j)));
        }
    }
}

TEST(Batches, EveryRemainderGivesTheSameBits)
{
    // m = 1 .. 17 leaves every remainder of every batch width.
    const Call c = problem(90, 1, 1, 17, 2, 3, power_rule, 9);
    const Call::Result all = c.run();
    for (int m = 1; m <= 17; ++m) {
        std::vector<int> first;
        for (int j = 0; j < m; ++j) first.push_back(j);
        const Call::Result part = c.at(first).run();
        for (int j = 0; j < m; ++j) {
            EXPECT_TRUE(same_bits(row(part.mh, m, 3, j), row(all.mh, 17, 3, j))) << "m = " << m << ", point " << j;
            EXPECT_TRUE(same_bits(row(part.fh, m, 1, j), row(all.fh, 17, 1, j))) << "m = " << m << ", point " << j;
        }
    }
}

TEST(Batches, AFailedPointInsideABatchEndsTheCallThere)
{
    // A dummy and the variance: each fitted point prints the warning. Point
    // 11 lies far outside the data of a local cubic, whose moment matrix
    // fails the conditioning check.
    Call c;
    const int n = 50, m = 20;
    for (int i = 0; i < n; ++i) c.x.push_back(20.0 * i);
    for (int i = 0; i < n; ++i) c.x.push_back(i % 3 == 0 ? 1.0 : 0.0);
    for (int i = 0; i < n; ++i) c.y.push_back(std::sin(0.1 * i) + 0.2 * c.x[n + i]);
    c.n = c.nr = n;
    c.p = 2;
    c.m = m;
    c.deg = 3;
    c.B = 1 + 3 + 1;
    c.rule = cubic_rule;
    c.h = {50.0, -1.0};
    for (int j = 0; j < m; ++j) c.t.push_back(300.0 + 20.0 * j);
    c.t[11] = 2000.0;
    for (int j = 0; j < m; ++j) c.t.push_back(0.0);
    const std::string warning =
        "WARNING: The estimation of the\ncond. volatility function is not\nchecked if the regressor matrix\n"
        "contains dummies \n";

    for (lp::Path path : paths()) {
        const Call::Result got = c.run(path);
        std::string expected;
        for (int j = 0; j < 11; ++j) expected += warning;
        ASSERT_EQ(got.printed.compare(0, expected.size(), expected), 0) << got.printed;
        EXPECT_EQ(got.printed.compare(expected.size(), 48, "t: sum of off-diagonal element of invZWZ*ZWZ 11 "), 0)
            << got.printed.substr(expected.size());
        EXPECT_EQ(got.printed.substr(got.printed.size() - 11), " m_out nan\n");

        // Points 0..10 are those of a call at them alone, but for the first
        // n entries of mh, which are NaN; point 11's density is accumulated;
        // later points are untouched.
        std::vector<int> before;
        for (int j = 0; j < 11; ++j) before.push_back(j);
        const Call::Result alone = c.at(before).run(path);
        for (int k = 0; k < m * c.B; ++k) {
            const int j = k % m, col = k / m;
            if (k < n)
                EXPECT_TRUE(std::isnan(got.mh[k])) << k;
            else if (j < 11)
                EXPECT_EQ(got.mh[k], alone.mh[j + col * 11]) << k;
            else
                EXPECT_EQ(got.mh[k], -777.0) << k;
        }
        for (int j = 0; j < 11; ++j) {
            EXPECT_EQ(got.sh[j], alone.sh[j]);
            EXPECT_EQ(got.fh[j], alone.fh[j]);
        }
        EXPECT_EQ(got.fh[11], c.at({11}).run(path).fh[0]);
        for (int j = 12; j < m; ++j) EXPECT_EQ(got.fh[j], 0.0) << j;
        for (int j = 11; j < m; ++j) EXPECT_EQ(got.sh[j], -777.0) << j;
    }
}

#if defined(__SSE2__)
#include <xmmintrin.h>

TEST(FloatingPoint, TheHostsModesNeitherChangeTheResultsNorAreLost)
{
    // A host may run with subnormals flushed to zero, another rounding mode
    // or exceptions unmasked; a call computes as always and gives the host
    // its own modes back.
    Call c = problem(60, 1, 1, 9, 2, 3, power_rule, 12);
    c.h[0] = 0.012;  // subnormal weights among the others
    const Call::Result want = c.run();
    const unsigned saved = _mm_getcsr();
    const unsigned host = (saved & ~0x6000u) | 0x4000u /* round up */ | 0x8040u /* FTZ, DAZ */;
    _mm_setcsr(host);
    const Call::Result got = c.run();
    const unsigned after = _mm_getcsr();
    _mm_setcsr(saved);
    EXPECT_EQ(after & ~0x3Fu, host & ~0x3Fu);  // the modes; the flags may have been raised meanwhile
    EXPECT_TRUE(same_bits(got.mh, want.mh));
    EXPECT_TRUE(same_bits(got.fh, want.fh));
}
#endif
