// The kernel stage: kernel values, the normalisation, leave-one-out, and the
// cyclic groups of the density.
#include <cmath>
#include <string>
#include <vector>

#include "estimators/frame.h"
#include "support.h"

namespace {

const double phi0 = 0.3989422804014327;  // standard normal density at 0

bool dorvane_layout(const lp::Args& a, lp::Layout& lay) { return lp::power_layout(a, lay, false); }

// One continuous regressor, every observation at x_i = 0.1·i, m evaluation
// points at t, fitted by the engine along `path`; w holds the weights that
// point j should get, from the scalar kernel.
struct Stage {
    explicit Stage(int n, double t0 = 0.0, double K = 0, double phase = 0, int m = 1)
        : x(n), y(n), t(m, t0), h{1.0}, grp{K, phase}, fh(m * (K >= 2 ? static_cast<int>(K) + 1 : 1)),
          mh(2 * m), sh(2 * m), w(n), n(n), m(m)
    {
        for (int i = 0; i < n; ++i) {
            x[i] = 0.1 * i;
            y[i] = 1.0 + 0.5 * x[i];
        }
    }
    void run(int j = 0, lp::Path path = lp::Path::widest)
    {
        double nr = n, dm = m, deg = 1, vol = 0, p = 1;
        const lp::Pointers ptr{x.data(), &n, &p,      y.data(), &nr,     t.data(), &dm,  h,
                               grp,      mh.data(), sh.data(), fh.data(), &deg,    &vol, &nloo, nullptr};
        printed = printed_by([&] { lp::estimate(ptr, "dorvane", dorvane_layout, path); });
        weights(j);
    }
    // The weights of point j by the scalar kernel.
    void weights(int j)
    {
        const double D = nloo == 1 ? n - 1 : n;
        for (int i = 0; i < static_cast<int>(n); ++i) {
            const double u[1] = {(x[i] - t[j]) / h[0]};
            w[i] = nloo == 1 && i == j ? 0.0 : lp::gaussian_kernel(1, u) / (D * h[0]);
        }
    }
    // Sum of the weights of the observations with (i + phase - 1) mod K = residue.
    double weight_sum(int residue, int K) const
    {
        double s = 0.0;
        for (int i = 0; i < static_cast<int>(n); ++i)
            if ((i + static_cast<long long>(grp[1]) - 1) % K == residue) s += w[i];
        return s;
    }

    std::vector<double> x, y, t;
    double h[1], grp[2];
    std::vector<double> fh, mh, sh, w;
    double n, m, nloo = 0;
    std::string printed;
};

// The paths this processor can run.
std::vector<lp::Path> paths()
{
    std::vector<lp::Path> out;
    for (lp::Path p : {lp::Path::avx512, lp::Path::avx2, lp::Path::sse2, lp::Path::scalar})
        if (lp::path_available(p)) out.push_back(p);
    return out;
}

}  // namespace

TEST(Kernels, GaussianProduct)
{
    const double zero[2] = {0.0, 0.0}, one[1] = {1.0};
    EXPECT_EQ(lp::gaussian_kernel(0, zero), 1.0);
    EXPECT_EQ(lp::gaussian_kernel(1, zero), phi0);
    EXPECT_DOUBLE_EQ(lp::gaussian_kernel(2, zero), phi0 * phi0);
    EXPECT_DOUBLE_EQ(lp::gaussian_kernel(1, one), phi0 * std::exp(-0.5));
}

TEST(Kernels, QuarticVanishesOutsideTheUnitBall)
{
    const double half[1] = {0.5}, one[1] = {1.0}, wide[2] = {1.5, 0.0}, zero[1] = {0.0};
    EXPECT_EQ(lp::quartic_kernel(1, half), 0.52734375);
    EXPECT_EQ(lp::quartic_kernel(1, one), 0.0);
    EXPECT_EQ(lp::quartic_kernel(2, wide), 0.0);
    EXPECT_EQ(lp::quartic_kernel(1, zero), 0.9375);
}

TEST(KernelStage, WeightAtTheEvaluationPoint)
{
    // On every path the density is the scalar kernel's weights summed in
    // observation order, to the last bit.
    for (lp::Path path : paths()) {
        Stage s(5, 0.2);
        s.h[0] = 0.5;
        s.run(0, path);
        EXPECT_EQ(s.w[2], phi0 / (5 * 0.5));
        double sum = 0;
        for (double v : s.w) sum += v;
        EXPECT_EQ(s.fh[0], sum) << static_cast<int>(path);
    }
}

TEST(KernelStage, TinyAndSubnormalWeightsOnEveryPath)
{
    // Points 32 to 40 bandwidths from every observation: the weights run from
    // about 1e-223 through the subnormal numbers to zero, where quotients and
    // exponentials leave their fast paths, and each density is made of them
    // alone.
    for (lp::Path path : paths()) {
        Stage s(40, 0.0, 0, 0, 8);
        for (int j = 0; j < 8; ++j) s.t[j] = 36.0 + 0.6 * j;
        s.run(0, path);
        for (int j = 0; j < 8; ++j) {
            s.weights(j);
            double sum = 0;
            for (double v : s.w) sum += v;
            EXPECT_EQ(s.fh[j], sum) << "path " << static_cast<int>(path) << ", point " << j;
        }
    }
}

