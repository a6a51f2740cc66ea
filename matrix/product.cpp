// The in-place matrix products A·b and Aᵀ·b, and the in-place inverse.
#include <cstdlib>
#include <utility>

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
    const std::size_t bytes = LuWork::bytes(rows);
    void* block = bytes != 0 ? std::malloc(bytes) : nullptr;
    if (block == nullptr) fatal("Error: Tried to allocate %llu Bytes for an inverse !", static_cast<unsigned long long>(bytes));
    LuWork work;
    work.place(block, rows);
    inverse(*this, work);
    std::free(block);
    return 0;
}

int Matrix::inverse(const Matrix& A, LuWork& w)
{
    if (A.cols != A.rows) fatal("Error: inverse of a non-square Matrix(%d, %d)", A.rows, A.cols);
    const int n = A.rows;
    if (!same_dims(A) || w.n != n) fatal("Error: inverse of order %d into Matrix(%d, %d)", n, rows, cols);

    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= n; ++j) w.a[i][j] = A(i - 1, j - 1);
    double parity = 0.0;
    ludcmp(w.a, n, w.indx, parity, w.scale, w.sink);

    // Column j of the inverse solves A·x = e_j.
    for (int j = 1; j <= n; ++j) {
        for (int i = 1; i <= n; ++i) w.col[i] = 0.0;
        w.col[j] = 1.0;
        lu_backsubstitute(w.a, n, w.indx, w.col);
        for (int i = 1; i <= n; ++i) (*this)(i - 1, j - 1) = w.col[i];
    }
    return 0;
}

void Matrix::mult(const Matrix& a, const Matrix& b)
{
    if (a.cols != b.rows || rows != a.rows || cols != b.cols || this == &a || this == &b)
        fatal("Error: product of Matrix(%d, %d) and Matrix(%d, %d) into Matrix(%d, %d)", a.rows, a.cols,
              b.rows, b.cols, rows, cols);
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < cols; ++j) {
            double sum = 0.0;
            for (int k = 0; k < a.cols; ++k) sum += a(i, k) * b(k, j);
            (*this)(i, j) = sum;
        }
    }
}

}  // namespace lp
