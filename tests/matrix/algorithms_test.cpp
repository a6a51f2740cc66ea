// LU factors in Matrix storage (refusals, pivots, random systems), the eigen
// decomposition (a hand-solved case, reconstruction of random symmetric
// matrices), and sorting: exact agreement with the recursive formulation,
// ties included, and columns long or adversarial enough to overflow a
// recursive sort's call stack.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

#include "matrix/Matrix"
#include "support.h"
#include "values.h"

using lp::Matrix;
using test::col;
using test::mat;
using test::rows;
using test::V;

namespace {

Matrix random_matrix(std::mt19937& gen, int n, double diagonal)
{
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Matrix a(n, n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) a(i, j) = u(gen) + (i == j ? diagonal : 0.0);
    return a;
}

// Sorts a[lo..hi] as the recursive formulation does; returns the depth of
// the recursion.
int recursive_sort(std::vector<double>& a, std::vector<double>& perm, int lo, int hi)
{
    const double x = a[(lo + hi) / 2];
    int i = lo, j = hi;
    do {
        while (a[i] < x) ++i;
        while (x < a[j]) --j;
        if (i <= j) {
            std::swap(a[i], a[j]);
            std::swap(perm[i], perm[j]);
            ++i;
            --j;
        }
    } while (i < j);
    int depth = 0;
    if (lo < j) depth = std::max(depth, recursive_sort(a, perm, lo, j));
    if (i < hi) depth = std::max(depth, recursive_sort(a, perm, i, hi));
    return depth + 1;
}

Matrix column_of(const std::vector<double>& v)
{
    Matrix a(static_cast<int>(v.size()));
    for (std::size_t k = 0; k < v.size(); ++k) a[static_cast<int>(k)] = v[k];
    return a;
}

// A column on which each partition takes the range's largest element as
// pivot and splits off that element alone, so the partition tree is a path
// of n - 1 ranges. Built by running the partition on positions: the middle
// of lo..hi is given the value hi and then swapped to hi.
std::vector<double> middle_pivot_killer(int n)
{
    std::vector<int> at(n);
    for (int k = 0; k < n; ++k) at[k] = k;
    std::vector<double> value(n);
    for (int hi = n - 1; hi >= 1; --hi) {
        value[at[hi / 2]] = hi;
        std::swap(at[hi / 2], at[hi]);
    }
    value[at[0]] = 0;
    return value;
}

// Checks that `sorted` ascends and that sorted[k] = original[perm[k]] with
// perm a permutation of 0..n-1.
void expect_sorted_permutation(const std::vector<double>& original, const Matrix& sorted, const Matrix& perm)
{
    const int n = static_cast<int>(original.size());
    ASSERT_EQ(sorted.get_rows(), n);
    ASSERT_EQ(perm.get_rows(), n);
    std::vector<char> seen(n, 0);
    int faults = 0;
    for (int k = 0; k < n; ++k) {
        const int from = static_cast<int>(perm[k]);
        if (from < 0 || from >= n || seen[from] || sorted(k, 0) != original[from] ||
            (k > 0 && sorted(k - 1, 0) > sorted(k, 0)))
            ++faults;
        else
            seen[from] = 1;
    }
    EXPECT_EQ(faults, 0);
}

// Runs f on a thread whose call stack is only `bytes` long.
template <class F>
void on_small_stack(std::size_t bytes, F f)
{
    TestThread<F> thread(f, bytes);
}

}  // namespace

