// The kernel stage: kernel values, the normalisation, leave-one-out, and the
// cyclic groups of the density.
#include <cmath>
#include <vector>

#include "estimators/frame.h"
#include "support.h"

namespace {

const double phi0 = 0.3989422804014327;  // standard normal density at 0

// One continuous regressor; evaluation point 0 at t, every observation at x.
struct Stage {
    explicit Stage(int n, double t0 = 0.0, double K = 0, double phase = 0, int m = 1)
        : x(n), t(m, t0), h{1.0}, grp{K, phase}, fh(m * (K >= 2 ? static_cast<int>(K) + 1 : 1)), w(n)
    {
        for (int i = 0; i < n; ++i) x[i] = 0.1 * i;
        a = lp::Args{};
        a.n = n;
        a.m = m;
        a.p = a.pc = 1;
        a.K = lp::toint(K);
        a.phase = lp::toint(phase);
        a.x = x.data();
        a.t = t.data();
        a.h = h;
        a.grp = grp;
        a.fh = fh.data();
    }
    void run(int j = 0)
    {
        double u[1];
        const double D = a.nloo == 1 ? a.n - 1 : a.n;
        lp::kernel_stage(a, j, D * h[0], u, w.data());
    }
    double weight_sum(int residue, int K) const
    {
        double s = 0.0;
        for (int i = 0; i < a.n; ++i)
            if ((i + a.phase - 1) % K == residue) s += w[i];
        return s;
    }

    std::vector<double> x, t;
    double h[1], grp[2];
    std::vector<double> fh, w;
    lp::Args a;
};

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
    Stage s(5, 0.2);
    s.h[0] = 0.5;
    double u[1];
    lp::kernel_stage(s.a, 0, 5 * 0.5, u, s.w.data());
    EXPECT_EQ(s.w[2], phi0 / (5 * 0.5));
    double sum = 0;
    for (double v : s.w) sum += v;
    EXPECT_EQ(s.fh[0], sum);
}

TEST(KernelStage, LeaveOneOutDropsObservationJ)
{
    Stage s(6, 0.0, 0, 0, 3);
    s.a.nloo = 1;
    s.run(2);
    EXPECT_EQ(s.w[2], 0.0);
    double u[1] = {(s.x[4] - s.t[2]) / s.h[0]};
    EXPECT_EQ(s.w[4], lp::gaussian_kernel(1, u) / (5 * 1.0));
    EXPECT_EQ(s.fh[0], 0.0);  // only point 2's entry changes
    EXPECT_GT(s.fh[2], 0.0);
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
    grouped.a.fh = grouped.fh.data();
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
