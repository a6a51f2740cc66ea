// Matrix storage: zero-filled construction, checked access at and past the
// edges, deep copies, and the fatal path for size, index and allocation errors.
#include <climits>
#include <cmath>
#include <cstddef>

#include "matrix/Matrix"
#include "support.h"

using lp::Matrix;

TEST(MatrixStorage, NewMatrixHoldsPositiveZeros)
{
    Matrix a(3, 2);
    ASSERT_EQ(a.get_rows(), 3);
    ASSERT_EQ(a.get_cols(), 2);
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(a.elem(k), 0.0);
        EXPECT_FALSE(std::signbit(a.elem(k)));
    }
    Matrix v(4);
    EXPECT_EQ(v.get_cols(), 1);
    EXPECT_EQ(v[3], 0.0);
}

TEST(MatrixStorage, ColumnMajorLayout)
{
    Matrix a(2, 2);
    a(1, 1) = 7.0;
    a(1, 0) = 5.0;
    EXPECT_EQ(a.elem(3), 7.0);
    EXPECT_EQ(a.elem(1), 5.0);
    EXPECT_EQ(a.elem_ptr(3), a.elem_ptr(0) + 3);
}

TEST(MatrixStorage, SelfAssignmentKeepsStorage)
{
    Matrix a(2, 2);
    a(0, 1) = 3.0;
    const double* before = a.elem_ptr(0);
    Matrix& alias = a;
    a = alias;
    EXPECT_EQ(a.elem_ptr(0), before);
    EXPECT_EQ(a(0, 1), 3.0);
}

TEST(MatrixStorage, AssignmentResizesToADeepCopy)
{
    Matrix big(3, 3), small(1);
    for (int k = 0; k < 9; ++k) big.elem_ptr(0)[k] = k;
    small = big;
    ASSERT_TRUE(small.same_dims(big));
    small(2, 2) = -1.0;
    big(0, 0) = -2.0;
    EXPECT_EQ(big(2, 2), 8.0);
    EXPECT_EQ(small(0, 0), 0.0);

    Matrix copy(big);
    copy(1, 1) = 99.0;
    EXPECT_EQ(big(1, 1), 4.0);
}

TEST(MatrixStorage, PointerConstructor)
{
    Matrix from_null(static_cast<const Matrix*>(nullptr));
    EXPECT_EQ(from_null.get_rows(), 0);
    EXPECT_EQ(from_null.get_cols(), 0);
    EXPECT_TRUE(from_null.empty());

    Matrix a(2, 1);
    a[1] = 4.0;
    Matrix b(&a);
    a[1] = 0.0;
    EXPECT_EQ(b[1], 4.0);
}

TEST(MatrixStorage, IdentityAndShape)
{
    Matrix id(3, 3, 1);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_EQ(id(i, j), i == j ? 1.0 : 0.0);
    EXPECT_TRUE(Matrix(1, 1).is_scalar());
    EXPECT_FALSE(Matrix(1, 2).is_scalar());
}

TEST(MatrixStorage, RangeConstructor)
{
    auto values = [](const Matrix& v) {
        std::vector<double> out;
        for (int k = 0; k < v.get_rows(); ++k) out.push_back(v[k]);
        return out;
    };
    EXPECT_EQ(values(Matrix(1.0, 5.0, 1.0)), (std::vector<double>{1, 2, 3, 4, 5}));
    EXPECT_EQ(values(Matrix(5.0, 1.0, 1.0)), (std::vector<double>{5, 4, 3, 2, 1}));
    EXPECT_EQ(values(Matrix(1.0, 5.0, -1.0)), (std::vector<double>{1, 2, 3, 4, 5}));
    EXPECT_EQ(values(Matrix(1.0, 4.9, 1.5)), (std::vector<double>{1, 2.5, 4}));
    EXPECT_EQ(values(Matrix(2.5, 2.5, 1.0)), (std::vector<double>{2.5}));
    // Offsets are a running sum of steps, not k times the step.
    const Matrix tenths(0.0, 1.0, 0.1);
    double offset = 0.0;
    for (int k = 0; k < tenths.get_rows(); ++k, offset += 0.1) EXPECT_EQ(tenths[k], offset);
}

