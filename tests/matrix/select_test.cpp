// Transpose and the transposed product; selection and assignment by 1-based
// number vectors with their defaults and refusals; concatenation; out.
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
    Matrix& same = a.transpose();
    EXPECT_EQ(&same, &a);
    ASSERT_EQ(a.get_rows(), 3);
    ASSERT_EQ(a.get_cols(), 2);
    EXPECT_EQ(rows(a), (V{1, 4, 2, 5, 3, 6}));
    a.transpose();
    EXPECT_EQ(a.get_rows(), 2);
    EXPECT_EQ(rows(a), (V{1, 2, 3, 4, 5, 6}));
}

TEST(MatrixTransposedProduct, ShapesAndValues)
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

    // 1e16 + 1 - 1e16 summed in increasing k is 0.
    Matrix order = col({1e16, 1, -1e16});
    order.tmult(col({1, 1, 1}));
    EXPECT_EQ(rows(order), (V{0}));
}

TEST(MatrixTransposedProduct, ScalarOrNonConformingFactor)
{
    Matrix a = mat(3, 2, {1, 2, 3, 4, 5, 6});
    const std::string out = printed_by([&] { a.tmult(col({1, 2})); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(a.get_rows(), 3);
    EXPECT_EQ(rows(a), (V{1, 2, 3, 4, 5, 6}));

    a.tmult(col({2}));
    EXPECT_EQ(a.get_rows(), 3);
    EXPECT_EQ(rows(a), (V{2, 4, 6, 8, 10, 12}));
    Matrix half = col({0.5});
    half.tmult(a);
    EXPECT_EQ(half.get_rows(), 3);
    EXPECT_EQ(rows(half), (V{1, 2, 3, 4, 5, 6}));
}

TEST(MatrixSelection, PicksListedRowsAndColumns)
{
    const Matrix a = mat(3, 2, {1, 2, 3, 4, 5, 6});
    Matrix r = col({3, 1}), c = col({2});
    Liste args{&r, &c};
    Matrix* s = a.selection(args);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->get_rows(), 2);
    EXPECT_EQ(s->get_cols(), 1);
    EXPECT_EQ(rows(*s), (V{6, 2}));
    delete s;
    // The caller's list is left as it was.
    EXPECT_EQ(args.get_count(), 2);
    EXPECT_EQ(args[0], &r);
    EXPECT_EQ(args[1], &c);

    // Numbers are truncated toward zero; repeated numbers repeat.
    Matrix rr = col({2.9, 2, 1.5}), cc = col({2, 1, 2});
    s = a.selection(Liste{&rr, &cc});
    EXPECT_EQ(rows(*s), (V{4, 3, 4, 4, 3, 4, 2, 1, 2}));
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

    Matrix* whole = a.selection(Liste{nullptr, nullptr});
    EXPECT_TRUE(whole->same_dims(a));
    EXPECT_EQ(rows(*whole), rows(a));
    delete whole;

    Matrix c = col({2, 1});
    Matrix* swapped = a.selection(Liste{nullptr, &c});
    EXPECT_EQ(rows(*swapped), (V{2, 1, 4, 3, 6, 5}));
    delete swapped;

    // A number vector may be the matrix itself.
    const Matrix v = col({3, 1, 2});
    Matrix* self = v.selection(Liste{const_cast<Matrix*>(&v)});
    EXPECT_EQ(rows(*self), (V{2, 3, 1}));
    delete self;
}

TEST(MatrixSelection, RefusedArgumentsGiveNull)
{
    const Matrix a = mat(3, 2, {1, 2, 3, 4, 5, 6});
    Matrix r = col({1}), row_vector = mat(1, 2, {1, 2}), empty;
    std::string out = printed_by([&] {
        EXPECT_EQ(a.selection(Liste{&r, &r, &r}), nullptr);
        EXPECT_EQ(a.selection(Liste{&row_vector}), nullptr);
        EXPECT_EQ(a.selection(Liste{&r, &row_vector}), nullptr);
        EXPECT_EQ(a.selection(Liste{&empty, nullptr}), nullptr);
    });
    EXPECT_EQ(out, "");
}

TEST(MatrixSelectAssign, WritesListedElements)
{
    Matrix a = mat(3, 2, {1, 2, 3, 4, 5, 6});
    Matrix r = col({3, 1}), c = col({2});
    Liste args{&r, &c};
    EXPECT_EQ(a.selectassign(args, col({-1, -2})), 1);
    EXPECT_EQ(rows(a), (V{1, -2, 3, 4, 5, -1}));
    EXPECT_EQ(args.get_count(), 2);
    EXPECT_EQ(args[1], &c);

    // A number listed twice keeps the later value.
    Matrix twice = col({1, 1});
    a.selectassign(Liste{&twice, nullptr}, mat(2, 2, {7, 8, 9, 10}));
    EXPECT_EQ(rows(a), (V{9, 10, 3, 4, 5, -1}));
}

TEST(MatrixSelectAssign, DefaultsAreRowOneAndEveryColumn)
{
    Matrix a = mat(3, 2, {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(a.selectassign(Liste{nullptr}, mat(2, 2, {7, 8, 9, 10})), 1);
    EXPECT_EQ(rows(a), (V{7, 8, 3, 4, 5, 6}));
    Matrix r = col({3});
    a.selectassign(Liste{&r, nullptr}, mat(1, 2, {0, -1}));
    EXPECT_EQ(rows(a), (V{7, 8, 3, 4, 0, -1}));
}

TEST(MatrixSelectAssign, RefusedArgumentsLeaveTheObjectAndReturnOne)
{
    Matrix a = mat(2, 2, {1, 2, 3, 4});
    Matrix r = col({1}), row_vector = mat(1, 2, {1, 2});
    const Matrix src = mat(2, 2, {9, 9, 9, 9});
    EXPECT_EQ(a.selectassign(Liste{&r, &r, &r}, src), 1);
    EXPECT_EQ(a.selectassign(Liste{&row_vector}, src), 1);
    EXPECT_EQ(rows(a), (V{1, 2, 3, 4}));
}

TEST(MatrixConcatenation, SideBySideAndAbove)
{
    Matrix* h = lp::hconcat(col({1, 2}), mat(2, 2, {3, 4, 5, 6}));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->get_rows(), 2);
    EXPECT_EQ(h->get_cols(), 3);
    EXPECT_EQ(rows(*h), (V{1, 3, 4, 2, 5, 6}));
    delete h;
    EXPECT_EQ(lp::hconcat(col({1, 2}), col({1, 2, 3})), nullptr);

    Matrix* v = lp::vconcat(mat(1, 2, {1, 2}), mat(2, 2, {3, 4, 5, 6}));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->get_rows(), 3);
    EXPECT_EQ(v->get_cols(), 2);
    EXPECT_EQ(rows(*v), (V{1, 2, 3, 4, 5, 6}));
    delete v;
    EXPECT_EQ(lp::vconcat(mat(1, 2, {1, 2}), mat(1, 3, {1, 2, 3})), nullptr);
}

TEST(MatrixOut, WritesNothingAndChangesNothing)
{
    const Matrix a = mat(2, 2, {1.5, -2, NAN, 1e300});
    EXPECT_EQ(printed_by([&] {
                  a.out();
                  col({1, 2}).out();
              }),
              "");
    EXPECT_EQ(a(0, 0), 1.5);
}

TEST(MatrixSelectionDeathTest, NumbersOutsideTheMatrixEndTheProcess)
{
    const Matrix a = mat(3, 2, {1, 2, 3, 4, 5, 6});
    Matrix zero = col({0}), past = col({4}), one = col({1}), wide = col({3}), nan = col({NAN}),
           huge = col({1e10});
    EXPECT_EQ(a(2, 1), 6.0);  // the last valid element, then one past it
    EXPECT_FATAL(delete a.selection(Liste{&past}), "op \\(\\) Matrix\\(3, 2\\): \\(3, 0\\)");
    EXPECT_FATAL(delete a.selection(Liste{&zero}), "op \\(\\) Matrix\\(3, 2\\): \\(-1, 0\\)");
    EXPECT_FATAL(delete a.selection(Liste{&one, &wide}), "op \\(\\) Matrix\\(3, 2\\): \\(0, 2\\)");
    EXPECT_FATAL(delete a.selection(Liste{&nan}), "nan is not a row or column number");
    EXPECT_FATAL(delete a.selection(Liste{&huge}), "1e\\+10 is not a row or column number");
    EXPECT_FATAL(delete a.selection(Liste{}), "Liste \\[\\] index 0 of 0 entries");
}

TEST(MatrixSelectAssignDeathTest, SourceTooSmallEndsTheProcess)
{
    Matrix a(3, 2);
    Matrix r = col({1, 2}), c = col({1, 2});
    EXPECT_FATAL(a.selectassign(Liste{&r, &c}, col({1, 2})), "op \\(\\) Matrix\\(2, 1\\): \\(0, 1\\)");
    Matrix past = col({4});
    EXPECT_FATAL(a.selectassign(Liste{&past}, a), "op \\(\\) Matrix\\(3, 2\\): \\(3, 0\\)");
}
