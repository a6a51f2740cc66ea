// Relations and connectives: the scalar stays on its side, results are exact
// 1.0 and 0.0, non-conforming sizes end the process; column extremes at and
// past the last column; apply.
#include <cmath>

#include "matrix/Matrix"
#include "support.h"
#include "values.h"

using lp::Matrix;
using test::col;
using test::mat;
using test::rows;
using test::V;

TEST(MatrixRelations, ScalarStaysOnItsSideOfTheRelation)
{
    const Matrix v = col({1, 5, 3});
    const Matrix three = col({3});
    EXPECT_EQ(rows(v < three), (V{1, 0, 0}));
    EXPECT_EQ(rows(three < v), (V{0, 1, 0}));
    EXPECT_EQ(rows(v <= three), (V{1, 0, 1}));
    EXPECT_EQ(rows(three >= v), (V{1, 0, 1}));
    EXPECT_EQ(rows(v > three), (V{0, 1, 0}));
    EXPECT_EQ(rows(three > v), (V{1, 0, 0}));
    EXPECT_EQ(rows(v == three), (V{0, 0, 1}));
    EXPECT_EQ(rows(three != v), (V{1, 1, 0}));
}

TEST(MatrixRelations, EqualSizesCompareElementByElement)
{
    const Matrix a = mat(2, 2, {1, 2, 3, 4});
    const Matrix same = mat(2, 2, {1, 2, 3, 4});
    EXPECT_EQ(rows(a == same), V(4, 1.0));
    EXPECT_EQ(rows(a != same), V(4, 0.0));
    const Matrix b = mat(2, 2, {2, 2, 1, 5});
    EXPECT_EQ(rows(a < b), (V{1, 0, 0, 1}));
    EXPECT_EQ(rows(a >= b), (V{0, 1, 1, 0}));
    const Matrix r = a > b;
    EXPECT_EQ(r.get_rows(), 2);
    EXPECT_EQ(r.get_cols(), 2);
    EXPECT_EQ(rows(r), (V{0, 0, 1, 0}));
}

TEST(MatrixRelations, LogicalConnectives)
{
    const Matrix a = mat(1, 2, {0, 2});
    const Matrix b = mat(1, 2, {3, 0});
    EXPECT_EQ(rows(a && b), (V{0, 0}));
    EXPECT_EQ(rows(a || b), (V{1, 1}));
    EXPECT_EQ(rows(mat(1, 3, {-1, 0, 0.5}) && col({7})), (V{1, 0, 1}));
    EXPECT_EQ(rows(col({0}) || mat(1, 3, {0, -2, 0})), (V{0, 1, 0}));
    // NaN is not zero.
    EXPECT_EQ(rows(col({NAN}) && col({1})), (V{1}));
}

TEST(MatrixColumnExtremes, SmallestAndLargestOfAColumn)
{
    const Matrix a = mat(2, 2, {4, 1, 2, 7});
    EXPECT_EQ(a.min_col(1), 1.0);
    EXPECT_EQ(a.max_col(1), 7.0);
    EXPECT_EQ(a.min_col(0), 2.0);
    EXPECT_EQ(a.max_col(0), 4.0);
    const Matrix v = col({3, -8, 9, -8, 9, 0});
    EXPECT_EQ(v.min_col(0), -8.0);
    EXPECT_EQ(v.max_col(0), 9.0);
    EXPECT_EQ(col({-2.5}).min_col(0), -2.5);
}

TEST(MatrixApply, ReplacesEveryElementAndReturnsTheObject)
{
    Matrix a = mat(1, 2, {-1, 2});
    Matrix& same = a.apply(std::fabs);
    EXPECT_EQ(&same, &a);
    EXPECT_EQ(rows(a), (V{1, 2}));
    a.apply(std::sqrt).apply([](double x) { return x * 10.0; });
    EXPECT_EQ(a(0, 0), 10.0);
    EXPECT_EQ(a(0, 1), std::sqrt(2.0) * 10.0);
}

TEST(MatrixRelationsDeathTest, NonConformingOperandsEndTheProcess)
{
    const Matrix a(2, 3), b(2, 1);
    EXPECT_FATAL(a < b, "op < Matrices don't match: \\(2, 3\\) against \\(2, 1\\)");
    EXPECT_FATAL(a == b, "op == Matrices don't match");
    EXPECT_FATAL(b || a, "op \\|\\| Matrices don't match");
    EXPECT_FATAL(a && Matrix(3, 2), "op && Matrices don't match");
}

TEST(MatrixColumnExtremesDeathTest, ColumnOutsideTheMatrixEndsTheProcess)
{
    const Matrix a = mat(2, 2, {4, 1, 2, 7});
    EXPECT_FATAL(a.min_col(2), "ERROR: min_col Matrice has no such column");
    EXPECT_FATAL(a.max_col(2), "ERROR: max_col Matrice has no such column");
    EXPECT_FATAL(a.min_col(-1), "min_col");
    EXPECT_FATAL(Matrix().max_col(0), "max_col");
}
