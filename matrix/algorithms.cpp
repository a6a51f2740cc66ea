// Matrix algorithms on the numerical routines: LU factors and solutions in
// Matrix storage, the eigen decomposition of a symmetric matrix, and sorting.
//
// lu_decompose and lu_solve are ludcmp and lu_backsubstitute on 0-based
// storage, with the same arithmetic in the same order: a = P·L·U with L unit
// lower triangular below the diagonal and U on and above it, the pivot of
// column j chosen by |a(i, j)| / max_k |a(i, k)|, later rows winning ties.
// The permutation holds 1-based row numbers as doubles: perm[j - 1] is the
// row exchanged with row j at column j.
//
// eigen hands a copy to jacobi and returns its eigenvectors as columns.
//
// quick_sort partitions around the middle element of the range (Hoare's
// scheme, stopping on equal elements) and sorts the lower part, then the
// upper one. The partition may end with i = j, so the parts can share that
// element and the order of the two sorts matters. The ranges still to sort
// wait on a heap stack, lower part on top, which performs exactly the swaps of
// the recursive formulation in the same order while the depth of the
// partition tree, up to the length of the column for an adversarial one,
// costs no call stack.
#include <cmath>
#include <cstddef>
#include <memory>
#include <new>
#include <utility>

#include "matrix/Matrix"
#include "numeric/numeric.h"

namespace lp {

namespace {

// Ranges lo..hi waiting to be sorted, last in first out.
class Pending {
public:
    Pending() = default;
    Pending(const Pending&) = delete;
    Pending& operator=(const Pending&) = delete;
    ~Pending() { ::operator delete(slot); }

    void push(int lo, int hi)
    {
        if (size == capacity) grow();
        slot[size++] = Range{lo, hi};
    }
    bool pop(int& lo, int& hi)
    {
        if (size == 0) return false;
        --size;
        lo = slot[size].lo;
        hi = slot[size].hi;
        return true;
    }

private:
    struct Range {
        int lo, hi;
    };
    void grow()
    {
        const std::size_t more = capacity == 0 ? 64 : 2 * capacity;
        auto* bigger = static_cast<Range*>(::operator new(more * sizeof(Range), std::nothrow));
        if (bigger == nullptr) fatal("Error: quick_sort: Tried to allocate %llu ranges !", static_cast<unsigned long long>(more));
        for (std::size_t k = 0; k < size; ++k) bigger[k] = slot[k];
        ::operator delete(slot);
        slot = bigger;
        capacity = more;
    }