TEST(MatrixLuDecompose, RefusesNonSquareAndZeroRows)
{
    Matrix perm(2);
    double d = 0.0;
    Matrix wide = mat(2, 3, {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(wide.lu_decompose(perm, d), 1);
    EXPECT_EQ(rows(wide), (V{1, 2, 3, 4, 5, 6}));
    Matrix b = col({1, 2});
    EXPECT_EQ(wide.lu_solve(perm, b), 1);
    EXPECT_EQ(rows(b), (V{1, 2}));

    Matrix zero_row = mat(2, 2, {1, 2, 0, 0});
    std::string out = printed_by([&] { EXPECT_EQ(zero_row.lu_decompose(perm, d), 2); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(d, 1.0);
    EXPECT_EQ(rows(zero_row), (V{1, 2, 0, 0}));
}

TEST(MatrixLuDecompose, PivotsAndColumnsOfTheInverse)
{
    Matrix a = mat(2, 2, {4, 7, 2, 6});
    Matrix perm(2);
    double d = 0.0;
    EXPECT_EQ(a.lu_decompose(perm, d), 0);
    EXPECT_EQ(rows(perm), (V{1, 2}));
    EXPECT_EQ(d, 1.0);
    Matrix b = col({1, 0});
    EXPECT_EQ(a.lu_solve(perm, b), 0);
    EXPECT_NEAR(b[0], 0.6, 4 * DBL_EPSILON);
    EXPECT_NEAR(b[1], -0.2, 4 * DBL_EPSILON);
    b = col({0, 1});  // a leading zero, skipped by the forward pass
    a.lu_solve(perm, b);
    EXPECT_NEAR(b[0], -0.7, 4 * DBL_EPSILON);
    EXPECT_NEAR(b[1], 0.4, 4 * DBL_EPSILON);

    // Equal scaled merits: the later row wins.
    Matrix tie = mat(2, 2, {1, 0, 1, 0.5});
    tie.lu_decompose(perm, d);
    EXPECT_EQ(rows(perm), (V{2, 2}));
    EXPECT_EQ(d, -1.0);
}

TEST(MatrixLuSolve, RandomWellConditionedSystemsToRounding)
{
    std::mt19937 gen(17);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int n = 1; n <= 20; ++n) {
        Matrix a = random_matrix(gen, n, 2.0 + n / 4.0);
        Matrix x(n), b(n);
        for (int i = 0; i < n; ++i) x[i] = u(gen);
        for (int i = 0; i < n; ++i) {
            long double bi = 0;
            for (int j = 0; j < n; ++j) bi += static_cast<long double>(a(i, j)) * x[j];
            b[i] = static_cast<double>(bi);
        }
        Matrix perm(n);
        double d = 0.0;
        ASSERT_EQ(a.lu_decompose(perm, d), 0);
        ASSERT_EQ(a.lu_solve(perm, b), 0);
        for (int i = 0; i < n; ++i) EXPECT_NEAR(b[i], x[i], 64 * DBL_EPSILON) << "n = " << n;
    }
}

TEST(MatrixEigen, TwoByTwoByHand)
{
    const Matrix a = mat(2, 2, {2, 1, 1, 2});
    Matrix values;
    Matrix* v = a.eigen(values);
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(values.get_rows(), 2);
    EXPECT_NEAR(values[0], 1.0, 4 * DBL_EPSILON);
    EXPECT_NEAR(values[1], 3.0, 4 * DBL_EPSILON);
    // Column 0 belongs to eigenvalue 1: (1, -1)/√2.
    EXPECT_NEAR((*v)(0, 0), 1.0 / std::sqrt(2.0), 4 * DBL_EPSILON);
    EXPECT_NEAR((*v)(1, 0), -1.0 / std::sqrt(2.0), 4 * DBL_EPSILON);
    EXPECT_EQ(rows(a), (V{2, 1, 1, 2}));
    delete v;
}

TEST(MatrixEigen, ReconstructsRandomSymmetricMatrices)
{
    std::mt19937 gen(23);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int n = 1; n <= 20; ++n) {
        Matrix a(n, n);
        for (int i = 0; i < n; ++i)
            for (int j = i; j < n; ++j) a(i, j) = a(j, i) = u(gen);
        const Matrix saved = a;
        Matrix values(3, 3);
        Matrix* v = a.eigen(values);
        ASSERT_EQ(values.get_rows(), n);
        ASSERT_EQ(values.get_cols(), 1);
        // V·diag(values)·Vᵀ, built from the library's own operations.
        Matrix scaled = *v * values.transpose();
        Matrix vt = *v;
        vt.transpose();
        scaled.mult(vt);
        double worst = 0.0;
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) worst = std::max(worst, std::fabs(scaled(i, j) - saved(i, j)));
        EXPECT_LT(worst, 32 * n * DBL_EPSILON) << "n = " << n;
        EXPECT_EQ(rows(a), rows(saved));
        delete v;
    }
}

TEST(MatrixSort, SortsTheFirstColumnAndReportsWhereEachCameFrom)
{
    Matrix a = col({3, 1, 2, 1});
    Matrix perm;
    a.sort(perm);
    EXPECT_EQ(rows(a), (V{1, 1, 2, 3}));
    EXPECT_EQ(rows(perm), (V{3, 1, 2, 0}));

    Matrix one = col({-4});
    one.sort(perm);
    EXPECT_EQ(rows(one), (V{-4}));
    EXPECT_EQ(rows(perm), (V{0}));

    // Other columns do not move.
    Matrix two = mat(3, 2, {5, 50, 4, 40, 6, 60});
    two.sort(perm);
    EXPECT_EQ(rows(two), (V{4, 50, 5, 40, 6, 60}));
    EXPECT_EQ(rows(perm), (V{1, 0, 2}));
}

TEST(MatrixSort, MatchesTheRecursiveFormulationIncludingTies)
{
    std::mt19937 gen(29);
    for (int trial = 0; trial < 2000; ++trial) {
        const int n = 1 + static_cast<int>(gen() % 40);
        const int spread = 1 + static_cast<int>(gen() % 6);  // few distinct values: many ties
        std::vector<double> a(n), perm(n);
        for (int k = 0; k < n; ++k) {
            a[k] = trial % 3 == 0 ? static_cast<double>(gen()) : static_cast<double>(gen() % spread);
            perm[k] = 100 + k;
        }
        // Sort a subrange with a permutation that is not the identity.
        const int lo = static_cast<int>(gen() % n);
        const int hi = lo + static_cast<int>(gen() % (n - lo));
        Matrix m = column_of(a), p = column_of(perm);
        recursive_sort(a, perm, lo, hi);
        lp::quick_sort(m, p, lo, hi);
        ASSERT_EQ(rows(m), a) << "trial " << trial;
        ASSERT_EQ(rows(p), perm) << "trial " << trial;
    }
}

TEST(MatrixSort, MillionElementColumns)
{
    const int n = 1 << 20;
    std::mt19937 gen(31);
    std::vector<std::vector<double>> columns(3, std::vector<double>(n));
    for (int k = 0; k < n; ++k) {
        columns[0][k] = static_cast<double>(gen() % 1000);  // ties everywhere
        columns[1][k] = 1.5;                                 // all equal
        columns[2][k] = (k % 2 == 0 ? k : n - k);            // interleaved runs
    }
    for (const auto& original : columns) {
        Matrix a = column_of(original), perm;
        a.sort(perm);
        expect_sorted_permutation(original, a, perm);
    }
}

TEST(MatrixSort, AdversarialColumnNeedsNoDeepCallStack)
{
    // The pattern really makes the partition tree a path.
    std::vector<double> small = middle_pivot_killer(1000), small_perm(1000, 0.0);
    EXPECT_EQ(recursive_sort(small, small_perm, 0, 999), 999);

    // 20000 nested ranges would need far more than 256 KiB of call stack.
    const int n = 20000;
    const std::vector<double> original = middle_pivot_killer(n);
    Matrix a = column_of(original), perm;
    on_small_stack(256 * 1024, [&] { a.sort(perm); });
    expect_sorted_permutation(original, a, perm);
}

TEST(MatrixEigenDeathTest, NonSquareEndsTheProcess)
{
    const Matrix a(2, 3);
    Matrix values;
    EXPECT_FATAL(delete a.eigen(values), "eigen of a non-square Matrix\\(2, 3\\)");
}

TEST(MatrixSortDeathTest, RangesOutsideTheOperandsEndTheProcess)
{
    Matrix a = col({3, 1, 2}), short_perm(2), perm(3);
    EXPECT_FATAL(lp::quick_sort(a, short_perm, 0, 2), "quick_sort: rows 0..2 beyond the 2 elements");
    EXPECT_FATAL(lp::quick_sort(a, perm, -1, 2), "quick_sort: rows -1..2");
    Matrix long_perm(4);
    EXPECT_FATAL(lp::quick_sort(a, long_perm, 0, 3), "op \\(\\) Matrix\\(3, 1\\)");
    Matrix empty;
    EXPECT_FATAL(empty.sort(perm), "op \\(\\) Matrix\\(0, 0\\)");
}

TEST(MatrixLuSolveDeathTest, PermutationOutsideTheSystemEndsTheProcess)
{
    Matrix a = mat(2, 2, {4, 7, 2, 6}), b = col({1, 0});
    EXPECT_FATAL(a.lu_solve(col({0, 2}), b), "op \\[\\] Matrix\\(2, 1\\): \\(-1\\)");
    EXPECT_FATAL(a.lu_solve(col({NAN, 2}), b), "nan is not a row number");
    EXPECT_FATAL(a.lu_solve(col({1}), b), "op \\[\\] Matrix\\(1, 1\\): \\(1\\)");
}
