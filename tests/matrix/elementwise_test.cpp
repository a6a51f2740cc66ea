// Elementwise arithmetic: which operand stays on the left, the broadcasting
// rules with their counters that run on across rows, the non-conforming
// result, and the recycling fills.
#include <cmath>
#include <utility>

#include "matrix/Matrix"
#include "support.h"
#include "values.h"

using lp::Matrix;
using test::col;
using test::mat;
using test::rows;
using test::V;

namespace {

std::pair<int, int> shape(const Matrix& a) { return {a.get_rows(), a.get_cols()}; }

}  // namespace

TEST(ElementwiseArithmetic, ScalarOnEitherSideStaysOnItsSide)
{
    const Matrix v = col({1, 2, 3});
    const Matrix ten = col({10});
    EXPECT_EQ(rows(v + ten), (V{11, 12, 13}));
    EXPECT_EQ(rows(ten - v), (V{9, 8, 7}));
    EXPECT_EQ(rows(col({6}) / v), (V{6, 3, 2}));
    EXPECT_EQ(rows(v / col({2})), (V{0.5, 1, 1.5}));
    const Matrix m = ten * mat(2, 3, {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(shape(m), std::make_pair(2, 3));
    EXPECT_EQ(rows(m), (V{10, 20, 30, 40, 50, 60}));
    EXPECT_EQ(shape(col({3}) * col({4})), std::make_pair(1, 1));
}

TEST(ElementwiseArithmetic, EqualSizesCombineElementByElement)
{
    const Matrix a = mat(2, 2, {1, 2, 3, 4});
    const Matrix b = mat(2, 2, {4, 0, -2, 8});
    EXPECT_EQ(rows(a + b), (V{5, 2, 1, 12}));
    EXPECT_EQ(rows(a - b), (V{-3, 2, 5, -4}));
    EXPECT_EQ(rows(a * b), (V{4, 0, -6, 32}));
    const Matrix q = a / b;
    EXPECT_EQ(q(0, 0), 0.25);
    EXPECT_TRUE(std::isinf(q(0, 1)) && q(0, 1) > 0);
    EXPECT_TRUE(std::isnan((mat(1, 2, {0, 1}) / mat(1, 2, {0, 1}))(0, 0)));
    EXPECT_EQ(rows(a), (V{1, 2, 3, 4}));  // operands unchanged
}

TEST(ElementwiseBroadcast, VectorsGoToEveryColumnOrRow)
{
    const Matrix m = mat(2, 3, {1, 2, 3, 4, 5, 6});
    const Matrix c = col({10, 20});
    EXPECT_EQ(shape(c - m), std::make_pair(2, 3));
    EXPECT_EQ(rows(m + c), (V{11, 12, 13, 24, 25, 26}));
    EXPECT_EQ(rows(c - m), (V{9, 8, 7, 16, 15, 14}));
    const Matrix r = mat(1, 3, {10, 20, 30});
    EXPECT_EQ(shape(r / m), std::make_pair(2, 3));
    EXPECT_EQ(rows(m + r), (V{11, 22, 33, 14, 25, 36}));
    EXPECT_EQ(rows(r / m), (V{10, 10, 10, 2.5, 4, 5}));
}

TEST(ElementwiseBroadcast, ColumnCountersRunOnAcrossRows)
{
    EXPECT_EQ(rows(mat(1, 3, {1, 2, 3}) + mat(1, 2, {10, 20})), (V{11, 22, 13}));
    // 2 × 3 against 2 × 2: row 0 pairs columns (0,0) (1,1) (2,0); the counters
    // then stand at (0,1), so row 1 pairs (0,1) (1,0) (2,1).
    const Matrix a = mat(2, 3, {1, 2, 3, 4, 5, 6});
    const Matrix b = mat(2, 2, {10, 20, 30, 40});
    EXPECT_EQ(rows(a + b), (V{11, 22, 13, 44, 35, 46}));
    // The narrower operand on the left gives the same pairs, subtracted the other way.
    const Matrix d = b - a;
    EXPECT_EQ(shape(d), std::make_pair(2, 3));
    EXPECT_EQ(rows(d), (V{9, 18, 7, 36, 25, 34}));
}

TEST(ElementwiseBroadcast, RowCountersWrapPerOperand)
{
    // 3 × 2 against 2 × 2: result rows pair rows (0,0) (1,1) (2,0).
    const Matrix a = mat(3, 2, {1, 2, 3, 4, 5, 6});
    const Matrix b = mat(2, 2, {10, 20, 30, 40});
    EXPECT_EQ(shape(b * a), std::make_pair(3, 2));
    EXPECT_EQ(rows(a + b), (V{11, 22, 33, 44, 15, 26}));
    EXPECT_EQ(rows(b * a), (V{10, 40, 90, 160, 50, 120}));
}

TEST(ElementwiseBroadcast, NonConformingGiveOneZeroAndPrintNothing)
{
    const Matrix a(2, 2), b(3, 3);
    Matrix r;
    const std::string out = printed_by([&] {
        r = a + b;
        r = r + (a - b) + (a * b) + (a / b);
    });
    EXPECT_EQ(out, "");
    EXPECT_EQ(shape(r), std::make_pair(1, 1));
    EXPECT_EQ(r.elem(0), 0.0);
}

TEST(ElementwiseFill, FillAndRecyclingKeepTheSize)
{
    Matrix a(2, 4);
    a.fill(-2.5);
    EXPECT_EQ(rows(a), V(8, -2.5));
    // Equal rows: columns beyond the source's last receive its column 0.
    a.assign_recycled(mat(2, 2, {1, 2, 3, 4}));
    EXPECT_EQ(shape(a), std::make_pair(2, 4));
    EXPECT_EQ(rows(a), (V{1, 2, 1, 1, 3, 4, 3, 3}));
    // Equal columns: rows beyond the source's last receive its row 0.
    Matrix b(3, 3);
    b.assign_recycled(mat(2, 3, {1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(rows(b), (V{1, 2, 3, 4, 5, 6, 1, 2, 3}));
    // No size in common: the source's elements over and over in storage order.
    b.assign_recycled(col({1, 2}));
    EXPECT_EQ(shape(b), std::make_pair(3, 3));
    for (int k = 0; k < 9; ++k) EXPECT_EQ(b.elem(k), k % 2 == 0 ? 1.0 : 2.0) << k;
    Matrix small(1, 2);
    small.assign_recycled(mat(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(rows(small), (V{1, 4}));
}

TEST(ElementwiseDeathTest, EmptyOperandsEndTheProcess)
{
    Matrix a(2, 2), empty;
    EXPECT_FATAL(a.assign_recycled(empty), "assign_recycled: nothing to recycle");
    EXPECT_FATAL(empty + empty, "Constructor Matrix");
    empty.assign_recycled(a);  // nothing to fill
    EXPECT_TRUE(empty.empty());
}
