// Elementwise relations and logical connectives, column extremes, and apply.
//
// A relation of a (left) and b (right) gives r[k] = 1.0 where it holds and 0.0
// where it does not, for
//
//   b scalar      a[k] against b[0]      r has a's size
//   a scalar      a[0] against b[k]      r has b's size
//   equal sizes   a[k] against b[k]
//
// There is no broadcasting over rows or columns; any other pair of sizes has
// no meaning here and ends the process.
#include "matrix/Matrix"

namespace lp {

namespace {

long long element_count(const Matrix& a) { return static_cast<long long>(a.get_rows()) * a.get_cols(); }

double truth(bool holds) { return holds ? 1.0 : 0.0; }

template <class Rel>
Matrix relate(const Matrix& a, const Matrix& b, Rel rel, const char* op)
{
    if (b.is_scalar()) {
        Matrix r(a.get_rows(), a.get_cols());
        const double y = b.elem(0);
        for (long long k = 0, n = element_count(a); k < n; ++k) *r.elem_ptr(k) = truth(rel(a.elem(k), y));
        return r;
    }
    if (a.is_scalar()) {
        Matrix r(b.get_rows(), b.get_cols());
        const double x = a.elem(0);
        for (long long k = 0, n = element_count(b); k < n; ++k) *r.elem_ptr(k) = truth(rel(x, b.elem(k)));
        return r;
    }
    if (a.same_dims(b)) {
        Matrix r(a.get_rows(), a.get_cols());
        for (long long k = 0, n = element_count(a); k < n; ++k)
            *r.elem_ptr(k) = truth(rel(a.elem(k), b.elem(k)));
        return r;
    }
    fatal("Error: op %s Matrices don't match: (%d, %d) against (%d, %d)", op, a.get_rows(), a.get_cols(),
          b.get_rows(), b.get_cols());
}

}  // namespace

Matrix Matrix::operator==(const Matrix& b) const
{
    return relate(*this, b, [](double x, double y) { return x == y; }, "==");
}

Matrix Matrix::operator!=(const Matrix& b) const
{
    return relate(*this, b, [](double x, double y) { return x != y; }, "!=");
}

Matrix Matrix::operator<(const Matrix& b) const
{
    return relate(*this, b, [](double x, double y) { return x < y; }, "<");
}

Matrix Matrix::operator<=(const Matrix& b) const
{
    return relate(*this, b, [](double x, double y) { return x <= y; }, "<=");
}

Matrix Matrix::operator>(const Matrix& b) const
{
    return relate(*this, b, [](double x, double y) { return x > y; }, ">");
}

Matrix Matrix::operator>=(const Matrix& b) const
{
    return relate(*this, b, [](double x, double y) { return x >= y; }, ">=");
}

Matrix Matrix::operator&&(const Matrix& b) const
{
    return relate(*this, b, [](double x, double y) { return x != 0.0 && y != 0.0; }, "&&");
}

Matrix Matrix::operator||(const Matrix& b) const
{
    return relate(*this, b, [](double x, double y) { return x != 0.0 || y != 0.0; }, "||");
}

double Matrix::min_col(int c) const
{
    if (c > cols - 1 || c < 0) fatal("ERROR: min_col Matrice has no such column: %d of %d", c, cols);
    const double* column = data + static_cast<long long>(c) * rows;
    double least = column[0];
    for (int i = 1; i < rows; ++i)
        if (column[i] < least) least = column[i];
    return least;
}

double Matrix::max_col(int c) const
{
    if (c > cols - 1 || c < 0) fatal("ERROR: max_col Matrice has no such column: %d of %d", c, cols);
    const double* column = data + static_cast<long long>(c) * rows;
    double most = column[0];
    for (int i = 1; i < rows; ++i)
        if (column[i] > most) most = column[i];
    return most;
}

Matrix& Matrix::apply(double (*f)(double))
{
    for (long long k = 0, n = element_count(*this); k < n; ++k) data[k] = f(data[k]);
    return *this;
}

}  // namespace lp
