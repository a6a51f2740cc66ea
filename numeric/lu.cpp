// LU decomposition by Crout's method with implicit partial pivoting, and the
// forward and back substitution that solve with its factors.
//
// Storage contract: a is a dmat over 1..n × 1..n; after ludcmp its strict lower
// part holds L (unit diagonal implied) and its diagonal and upper part hold U
// of the row permutation recorded in indx[1..n]. Every inner sum subtracts its
// terms one at a time in increasing index, so results are reproducible bit for
// bit.
#include <cmath>

#include "numeric/numeric.h"

namespace lp {

void ludcmp(const dmat& a, int n, int* indx, double& d)
{
    dvec scale = dvector(1, n);
    ludcmp(a, n, indx, d, scale);
    dvector_free(scale, 1, n);
}

void ludcmp(const dmat& a, int n, int* indx, double& d, const dvec& scale, const ReportSink& sink)
{
    // scale[i]: the reciprocal of row i's largest magnitude.
    d = 1.0;

    for (int i = 1; i <= n; ++i) {
        double big = 0.0;
        for (int j = 1; j <= n; ++j) {
            const double mag = std::fabs(a[i][j]);
            if (mag > big) big = mag;
        }
        if (big == 0.0) numeric_error("Singular matrix in routine LUDCMP", sink);
        scale[i] = 1.0 / big;  // +inf for an all-zero row; the division does not trap
    }

    // When no row qualifies as pivot (every figure of merit NaN) the pivot row
    // of the previous column serves again; the first column falls back on row 1.
    int imax = 1;
    for (int j = 1; j <= n; ++j) {
        // U above the diagonal.
        for (int i = 1; i < j; ++i) {
            double sum = a[i][j];
            for (int k = 1; k < i; ++k) sum -= a[i][k] * a[k][j];
            a[i][j] = sum;
        }
        // Diagonal and L below it, before division by the pivot; pick the pivot
        // by scaled magnitude, ties going to the later row.
        double big = 0.0;
        for (int i = j; i <= n; ++i) {
            double sum = a[i][j];
            for (int k = 1; k < j; ++k) sum -= a[i][k] * a[k][j];
            a[i][j] = sum;
            const double merit = scale[i] * std::fabs(sum);
            if (merit >= big) {
                big = merit;
                imax = i;
            }
        }
        if (j != imax) {
            for (int k = 1; k <= n; ++k) {
                const double held = a[imax][k];
                a[imax][k] = a[j][k];
                a[j][k] = held;
            }
            d = -d;
            scale[imax] = scale[j];
        }
        indx[j] = imax;
        if (a[j][j] == 0.0) a[j][j] = 1.0e-20;
        if (j != n) {
            const double inv = 1.0 / a[j][j];
            for (int i = j + 1; i <= n; ++i) a[i][j] *= inv;
        }
    }
}

void lu_backsubstitute(const dmat& a, int n, const int* indx, const dvec& b)
{
    // Forward substitution with L, unscrambling the permutation as it goes;
    // ii marks the first nonzero entry of the permuted right-hand side, so the
    // leading zeros cost nothing. A NaN entry does not count as nonzero.
    int ii = 0;
    for (int i = 1; i <= n; ++i) {
        const int ip = indx[i];
        double sum = b[ip];
        b[ip] = b[i];
        if (ii != 0) {
            for (int j = ii; j <= i - 1; ++j) sum -= a[i][j] * b[j];
        } else if (sum < 0.0 || sum > 0.0) {
            ii = i;
        }
        b[i] = sum;
    }
    // Back substitution with U.
    for (int i = n; i >= 1; --i) {
        double sum = b[i];
        for (int j = i + 1; j <= n; ++j) sum -= a[i][j] * b[j];
        b[i] = sum / a[i][i];
    }
}

std::size_t LuWork::bytes(int n)
{
    if (n < 1) return 0;
    const std::size_t N = static_cast<std::size_t>(n);
    std::size_t cells = 0;  // doubles of a, col and scale
    if (__builtin_mul_overflow(N, N, &cells) || __builtin_add_overflow(cells, 2 * N, &cells)) return 0;
    std::size_t total = 0;
    if (__builtin_mul_overflow(cells, sizeof(double), &total)) return 0;
    const std::size_t rest = N * sizeof(dvec) + (N + 1) * sizeof(int);
    if (__builtin_add_overflow(total, rest, &total)) return 0;
    return total;
}

void LuWork::place(void* block, int order)
{
    n = order;
    const std::size_t N = static_cast<std::size_t>(order);
    auto* cells = static_cast<double*>(block);
    auto* rows = reinterpret_cast<dvec*>(cells + N * N + 2 * N);
    for (std::size_t i = 0; i < N; ++i) rows[i] = dvec{cells + i * N, 1};
    a = dmat{rows, 1};
    col = dvec{cells + N * N, 1};
    scale = dvec{cells + N * N + N, 1};
    indx = reinterpret_cast<int*>(rows + N);
}

}  // namespace lp
