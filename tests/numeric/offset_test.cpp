// Offset-indexed storage: index ranges, views into existing storage, and the
// three-line report.
#include "numeric/numeric.h"
#include "support.h"

TEST(OffsetStorage, VectorIndexedOverItsRange)
{
    lp::dvec v = lp::dvector(1, 5);
    for (int i = 1; i <= 5; ++i) v[i] = 10.0 * i;
    EXPECT_EQ(v.block[0], 10.0);
    EXPECT_EQ(v.block[4], 50.0);
    lp::dvector_free(v, 1, 5);

    lp::ivec one = lp::ivector(-3, -3);
    one[-3] = 42;
    EXPECT_EQ(one.block[0], 42);
    lp::ivector_free(one, -3, -3);

    lp::fvec f = lp::vector(0, 2);
    f[2] = 1.5f;
    EXPECT_EQ(f.block[2], 1.5f);
    lp::vector_free(f, 0, 2);
}

TEST(OffsetStorage, MatrixRowsAreSeparateBlocks)
{
    lp::dmat a = lp::dmatrix(1, 3, 1, 4);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 4; ++j) a[i][j] = 10 * i + j;
    EXPECT_EQ(a[3][4], 34.0);
    EXPECT_EQ(a.row[0].block[0], 11.0);
    lp::dmatrix_free(a, 1, 3, 1, 4);

    lp::imat b = lp::imatrix(0, 1, 2, 3);
    b[1][3] = 7;
    EXPECT_EQ(b.row[1].block[1], 7);
    lp::imatrix_free(b, 0, 1, 2, 3);
}

TEST(OffsetStorage, Views)
{
    float block[6] = {1, 2, 3, 4, 5, 6};
    lp::fmat c = lp::convert_matrix(block, 1, 2, 1, 3);
    EXPECT_EQ(c[2][1], 4.0f);
    EXPECT_EQ(c[1][3], 3.0f);
    lp::convert_matrix_free(c, 1, 2, 1, 3);

    lp::fmat a = lp::matrix(1, 3, 1, 3);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) a[i][j] = static_cast<float>(10 * i + j);
    lp::fmat s = lp::submatrix(a, 2, 3, 3, 3, 1, 1);
    EXPECT_EQ(s[1][1], 23.0f);
    EXPECT_EQ(s[2][1], 33.0f);
    s[1][1] = -1.0f;  // a view writes through
    EXPECT_EQ(a[2][3], -1.0f);
    lp::submatrix_free(s, 1, 2, 1, 1);
    lp::matrix_free(a, 1, 3, 1, 3);
}

TEST(OffsetStorage, ReportPrintsThreeLinesAndReturns)
{
    EXPECT_EQ(printed_by([] { lp::numeric_error("abc"); }),
              "Numerical routine run-time error...\nabc\n...now exiting to system..?.\n");
}
