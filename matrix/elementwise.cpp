// Elementwise arithmetic with broadcasting, and the in-place fills.
//
// For operands a (left) and b (right) and a combination ∘ of +, -, · or /, the
// first rule that applies gives the result:
//
//   b scalar          r[k] = a[k] ∘ b[0]          r has a's size
//   a scalar          r[k] = a[0] ∘ b[k]          r has b's size
//   equal sizes       r[k] = a[k] ∘ b[k]
//   equal rows        r(i, c) = a(i, ca) ∘ b(i, cb), c over the wider column count
//   equal columns     r(i, c) = a(ra, c) ∘ b(rb, c), i over the longer row count
//   otherwise         r = (0), and a message to the sink
//
// The column counters ca and cb run on across rows and wrap at their operand's
// column count, so a column vector is added to every column of a matrix; when
// the narrower count does not divide the wider one, later rows meet the
// narrower operand's columns in a shifted order. The row counters ra and rb
// wrap likewise, one step per result row. Plain IEEE arithmetic throughout: a
// division by zero gives an infinity or NaN.
#include "matrix/Matrix"

namespace lp {

namespace {

long long element_count(const Matrix& a) { return static_cast<long long>(a.get_rows()) * a.get_cols(); }

template <class Op>
Matrix combine(const Matrix& a, const Matrix& b, Op op, const char* mismatch)
{
    if (b.is_scalar()) {
        Matrix r(a.get_rows(), a.get_cols());
        const double y = b.elem(0);
        for (long long k = 0, n = element_count(a); k < n; ++k) *r.elem_ptr(k) = op(a.elem(k), y);
        return r;
    }
    if (a.is_scalar()) {
        Matrix r(b.get_rows(), b.get_cols());
        const double x = a.elem(0);
        for (long long k = 0, n = element_count(b); k < n; ++k) *r.elem_ptr(k) = op(x, b.elem(k));
        return r;
    }
    if (a.same_dims(b)) {
        Matrix r(a.get_rows(), a.get_cols());
        for (long long k = 0, n = element_count(a); k < n; ++k) *r.elem_ptr(k) = op(a.elem(k), b.elem(k));
        return r;
    }
    if (a.get_rows() == b.get_rows()) {
        const int width = a.get_cols() > b.get_cols() ? a.get_cols() : b.get_cols();
        Matrix r(a.get_rows(), width);
        int ca = 0, cb = 0;  // not reset at the start of a row
        for (int i = 0; i < a.get_rows(); ++i) {
            for (int c = 0; c < width; ++c) {
                r(i, c) = op(a(i, ca), b(i, cb));
                if (++ca == a.get_cols()) ca = 0;
                if (++cb == b.get_cols()) cb = 0;
            }
        }
        return r;
    }
    if (a.get_cols() == b.get_cols()) {
        const int height = a.get_rows() > b.get_rows() ? a.get_rows() : b.get_rows();
        Matrix r(height, a.get_cols());
        int ra = 0, rb = 0;
        for (int i = 0; i < height; ++i) {
            for (int c = 0; c < a.get_cols(); ++c) r(i, c) = op(a(ra, c), b(rb, c));
            if (++ra == a.get_rows()) ra = 0;
            if (++rb == b.get_rows()) rb = 0;
        }
        return r;
    }
    sink << mismatch;
    return Matrix(1, 1);
}

}  // namespace

Matrix Matrix::operator+(const Matrix& b) const
{
    return combine(*this, b, [](double x, double y) { return x + y; }, "Error: op + Matrices don't match");
}

Matrix Matrix::operator-(const Matrix& b) const
{
    return combine(*this, b, [](double x, double y) { return x - y; }, "Error: op - Matrices don't match");
}

Matrix Matrix::operator*(const Matrix& b) const
{
    return combine(*this, b, [](double x, double y) { return x * y; }, "Error: op * Matrices don't match");
}

Matrix Matrix::operator/(const Matrix& b) const
{
    return combine(*this, b, [](double x, double y) { return x / y; }, "Error: op / Matrices don't match");
}

void Matrix::fill(double value)
{
    for (long long k = 0, n = element_count(*this); k < n; ++k) data[k] = value;
}

void Matrix::assign_recycled(const Matrix& src)
{
    const long long n = element_count(*this);
    if (n > 0 && src.data == nullptr)
        fatal("Error: assign_recycled: nothing to recycle into Matrix(%d, %d)", rows, cols);

    if (same_dims(src)) {
        for (long long k = 0; k < n; ++k) data[k] = src.data[k];
    } else if (rows == src.rows) {
        // src's columns in order, then its column 0 for every further column.
        long long from = 0;
        for (int c = 0; c < cols; ++c) {
            if (c > src.cols - 1) from = 0;
            for (int i = 0; i < rows; ++i) data[i + static_cast<long long>(c) * rows] = src.data[from++];
        }
    } else if (cols == src.cols) {
        // src's rows in order, then its row 0 for every further row.
        for (int i = 0; i < rows; ++i) {
            const int from = i <= src.rows - 1 ? i : 0;
            for (int c = 0; c < cols; ++c) (*this)(i, c) = src(from, c);
        }
    } else {
        // No size in common: src's elements over and over, in storage order.
        const long long m = element_count(src);
        long long from = 0;
        for (long long k = 0; k < n; ++k) {
            data[k] = src.data[from];
            if (++from == m) from = 0;
        }
    }
}

}  // namespace lp
