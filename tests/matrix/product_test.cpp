// The in-place product and inverse: shapes, the scalar case, non-conforming
// factors, and inverses checked against known ones and against A·A⁻¹ = I.
#include <cfloat>
#include <cmath>
#include <random>

#include "matrix/Matrix"
#include "support.h"
#include "values.h"

using lp::Matrix;
using test::mat;

namespace {

double max_off_identity(const Matrix& a)
{
    double worst = 0.0;
    for (int i = 0; i < a.get_rows(); ++i)
        for (int j = 0; j < a.get_cols(); ++j) worst = std::max(worst, std::fabs(a(i, j) - (i == j ? 1.0 : 0.0)));
    return worst;
}

Matrix hilbert(int n)
{
    Matrix a(n, n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) a(i, j) = 1.0 / (i + j + 1);
    return a;
}

}  // namespace

TEST(MatrixProduct, MatrixTimesVector)
{
    Matrix a = mat(2, 3, {1, 2, 3, 4, 5, 6});
    a.mult(mat(3, 1, {1, 0, -1}));
    ASSERT_EQ(a.get_rows(), 2);
    ASSERT_EQ(a.get_cols(), 1);
    EXPECT_EQ(a[0], -2.0);
    EXPECT_EQ(a[1], -2.0);
}

TEST(MatrixProduct, NonConformingFactorsLeaveTheObjectAndPrintNothing)
{
    Matrix a = mat(2, 3, {1, 2, 3, 4, 5, 6});
    const std::string out = printed_by([&] { a.mult(mat(2, 3, {9, 9, 9, 9, 9, 9})); });
    EXPECT_EQ(out, "");
    ASSERT_EQ(a.get_rows(), 2);
    ASSERT_EQ(a.get_cols(), 3);
    EXPECT_EQ(a(1, 2), 6.0);
}

TEST(MatrixProduct, ScalarFactorOnEitherSideScalesElementwise)
{
    Matrix two(1);
    two[0] = 2.0;
    const Matrix b = mat(3, 2, {1, 2, 3, 4, 5, 6});
    Matrix left = two;
    left.mult(b);
    Matrix right = b;
    right.mult(two);
    ASSERT_TRUE(left.same_dims(b));
    ASSERT_TRUE(right.same_dims(b));
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(left.elem(k), 2.0 * b.elem(k));
        EXPECT_EQ(right.elem(k), 2.0 * b.elem(k));
    }
}

TEST(MatrixProduct, SquaringItself)
{
    Matrix a = mat(2, 2, {1, 2, 3, 4});
    a.mult(a);
    EXPECT_EQ(a(0, 0), 7.0);
    EXPECT_EQ(a(0, 1), 10.0);
    EXPECT_EQ(a(1, 0), 15.0);
    EXPECT_EQ(a(1, 1), 22.0);
}

TEST(MatrixProduct, SumsInIncreasingIndexOrder)
{
    // 1e16 + 1 - 1e16 is 0 left to right; any other order would give 1 or 2.
    Matrix a = mat(1, 3, {1e16, 1, -1e16});
    a.mult(mat(3, 1, {1, 1, 1}));
    EXPECT_EQ(a[0], 0.0);
}

TEST(MatrixInverse, KnownInverses)
{
    Matrix a = mat(2, 2, {4, 7, 2, 6});
    EXPECT_EQ(a.inverse(), 0);
    EXPECT_NEAR(a(0, 0), 0.6, 4 * DBL_EPSILON);
    EXPECT_NEAR(a(0, 1), -0.7, 4 * DBL_EPSILON);
    EXPECT_NEAR(a(1, 0), -0.2, 4 * DBL_EPSILON);
    EXPECT_NEAR(a(1, 1), 0.4, 4 * DBL_EPSILON);

    Matrix four(1);
    four[0] = 4.0;
    four.inverse();
    EXPECT_EQ(four[0], 0.25);
}

TEST(MatrixInverse, HilbertMatricesWithinTheirConditionNumber)
{
    // Exact inverses of H2..H4 are integral; cond(H4) is about 1.6e4.
    const double h3inv[3][3] = {{9, -36, 30}, {-36, 192, -180}, {30, -180, 180}};
    const double h4inv[4][4] = {
        {16, -120, 240, -140}, {-120, 1200, -2700, 1680}, {240, -2700, 6480, -4200}, {-140, 1680, -4200, 2800}};
    Matrix h2 = hilbert(2);
    h2.inverse();
    EXPECT_NEAR(h2(0, 0), 4.0, 64 * DBL_EPSILON);
    EXPECT_NEAR(h2(0, 1), -6.0, 64 * DBL_EPSILON);
    EXPECT_NEAR(h2(1, 1), 12.0, 64 * DBL_EPSILON);
    Matrix h3 = hilbert(3);
    h3.inverse();
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_NEAR(h3(i, j), h3inv[i][j], 1e4 * DBL_EPSILON * 200);
    Matrix h4 = hilbert(4);
    h4.inverse();
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(h4(i, j), h4inv[i][j], 2e4 * DBL_EPSILON * 7000);
}

TEST(MatrixInverse, TimesSavedCopyGivesIdentity)
{
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int n = 1; n <= 12; ++n) {
        Matrix a(n, n);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) a(i, j) = u(gen) + (i == j ? n : 0.0);  // diagonally dominant
        Matrix inv = a;
        inv.inverse();
        a.mult(inv);
        EXPECT_LT(max_off_identity(a), 64 * n * DBL_EPSILON) << "n = " << n;
    }
}

TEST(MatrixInverse, SingularMatrixIsNotRefused)
{
    Matrix a = mat(2, 2, {1, 2, 2, 4});
    int status = -1;
    const std::string out = printed_by([&] { status = a.inverse(); });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "");
    EXPECT_GT(std::fabs(a(1, 1)), 1e15);
}

TEST(MatrixInverseDeathTest, NonSquareEndsWithStatusOne)
{
    Matrix a(2, 3);
    EXPECT_FATAL(a.inverse(), "inverse of a non-square Matrix\\(2, 3\\)");
}

TEST(MatrixProductDeathTest, EmptyFactorEndsTheProcess)
{
    Matrix empty, a(2, 2);
    EXPECT_FATAL(empty.mult(a), "Constructor Matrix");
    EXPECT_FATAL(a.mult(empty), "Constructor Matrix");
}
