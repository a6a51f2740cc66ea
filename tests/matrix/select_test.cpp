// Transpose and the transposed product; selection and assignment by 1-based
// number vectors with their defaults and refusals; concatenation.
#include <cmath>

#include "matrix/Matrix"
#include "support.h"
#include "values.h"

using lp::Liste;
using lp::Matrix;
using test::col;
using test::mat;
using test::rows;
using test::V;

TEST(MatrixTranspose, SwapsRowsAndColumnsAndBack)
{
    Matrix a = mat(2, 3, {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(&a.transpose(), &a);
    ASSERT_EQ(a.get_rows(), 3);
    EXPECT_EQ(rows(a), (V{1, 4, 2, 5, 3, 6}));
    a.transpose();
    EXPECT_EQ(a.get_rows(), 2);
    EXPECT_EQ(rows(a), (V{1, 2, 3, 4, 5, 6}));
}

TEST(MatrixTransposedProduct, ProductScalarAndNonConformingFactors)
{
    const Matrix a = mat(3, 2, {1, 2, 3, 4, 5, 6});
    Matrix aty = a;
    aty.tmult(col({1, 0, -1}));
    ASSERT_EQ(aty.get_rows(), 2);
    ASSERT_EQ(aty.get_cols(), 1);
    EXPECT_EQ(rows(aty), (V{-4, -4}));
    Matrix ata = a;
    ata.tmult(ata);
    EXPECT_EQ(rows(ata), (V{35, 44, 44, 56}));

    Matrix same = a;
    EXPECT_EQ(printed_by([&] { same.tmult(col({1, 2})); }), "");
    EXPECT_EQ(rows(same), rows(a));
    Matrix half = col({0.5});
    half.tmult(a);
    EXPECT_EQ(half.get_rows(), 3);
    EXPECT_EQ(rows(half), (V{0.5, 1, 1.5, 2, 2.5, 3}));
}

TEST(MatrixSelection, PicksListedRowsAndColumns)
{
    const Matrix a = mat(3, 2, {1, 2, 3, 4, 5, 6});
    Matrix r = col({3, 1}), c = col({2});
    Liste args{&r, &c};
    Matrix* s = a.selection(args);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->get_cols(), 1);
    EXPECT_EQ(rows(*s), (V{6, 2}));
    delete s;
    // The caller's list is left as it was.
    EXPECT_EQ(args.get_count(), 2);
    EXPECT_EQ(args[1], &c);

    // Numbers are truncated toward zero; repeated numbers repeat.
    Matrix rr = col({2.9, 1.5}), cc = col({2, 1, 2});
    s = a.selection(Liste{&rr, &cc});
    EXPECT_EQ(rows(*s), (V{4, 3, 4, 2, 1, 2}));
    delete s;
}

TEST(MatrixSelection, DefaultsForNullAndMissingEntries)
{
    const Matrix a = mat(3, 2, {1, 2, 3, 4, 5, 6});
    Matrix* first = a.selection(Liste{nullptr});
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->get_cols(), 1);
    EXPECT_EQ(rows(*first), (V{1, 3, 5}));
    delete first;
    Matrix c = col({2, 1});
    Matrix* swapped = a.selection(Liste{nullptr, &c});
    EXPECT_EQ(rows(*swapped), (V{2, 1, 4, 3, 6, 5}));
    delete swapped;
}

TEST(MatrixSelection, RefusedArgumentsGiveNull)
{
    const Matrix a = mat(3, 2, {1, 2, 3, 4, 5, 6});
    Matrix r = col({1}), row_vector = mat(1, 2, {1, 2}), empty;
    EXPECT_EQ(a.selection(Liste{&r, &r, &r}), nullptr);
    EXPECT_EQ(a.selection(Liste{&row_vector}), nullptr);
    EXPECT_EQ(a.selection(Liste{&r, &row_vector}), nullptr);
    EXPECT_EQ(a.selection(Liste{&empty, nullptr}), nullptr);
}

