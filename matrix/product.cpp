// The in-place matrix products A·b and Aᵀ·b, and the in-place inverse.
#include <memory>

#include "matrix/Matrix"
#include "numeric/numeric.h"

namespace lp {

void Matrix::mult(const Matrix& b)
{
    // A scalar factor scales the other elementwise; the scalar may be either.
    if (is_scalar() || b.is_scalar()) {
        *this = *this * b;
        return;
    }

    Matrix product(rows, b.cols);
    if (cols != b.rows) {
        sink << "Matrix::mult: Error:  Matrices don't match";
        return;
    }
    // Each entry is summed from 0.0 over k in increasing order, so the
    // product is reproducible bit for bit; b may be this matrix itself.
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < b.cols; ++j) {
            double sum = 0.0;
            for (int k = 0; k < cols; ++k) sum += (*this)(i, k) * b(k, j);
            product(i, j) = sum;
        }
    }
    *this = std::move(product);
}

void Matrix::tmult(const Matrix& b)
{
    if (is_scalar() || b.is_scalar()) {
        *this = *this * b;
        return;
    }

    Matrix product(cols, b.cols);
    if (rows != b.rows) {
        sink << "Matrix::tmult: Error:  Matrices don't match";
        return;
    }
    // (Aᵀb)(i, j) = sum over k of A(k, i)·b(k, j), summed from 0.0 in
    // increasing k; b may be this matrix itself.
    for (int i = 0; i < cols; ++i) {
        for (int j = 0; j < b.cols; ++j) {
            double sum = 0.0;
            for (int k = 0; k < rows; ++k) sum += (*this)(k, i) * b(k, j);
            product(i, j) = sum;
        }
    }
    *this = std::move(product);
}

int Matrix::inverse()
{
    if (cols != rows) fatal("Error: inverse of a non-square Matrix(%d, %d)", rows, cols);
    const int n = rows;

    dmat a = dmatrix(1, n, 1, n);
    dmat y = dmatrix(1, n, 1, n);
    dvec col = dvector(1, n);
    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= n; ++j) a[i][j] = (*this)(i - 1, j - 1);

    std::unique_ptr<int[]> permutation(new (std::nothrow) int[n + 1]);  // entry 0 is never read
    if (!permutation) fatal("Error: Tried to allocate %d ints for the permutation !", n + 1);
    double parity = 0.0;
    ludcmp(a, n, permutation.get(), parity);

    // Column j of the inverse solves A·x = e_j.
    for (int j = 1; j <= n; ++j) {
        for (int i = 1; i <= n; ++i) col[i] = 0.0;
        col[j] = 1.0;
        lu_backsubstitute(a, n, permutation.get(), col);
        for (int i = 1; i <= n; ++i) y[i][j] = col[i];
    }
    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= n; ++j) (*this)(i - 1, j - 1) = y[i][j];

    dmatrix_free(a, 1, n, 1, n);
    dmatrix_free(y, 1, n, 1, n);
    dvector_free(col, 1, n);
    return 0;
}

}  // namespace lp
