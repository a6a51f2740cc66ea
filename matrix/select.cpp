// Structural operations: transpose, reading and writing the submatrix picked
// by row and column number vectors, joining two matrices, and writing a
// matrix to the sink.
//
// Row and column numbers travel as column vectors of doubles holding 1-based
// numbers; number v picks row or column trunc(v) - 1. The argument list is
// taken by value, so indexing it moves only the copy's cursor and the copy's
// nodes are released on return; the caller's list and matrices are untouched.
#include <cstdio>
#include <new>
#include <utility>

#include "matrix/Matrix"

namespace lp {

namespace {

// The 0-based position named by the 1-based number v, truncated toward zero.
// A number whose truncation is no int (NaN, an infinity, or too large) names
// no row or column of any matrix.
int position(double v)
{
    if (!(v > -2147483648.0 && v < 2147483648.0)) fatal("Error: %g is not a row or column number", v);
    return static_cast<int>(v) - 1;
}

// Moves a onto the free store for a caller that deletes it.
Matrix* release(Matrix&& a)
{
    Matrix* out = new (std::nothrow) Matrix(std::move(a));
    if (out == nullptr) fatal("Error: Tried to allocate a Matrix !");
    return out;
}

// Numbers 1..n as a column vector.
Matrix one_to(int n) { return Matrix(1.0, static_cast<double>(n), 1.0); }

}  // namespace

Matrix& Matrix::transpose()
{
    Matrix t(cols, rows);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) t(j, i) = (*this)(i, j);
    *this = std::move(t);
    return *this;
}

Matrix* Matrix::selection(Liste args) const
{
    if (args.get_count() > 2) {
        sink << "Matrix::selection: Error:  List of args greater than 2";
        return nullptr;
    }
    // Copies of the number vectors, so that an entry may be this matrix.
    const Matrix r = args[0] != nullptr ? Matrix(*args[0]) : one_to(rows);
    const Matrix c = args.get_count() == 1 ? one_to(1) : args[1] != nullptr ? Matrix(*args[1]) : one_to(cols);
    if (static_cast<long long>(r.cols) * c.cols != 1) {
        sink << "Matrix::selection: Error:  Args are not vectors";
        return nullptr;
    }

    Matrix picked(r.rows, c.rows);
    for (int i = 0; i < r.rows; ++i)
        for (int j = 0; j < c.rows; ++j) picked(i, j) = (*this)(position(r[i]), position(c[j]));
    return release(std::move(picked));
}

int Matrix::selectassign(Liste args, const Matrix& src)
{
    if (args.get_count() > 2) {
        sink << "Matrix::selectassign: Error:  List of args greater than 2";
        return 1;
    }
    const Matrix r = args[0] != nullptr ? Matrix(*args[0]) : one_to(1);
    const Matrix c = args.get_count() == 1 || args[1] == nullptr ? one_to(cols) : Matrix(*args[1]);
    if (static_cast<long long>(r.cols) * c.cols != 1) {
        sink << "Matrix::selectassign: Error:  Args are not vectors";
        return 1;
    }

    // Row by row in the order listed, so a number listed twice keeps the
    // later value.
    for (int i = 0; i < r.rows; ++i)
        for (int j = 0; j < c.rows; ++j) (*this)(position(r[i]), position(c[j])) = src(i, j);
    return 1;
}

void Matrix::out() const
{
    char text[32];
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < cols; ++j) {
            std::snprintf(text, sizeof text, "%g", (*this)(i, j));
            sink << text << (j + 1 < cols ? ' ' : '\n');
        }
    }
}

Matrix* hconcat(const Matrix& a, const Matrix& b)
{
    if (a.get_rows() != b.get_rows()) return nullptr;
    const long long width = static_cast<long long>(a.get_cols()) + b.get_cols();
    if (width > 2147483647) fatal("Error: hconcat: %lld columns", width);
    Matrix ab(a.get_rows(), static_cast<int>(width));
    for (int i = 0; i < a.get_rows(); ++i) {
        for (int j = 0; j < a.get_cols(); ++j) ab(i, j) = a(i, j);
        for (int j = 0; j < b.get_cols(); ++j) ab(i, a.get_cols() + j) = b(i, j);
    }
    return release(std::move(ab));
}

Matrix* vconcat(const Matrix& a, const Matrix& b)
{
    if (a.get_cols() != b.get_cols()) return nullptr;
    const long long height = static_cast<long long>(a.get_rows()) + b.get_rows();
    if (height > 2147483647) fatal("Error: vconcat: %lld rows", height);
    Matrix ab(static_cast<int>(height), a.get_cols());
    for (int j = 0; j < a.get_cols(); ++j) {
        for (int i = 0; i < a.get_rows(); ++i) ab(i, j) = a(i, j);
        for (int i = 0; i < b.get_rows(); ++i) ab(a.get_rows() + i, j) = b(i, j);
    }
    return release(std::move(ab));
}

}  // namespace lp