TEST(MatrixSelectAssign, WritesListedElementsWithTheirDefaults)
{
    Matrix a = mat(3, 2, {1, 2, 3, 4, 5, 6});
    Matrix r = col({3, 1}), c = col({2});
    EXPECT_EQ(a.selectassign(Liste{&r, &c}, col({-1, -2})), 1);
    EXPECT_EQ(rows(a), (V{1, -2, 3, 4, 5, -1}));
    // Row 1 and every column; src's first row goes there.
    EXPECT_EQ(a.selectassign(Liste{nullptr}, mat(2, 2, {7, 8, 9, 10})), 1);
    EXPECT_EQ(rows(a), (V{7, 8, 3, 4, 5, -1}));
    // A number listed twice keeps the later value.
    Matrix twice = col({3, 3});
    a.selectassign(Liste{&twice, nullptr}, mat(2, 2, {0, 0, 9, 10}));
    EXPECT_EQ(rows(a), (V{7, 8, 3, 4, 9, 10}));
}

TEST(MatrixSelectAssign, RefusedArgumentsLeaveTheObjectAndReturnOne)
{
    Matrix a = mat(2, 2, {1, 2, 3, 4});
    Matrix r = col({1}), row_vector = mat(1, 2, {1, 2});
    EXPECT_EQ(a.selectassign(Liste{&r, &r, &r}, a), 1);
    EXPECT_EQ(a.selectassign(Liste{&row_vector}, a), 1);
    EXPECT_EQ(rows(a), (V{1, 2, 3, 4}));
}

TEST(MatrixConcatenation, SideBySideAndAbove)
{
    Matrix* h = lp::hconcat(col({1, 2}), mat(2, 2, {3, 4, 5, 6}));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->get_cols(), 3);
    EXPECT_EQ(rows(*h), (V{1, 3, 4, 2, 5, 6}));
    delete h;
    Matrix* v = lp::vconcat(mat(1, 2, {1, 2}), mat(2, 2, {3, 4, 5, 6}));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->get_rows(), 3);
    EXPECT_EQ(rows(*v), (V{1, 2, 3, 4, 5, 6}));
    delete v;
    EXPECT_EQ(lp::hconcat(col({1, 2}), col({1, 2, 3})), nullptr);
    EXPECT_EQ(lp::vconcat(mat(1, 2, {1, 2}), mat(1, 3, {1, 2, 3})), nullptr);
    EXPECT_EQ(printed_by([&] { mat(2, 2, {1.5, -2, NAN, 1e300}).out(); }), "");
}

TEST(MatrixSelectionDeathTest, NumbersOutsideTheMatrixEndTheProcess)
{
    const Matrix a = mat(3, 2, {1, 2, 3, 4, 5, 6});
    Matrix zero = col({0}), past = col({4}), one = col({1}), wide = col({3}), nan = col({NAN});
    EXPECT_FATAL(delete a.selection(Liste{&past}), "op \\(\\) Matrix\\(3, 2\\): \\(3, 0\\)");
    EXPECT_FATAL(delete a.selection(Liste{&zero}), "op \\(\\) Matrix\\(3, 2\\): \\(-1, 0\\)");
    EXPECT_FATAL(delete a.selection(Liste{&one, &wide}), "op \\(\\) Matrix\\(3, 2\\): \\(0, 2\\)");
    EXPECT_FATAL(delete a.selection(Liste{&nan}), "nan is not a row or column number");
    EXPECT_FATAL(delete a.selection(Liste{}), "Liste \\[\\] index 0 of 0 entries");
}

TEST(MatrixSelectAssignDeathTest, SourceTooSmallEndsTheProcess)
{
    Matrix a(3, 2);
    Matrix r = col({1, 2}), c = col({1, 2});
    EXPECT_FATAL(a.selectassign(Liste{&r, &c}, col({1, 2})), "op \\(\\) Matrix\\(2, 1\\): \\(0, 1\\)");
}
