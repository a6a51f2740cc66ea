// Jacobi rotations: the trivial cases, a 2 × 2 case solved by hand with the
// storage contract on the two triangles, and the non-convergence report.
// Random matrices are diagonalised through Matrix::eigen in the matrix tests.
#include <cfloat>
#include <cmath>

#include "numeric/numeric.h"
#include "support.h"

namespace {

// A symmetric n × n eigenproblem in offset storage, freed with the object.
struct Eigen {
    explicit Eigen(int n)
        : n(n), a(lp::dmatrix(1, n, 1, n)), v(lp::dmatrix(1, n, 1, n)), d(lp::dvector(1, n))
    {
    }
    ~Eigen()
    {
        lp::dmatrix_free(a, 1, n, 1, n);
        lp::dmatrix_free(v, 1, n, 1, n);
        lp::dvector_free(d, 1, n);
    }
    void solve() { lp::jacobi(a, n, d, v, nrot); }

    int n;
    lp::dmat a, v;
    lp::dvec d;
    int nrot = -1;
};

}  // namespace

TEST(Jacobi, OneByOneAndDiagonalNeedNoRotation)
{
    Eigen one(1);
    one.a[1][1] = -3.5;
    one.solve();
    EXPECT_EQ(one.nrot, 0);
    EXPECT_EQ(one.d[1], -3.5);
    EXPECT_EQ(one.v[1][1], 1.0);

    Eigen diag(3);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) diag.a[i][j] = i == j ? 10.0 * i : 0.0;
    diag.solve();
    EXPECT_EQ(diag.nrot, 0);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(diag.d[i], 10.0 * i);
        for (int j = 1; j <= 3; ++j) EXPECT_EQ(diag.v[i][j], i == j ? 1.0 : 0.0);
    }
}

TEST(Jacobi, TwoByTwoInOneRotationReadingOnlyTheUpperTriangle)
{
    Eigen e(2);
    e.a[1][1] = 2.0;
    e.a[1][2] = 1.0;
    e.a[2][2] = 2.0;
    e.a[2][1] = 99.0;  // never read, never written
    e.solve();
    EXPECT_EQ(e.nrot, 1);
    EXPECT_EQ(e.a[1][2], 0.0);
    EXPECT_EQ(e.a[2][1], 99.0);
    EXPECT_EQ(e.a[1][1], 2.0);
    EXPECT_EQ(e.a[2][2], 2.0);
    // θ = 0: t = 1, a rotation by π/4 taking d to (1, 3).
    EXPECT_NEAR(e.d[1], 1.0, 4 * DBL_EPSILON);
    EXPECT_NEAR(e.d[2], 3.0, 4 * DBL_EPSILON);
    const double r = 1.0 / std::sqrt(2.0);
    EXPECT_NEAR(e.v[1][1], r, 4 * DBL_EPSILON);
    EXPECT_NEAR(e.v[2][1], -r, 4 * DBL_EPSILON);
    EXPECT_NEAR(e.v[1][2], r, 4 * DBL_EPSILON);
    EXPECT_NEAR(e.v[2][2], r, 4 * DBL_EPSILON);
}

TEST(Jacobi, NonConvergenceIsReportedAndTheRoutineReturns)
{
    // A NaN above the diagonal never falls below any threshold.
    Eigen e(2);
    e.a[1][1] = 1.0;
    e.a[1][2] = NAN;
    e.a[2][2] = 2.0;
    const std::string out = printed_by([&] { e.solve(); });
    EXPECT_EQ(out,
              "Numerical routine run-time error...\nToo many iterations in routine JACOBI\n"
              "...now exiting to system..?.\n");
    EXPECT_EQ(e.nrot, 0);
    EXPECT_EQ(e.d[1], 1.0);
    EXPECT_EQ(e.d[2], 2.0);
}