TEST(MatrixStorage, NothrowConstructorLeavesEmptyOnFailure)
{
    Matrix ok(2, 3, std::nothrow);
    EXPECT_EQ(ok.get_rows(), 2);
    EXPECT_EQ(ok(1, 2), 0.0);
    EXPECT_TRUE(Matrix(0, 3, std::nothrow).empty());
    EXPECT_TRUE(Matrix(INT_MAX, INT_MAX, std::nothrow).empty());
    EXPECT_EQ(Matrix(INT_MAX, INT_MAX, std::nothrow).get_rows(), 0);
}

TEST(MatrixStorageDeathTest, NonPositiveSizesEndTheProcess)
{
    EXPECT_FATAL(Matrix(0), "Constructor Matrix: row = 0");
    EXPECT_FATAL(Matrix(-3), "Constructor Matrix: row = -3");
    EXPECT_FATAL(Matrix(2, 0), "Constructor Matrix: row = 2 col = 0");
    EXPECT_FATAL(Matrix(3, 3, 2), "i must be 1");
    EXPECT_FATAL(Matrix(3, 2, 1), "i must be 1");
    EXPECT_FATAL(Matrix(0, 2, 1), "row = 0  col = 2");
}

TEST(MatrixStorageDeathTest, RangeWithoutLengthEndsTheProcess)
{
    EXPECT_FATAL(Matrix(1.0, 2.0, 0.0), "no range");
    EXPECT_FATAL(Matrix(1.0, NAN, 1.0), "no range");
    EXPECT_FATAL(Matrix(0.0, 1e300, 1e-300), "no range");
}

TEST(MatrixStorageDeathTest, AllocationFailureEndsTheProcess)
{
    EXPECT_FATAL(lp::allocate_elements(INT_MAX, INT_MAX), "Tried to allocate");
    // 2^31 - 1 rows of 2^20 doubles: a byte count a 64-bit size_t holds, a
    // 32-bit one does not.
    if (sizeof(std::size_t) == 8)
        EXPECT_FATAL(Matrix(INT_MAX, 1 << 20), "Tried to allocate 18014398501093376 Bytes !");
    else
        EXPECT_FATAL(Matrix(INT_MAX, 1 << 20),
                     "Tried to allocate 2147483647 x 1048576 doubles, more Bytes than can be addressed !");
}

TEST(MatrixAccessDeathTest, BracketServesColumnVectorsOnly)
{
    Matrix a(3, 2);
    EXPECT_FATAL(a[0], "op \\[\\] Matrix\\(3, 2\\): \\(0\\)");
    const Matrix c(3, 2);
    EXPECT_FATAL(c[0], "op \\[\\] Matrix");
}

TEST(MatrixAccessDeathTest, LastValidIndexThenOnePast)
{
    Matrix v(3);
    v[2] = 1.5;
    EXPECT_EQ(v[2], 1.5);
    EXPECT_FATAL(v[3], "op \\[\\] Matrix\\(3, 1\\): \\(3\\)");
    Matrix a(2, 2);
    EXPECT_EQ(a(1, 1), 0.0);
    EXPECT_FATAL(a(2, 0), "op \\(\\) Matrix\\(2, 2\\): \\(2, 0\\)");
    EXPECT_FATAL(a(0, 2), "op \\(\\) Matrix");
}

TEST(MatrixAccessDeathTest, NegativeIndicesAreRefusedLikeIndicesPastTheEnd)
{
    Matrix v(3);
    const Matrix& cv = v;
    Matrix a(2, 2);
    const Matrix& ca = a;
    EXPECT_FATAL(v[-1], "op \\[\\] Matrix\\(3, 1\\): \\(-1\\)");
    EXPECT_FATAL(cv[-1], "op \\[\\] Matrix");
    EXPECT_FATAL(a(-1, 0), "op \\(\\) Matrix\\(2, 2\\): \\(-1, 0\\)");
    EXPECT_FATAL(ca(0, -1), "op \\(\\) Matrix");
}