TEST(KernelStage, LeaveOneOutDropsObservationJ)
{
    Stage s(6, 0.0, 0, 0, 6);
    for (int j = 0; j < 6; ++j) s.t[j] = s.x[j];
    s.nloo = 1;
    s.run(2);
    EXPECT_EQ(s.w[2], 0.0);
    const double u[1] = {(s.x[4] - s.t[2]) / s.h[0]};
    EXPECT_EQ(s.w[4], lp::gaussian_kernel(1, u) / (5 * 1.0));
    double sum = 0;
    for (double v : s.w) sum += v;
    EXPECT_EQ(s.fh[2], sum);
}

TEST(KernelStage, NoGroupsForCountsBelowTwo)
{
    for (double K : {0.0, 1.0, 1.9}) {
        Stage s(4, 0.0, K, 1);
        s.run();
        ASSERT_EQ(s.fh.size(), 1u);
        EXPECT_GT(s.fh[0], 0.0);
    }
}

TEST(KernelStage, CyclicGroupsScaledByTheirCount)
{
    Stage s(7, 0.0, 3, 1);
    s.run();
    // Observations 0, 3, 6 form group 0; 1, 4 group 1; 2, 5 group 2.
    EXPECT_DOUBLE_EQ(s.fh[1], 3 * (s.w[0] + s.w[3] + s.w[6]));
    EXPECT_DOUBLE_EQ(s.fh[2], 3 * (s.w[1] + s.w[4]));
    EXPECT_DOUBLE_EQ(s.fh[3], 3 * (s.w[2] + s.w[5]));
    EXPECT_DOUBLE_EQ(s.fh[0], s.weight_sum(0, 1));
}

TEST(KernelStage, PhaseShiftsTheGroups)
{
    Stage s(4, 0.0, 2, 2);
    s.run();
    // Observation 0 goes to group 1, observation 1 to group 0.
    EXPECT_DOUBLE_EQ(s.fh[2], 2 * (s.w[0] + s.w[2]));
    EXPECT_DOUBLE_EQ(s.fh[1], 2 * (s.w[1] + s.w[3]));
}

TEST(KernelStage, PhaseNearTheIntegerLimitStaysCyclic)
{
    Stage s(4, 0.0, 4, 2147483647.0);
    s.run();
    // (i + 2147483646) mod 4 = (i + 2) mod 4: observation 0 in group 2.
    EXPECT_EQ(s.fh[3], 4 * s.w[0]);
    EXPECT_EQ(s.fh[4], 4 * s.w[1]);
    EXPECT_EQ(s.fh[1], 4 * s.w[2]);
    EXPECT_EQ(s.fh[2], 4 * s.w[3]);
}

TEST(KernelStage, NonIntegralGroupCountScalesButKeepsTheDensity)
{
    Stage s(5, 0.0, 2.5, 1);
    s.run();
    EXPECT_DOUBLE_EQ(s.fh[1], 2.5 * s.weight_sum(0, 2));
    EXPECT_DOUBLE_EQ(s.fh[2], 2.5 * s.weight_sum(1, 2));
    EXPECT_DOUBLE_EQ(s.fh[0], s.weight_sum(0, 1));
}

TEST(KernelStage, AddsToWhatTheHostPassed)
{
    Stage plain(3);
    plain.fh[0] = 10.0;
    plain.run();
    EXPECT_DOUBLE_EQ(plain.fh[0], 10.0 + plain.weight_sum(0, 1));

    Stage grouped(4, 0.0, 2, 1);
    grouped.fh = {8.0, 1.0, 2.0};
    grouped.run();
    const double g0 = 2 * (1.0 + grouped.weight_sum(0, 2)), g1 = 2 * (2.0 + grouped.weight_sum(1, 2));
    EXPECT_DOUBLE_EQ(grouped.fh[1], g0);
    EXPECT_DOUBLE_EQ(grouped.fh[2], g1);
    EXPECT_DOUBLE_EQ(grouped.fh[0], (8.0 + g0 + g1) / 2);
}

TEST(KernelStage, ZeroBandwidthFlowsAsNaN)
{
    Stage s(3, 0.0);
    s.h[0] = 0.0;
    s.run();
    EXPECT_TRUE(std::isnan(s.fh[0]));
}

TEST(KernelStage, GroupsBeyondTheObservationsKeepTheirCells)
{
    // Five groups for three observations with phase 4: observations 0, 1, 2
    // fall in groups 3, 4, 0; groups 1 and 2 receive nothing but are scaled.
    Stage s(3, 0.0, 5, 4);
    s.fh = {0.0, 1.0, 2.0, 3.0, 4.0, 5.0};
    s.run();
    EXPECT_EQ(s.fh[1], (1.0 + s.w[2]) * 5);
    EXPECT_EQ(s.fh[2], 2.0 * 5);
    EXPECT_EQ(s.fh[3], 3.0 * 5);
    EXPECT_EQ(s.fh[4], (4.0 + s.w[0]) * 5);
    EXPECT_EQ(s.fh[5], (5.0 + s.w[1]) * 5);
    EXPECT_EQ(s.fh[0], ((((0.0 + s.fh[1]) + s.fh[2]) + s.fh[3]) + s.fh[4] + s.fh[5]) / 5);
}