    Range* slot = nullptr;
    std::size_t size = 0, capacity = 0;
};

// The 1-based row number held in v, truncated toward zero; a value whose
// truncation is no int names no row.
int row_number(double v)
{
    if (!(v > -2147483648.0 && v < 2147483648.0)) fatal("Error: lu_solve: %g is not a row number", v);
    return static_cast<int>(v);
}

}  // namespace

int Matrix::lu_decompose(Matrix& perm, double& d)
{
    if (cols != rows) return 1;
    const int n = rows;
    Matrix& a = *this;
    d = 1.0;

    // Row scales: the reciprocal of each row's largest magnitude. A zero row
    // has no LU factors; it is refused before anything changes.
    Matrix scale(1.0, static_cast<double>(n), 1.0);
    for (int i = 0; i < n; ++i) {
        double big = 0.0;
        for (int j = 0; j < n; ++j) {
            const double mag = std::fabs(a(i, j));
            if (mag > big) big = mag;
        }
        if (big == 0.0) return 2;
        scale[i] = 1.0 / big;
    }

    // When no row qualifies as pivot (every figure of merit NaN) the pivot row
    // of the previous column serves again; the first column falls back on row 0.
    int imax = 0;
    for (int j = 0; j < n; ++j) {
        // U above the diagonal.
        for (int i = 0; i < j; ++i) {
            double sum = a(i, j);
            for (int k = 0; k < i; ++k) sum -= a(i, k) * a(k, j);
            a(i, j) = sum;
        }
        // Diagonal and L below it, before division by the pivot.
        double big = 0.0;
        for (int i = j; i < n; ++i) {
            double sum = a(i, j);
            for (int k = 0; k < j; ++k) sum -= a(i, k) * a(k, j);
            a(i, j) = sum;
            const double merit = scale[i] * std::fabs(sum);
            if (merit >= big) {
                big = merit;
                imax = i;
            }
        }
        if (j != imax) {
            for (int k = 0; k < n; ++k) {
                const double held = a(imax, k);
                a(imax, k) = a(j, k);
                a(j, k) = held;
            }
            d = -d;
            scale[imax] = scale[j];
        }
        perm[j] = imax + 1;
        if (a(j, j) == 0.0) a(j, j) = 1.0e-20;
        if (j != n - 1) {
            const double inv = 1.0 / a(j, j);
            for (int i = j + 1; i < n; ++i) a(i, j) *= inv;
        }
    }
    return 0;
}

int Matrix::lu_solve(const Matrix& perm, Matrix& b) const
{
    if (cols != rows) return 1;
    const int n = rows;
    const Matrix& a = *this;

    // Forward substitution with L, unscrambling the permutation as it goes;
    // ii, 1-based, marks the first nonzero entry of the permuted right-hand
    // side (0 while there is none), so leading zeros cost nothing. A NaN
    // entry does not count as nonzero.
    int ii = 0;
    for (int i = 1; i <= n; ++i) {
        const int ip = row_number(perm[i - 1]);
        double sum = b[ip - 1];
        b[ip - 1] = b[i - 1];
        if (ii != 0) {
            for (int j = ii; j <= i - 1; ++j) sum -= a(i - 1, j - 1) * b[j - 1];
        } else if (sum < 0.0 || sum > 0.0) {
            ii = i;
        }
        b[i - 1] = sum;
    }
    // Back substitution with U.
    for (int i = n; i >= 1; --i) {
        double sum = b[i - 1];
        for (int j = i + 1; j <= n; ++j) sum -= a(i - 1, j - 1) * b[j - 1];
        b[i - 1] = sum / a(i - 1, i - 1);
    }
    return 0;
}

Matrix* Matrix::eigen(Matrix& values) const
{
    if (cols != rows) fatal("Error: eigen of a non-square Matrix(%d, %d)", rows, cols);
    const int n = rows;
    Matrix vectors(n, n), lambda(n, 1);

    dmat a = dmatrix(1, n, 1, n);
    dmat v = dmatrix(1, n, 1, n);
    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= n; ++j) a[i][j] = (*this)(i - 1, j - 1);
    std::unique_ptr<double[]> d(new (std::nothrow) double[n + 1]);  // d[0] is never used
    if (!d) fatal("Error: Tried to allocate %d doubles for the eigenvalues !", n + 1);
    int nrot = 0;
    jacobi(a, n, dvec{d.get(), 0}, v, nrot);

    for (int p = 1; p <= n; ++p) {
        lambda[p - 1] = d[p];
        for (int q = 1; q <= n; ++q) vectors(p - 1, q - 1) = v[p][q];
    }
    values = std::move(lambda);
    dmatrix_free(a, 1, n, 1, n);
    dmatrix_free(v, 1, n, 1, n);

    Matrix* out = new (std::nothrow) Matrix(std::move(vectors));
    if (out == nullptr) fatal("Error: Tried to allocate a Matrix !");
    return out;
}

void Matrix::sort(Matrix& perm)
{
    Matrix order(0.0, rows - 1.0, 1.0);
    quick_sort(*this, order, 0, rows - 1);
    perm = std::move(order);
}

void quick_sort(Matrix& a, Matrix& perm, int lo, int hi)
{
    // Every swap stays within lo..hi; perm must hold those elements.
    const long long count = static_cast<long long>(perm.get_rows()) * perm.get_cols();
    if (lo <= hi && (lo < 0 || hi >= count))
        fatal("Error: quick_sort: rows %d..%d beyond the %lld elements of the permutation", lo, hi, count);

    Pending pending;
    pending.push(lo, hi);
    while (pending.pop(lo, hi)) {
        const double x = a(static_cast<int>((static_cast<long long>(lo) + hi) / 2), 0);
        int i = lo, j = hi;
        do {
            while (a(i, 0) < x) ++i;
            while (x < a(j, 0)) --j;
            if (i <= j) {
                std::swap(a(i, 0), a(j, 0));
                std::swap(*perm.elem_ptr(i), *perm.elem_ptr(j));
                ++i;
                --j;
            }
        } while (i < j);
        // The upper part waits below the lower one, which is sorted next.
        if (i < hi) pending.push(i, hi);
        if (lo < j) pending.push(lo, j);
    }
}

}  // namespace lp
