// Fuzz target of the matrix library's public operations. The input bytes are
// a program over four matrices: each step one operation with operands of
// sizes 1..6 and elements that may be NaN, infinite, huge or tiny. Only
// operations within their preconditions are run (a size, index or shape
// error ends the process by design), and each result is checked against
// what the operation means: products against sums taken in the same order,
// transposes, selections and concatenations element by element, sorting by
// order and permutation, the inverse in place against the inverse into
// caller storage.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "bytes.h"
#include "matrix/Matrix"
#include "numeric/numeric.h"

namespace {

using lp::Matrix;

// Equal bits, or both NaN: which NaN a product of two NaNs yields depends on
// the order the compiler gives the factors, and no caller reads NaN bits.
bool same_bits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

bool same_matrix(const Matrix& a, const Matrix& b)
{
    if (!a.same_dims(b)) return false;
    for (int k = 0; k < a.get_rows() * a.get_cols(); ++k)
        if (!same_bits(a.elem(k), b.elem(k))) return false;
    return true;
}

int count(const Matrix& a) { return a.get_rows() * a.get_cols(); }

// a · b with each entry summed from 0.0 in increasing k.
Matrix product(const Matrix& a, const Matrix& b, bool transposed)
{
    const int inner = transposed ? a.get_rows() : a.get_cols();
    const int rows = transposed ? a.get_cols() : a.get_rows();
    Matrix r(rows, b.get_cols());
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < b.get_cols(); ++j) {
            double s = 0.0;
            for (int k = 0; k < inner; ++k) s += (transposed ? a(k, i) : a(i, k)) * b(k, j);
            r(i, j) = s;
        }
    return r;
}

// The elementwise product when one factor is scalar.
Matrix scaled(const Matrix& a, const Matrix& b)
{
    const Matrix& big = b.is_scalar() ? a : b;
    Matrix r(big.get_rows(), big.get_cols());
    for (int k = 0; k < count(big); ++k)
        *r.elem_ptr(k) = b.is_scalar() ? a.elem(k) * b.elem(0) : a.elem(0) * b.elem(k);
    return r;
}

bool has_nan(const Matrix& a)
{
    for (int k = 0; k < count(a); ++k)
        if (std::isnan(a.elem(k))) return true;
    return false;
}

class Program {
public:
    Program(const std::uint8_t* data, std::size_t size) : in(data, size)
    {
        for (Matrix& M : pool) M = make(1 + in.byte(2) % 6, 1 + in.byte(2) % 6);
    }

    void run()
    {
        for (int step = 0; step < 64 && !in.empty(); ++step) one(in.byte());
    }

private:
    Matrix make(int rows, int cols)
    {
        Matrix M(rows, cols);
        for (int k = 0; k < rows * cols; ++k) *M.elem_ptr(k) = in.element(k);
        return M;
    }
    Matrix& pick() { return pool[in.byte() % 4]; }
    int below(int bound) { return static_cast<int>(in.byte() % static_cast<unsigned>(bound)); }

    // A column vector of `len` 1-based numbers up to `limit`.
    Matrix indices(int len, int limit)
    {
        Matrix v(len);
        for (int k = 0; k < len; ++k) v[k] = 1 + below(limit) + (in.byte() % 4) * 0.25;  // fractions truncate
        return v;
    }

    void one(unsigned op)
    {
        switch (op % 20) {
        case 0: pick() = make(1 + below(6), 1 + below(6)); break;
        case 1: {  // range constructor, only where the count is small and defined
            const double from = in.element(0), to = in.element(1), step = in.element(2);
            const double stride = from > to ? -std::fabs(step) : std::fabs(step);
            const double whole = std::floor((to - from) / stride);
            if (!(whole >= 0.0 && whole < 64.0)) break;
            Matrix r(from, to, step);
            if (r.get_rows() != static_cast<int>(whole) + 1 || r.get_cols() != 1) fuzz::finding("range size");
            double offset = 0.0;
            for (int k = 0; k < r.get_rows(); ++k, offset += stride)
                if (!same_bits(r[k], from + offset)) fuzz::finding("range element");
            pick() = r;
            break;
        }
        case 2: {
            const int r = 1 + below(6);
            Matrix I(r, r, 1);
            for (int i = 0; i < r; ++i)
                for (int j = 0; j < r; ++j)
                    if (I(i, j) != (i == j ? 1.0 : 0.0)) fuzz::finding("identity");
            pick() = I;
            break;
        }
        case 3: {  // copy, assignment and self-assignment are deep
            Matrix& a = pick();
            const Matrix& b = pick();
            const Matrix before(b);
            a = b;
            if (!same_matrix(a, before) || !same_matrix(b, before)) fuzz::finding("assignment");
            if (&a != &b && count(a) > 0) {
                *a.elem_ptr(0) += 1.0;
                if (!same_bits(b.elem(0), before.elem(0))) fuzz::finding("copies share storage");
            }
            break;
        }
        case 4: case 5: {  // A·b and Aᵀ·b in place
            Matrix& a = pick();
            const Matrix b = pick();
            const Matrix before = a;
            const bool transposed = op % 20 == 5;
            Matrix want = a.is_scalar() || b.is_scalar() ? scaled(a, b)
                          : (transposed ? a.get_rows() : a.get_cols()) == b.get_rows() ? product(a, b, transposed)
                                                                                         : before;
            if (transposed) a.tmult(b);
            else a.mult(b);
            if (!same_matrix(a, want)) fuzz::finding(transposed ? "tmult" : "mult");
            break;
        }
        case 6: {  // product into caller storage
            const Matrix& a = pick();
            const Matrix& b = pick();
            if (a.get_cols() != b.get_rows()) break;
            Matrix r(a.get_rows(), b.get_cols());
            r.mult(a, b);
            if (!same_matrix(r, product(a, b, false))) fuzz::finding("mult into storage");
            break;
        }
        case 7: {  // inverse in place and into work storage agree
            Matrix& a = pick();
            if (a.get_rows() != a.get_cols()) break;
            const int nrow = a.get_rows();
            std::vector<double> block(lp::LuWork::bytes(nrow) / sizeof(double) + 1);
            lp::LuWork w;
            w.place(block.data(), nrow);
            Matrix into(nrow, nrow);
            into.inverse(a, w);
            if (a.inverse() != 0 || !same_matrix(a, into)) fuzz::finding("inverse");
            break;
        }
        case 8: {  // elementwise arithmetic with broadcasting
            const Matrix& a = pick();
            const Matrix& b = pick();
            const unsigned which = in.byte() % 4;
            const Matrix r = which == 0 ? a + b : which == 1 ? a - b : which == 2 ? a * b : a / b;
            auto combine = [which](double u, double v) {
                return which == 0 ? u + v : which == 1 ? u - v : which == 2 ? u * v : u / v;
            };
            int rows = 1, cols = 1;
            if (b.is_scalar()) rows = a.get_rows(), cols = a.get_cols();
            else if (a.is_scalar() || a.same_dims(b)) rows = b.get_rows(), cols = b.get_cols();
            else if (a.get_rows() == b.get_rows()) rows = a.get_rows(), cols = std::max(a.get_cols(), b.get_cols());
            else if (a.get_cols() == b.get_cols()) rows = std::max(a.get_rows(), b.get_rows()), cols = a.get_cols();
            if (r.get_rows() != rows || r.get_cols() != cols) fuzz::finding("elementwise size");
            if (b.is_scalar() || a.is_scalar() || a.same_dims(b))
                for (int k = 0; k < count(r); ++k) {
                    const double u = a.is_scalar() && !b.is_scalar() ? a.elem(0) : a.elem(k);
                    const double v = b.is_scalar() ? b.elem(0) : b.elem(k);
                    if (!same_bits(r.elem(k), combine(u, v))) fuzz::finding("elementwise value");
                }
            break;
        }
        case 9: {  // relations where the operands conform
            const Matrix& a = pick();
            const Matrix& b = pick();
            if (!(a.is_scalar() || b.is_scalar() || a.same_dims(b))) break;
            const unsigned which = in.byte() % 8;
            const Matrix r = which == 0 ? (a == b) : which == 1 ? (a != b) : which == 2 ? (a < b)
                           : which == 3 ? (a <= b) : which == 4 ? (a > b) : which == 5 ? (a >= b)
                           : which == 6 ? (a && b) : (a || b);
            for (int k = 0; k < count(r); ++k) {
                const double u = a.is_scalar() && !b.is_scalar() ? a.elem(0) : a.elem(k);
                const double v = b.is_scalar() ? b.elem(0) : b.elem(k);
                const bool want = which == 0 ? u == v : which == 1 ? u != v : which == 2 ? u < v : which == 3 ? u <= v
                                : which == 4 ? u > v : which == 5 ? u >= v : which == 6 ? (u != 0.0 && v != 0.0)
                                : (u != 0.0 || v != 0.0);
                if (r.elem(k) != (want ? 1.0 : 0.0)) fuzz::finding("relation");
            }
            break;
        }
        case 10: {  // column extremes
            const Matrix& a = pick();
            const int c = below(a.get_cols());
            double lo = a(0, c), hi = a(0, c);
            for (int i = 1; i < a.get_rows(); ++i) {
                if (a(i, c) < lo) lo = a(i, c);
                if (a(i, c) > hi) hi = a(i, c);
            }
            if (!same_bits(a.min_col(c), lo) || !same_bits(a.max_col(c), hi)) fuzz::finding("column extreme");
            break;
        }
        case 11: {  // transpose twice is the identity
            Matrix& a = pick();
            const Matrix before = a;
            a.transpose();
            for (int i = 0; i < before.get_rows(); ++i)
                for (int j = 0; j < before.get_cols(); ++j)
                    if (!same_bits(a(j, i), before(i, j))) fuzz::finding("transpose");
            a.transpose();
            if (!same_matrix(a, before)) fuzz::finding("transpose twice");
            break;
        }
        case 12: {  // selection of rows and columns by 1-based numbers
            const Matrix& a = pick();
            Matrix r = indices(1 + below(5), a.get_rows()), c = indices(1 + below(5), a.get_cols());
            const unsigned form = in.byte() % 3;
            lp::Liste args = form == 0 ? lp::Liste{&r, &c} : form == 1 ? lp::Liste{nullptr, &c} : lp::Liste{&r, nullptr};
            std::unique_ptr<Matrix> s(a.selection(args));
            if (!s) fuzz::finding("selection refused vectors");
            const int rows = form == 1 ? a.get_rows() : r.get_rows(), cols = form == 2 ? a.get_cols() : c.get_rows();
            if (s->get_rows() != rows || s->get_cols() != cols) fuzz::finding("selection size");
            for (int i = 0; i < rows; ++i)
                for (int j = 0; j < cols; ++j) {
                    const int ri = form == 1 ? i : static_cast<int>(r[i]) - 1;
                    const int cj = form == 2 ? j : static_cast<int>(c[j]) - 1;
                    if (!same_bits((*s)(i, j), a(ri, cj))) fuzz::finding("selection element");
                }
            break;
        }
        case 13: {  // assignment into selected rows and columns
            Matrix& a = pick();
            Matrix r = indices(1 + below(4), a.get_rows()), c = indices(1 + below(4), a.get_cols());
            const Matrix src = make(r.get_rows() + below(2), c.get_rows() + below(2));
            if (a.selectassign(lp::Liste{&r, &c}, src) != 1) fuzz::finding("selectassign result");
            // Later writes win where numbers repeat: check the last writer of each element.
            for (int i = r.get_rows() - 1; i >= 0; --i)
                for (int j = c.get_rows() - 1; j >= 0; --j) {
                    const int ri = static_cast<int>(r[i]) - 1, cj = static_cast<int>(c[j]) - 1;
                    bool last = true;
                    for (int i2 = 0; i2 < r.get_rows(); ++i2)
                        for (int j2 = 0; j2 < c.get_rows(); ++j2)
                            if ((i2 > i || (i2 == i && j2 > j)) && static_cast<int>(r[i2]) - 1 == ri &&
                                static_cast<int>(c[j2]) - 1 == cj)
                                last = false;
                    if (last && !same_bits(a(ri, cj), src(i, j))) fuzz::finding("selectassign element");
                }
            break;
        }
        case 14: {  // concatenation
            const Matrix& a = pick();
            const Matrix& b = pick();
            std::unique_ptr<Matrix> h(lp::hconcat(a, b)), v(lp::vconcat(a, b));
            if ((h != nullptr) != (a.get_rows() == b.get_rows())) fuzz::finding("hconcat refusal");
            if ((v != nullptr) != (a.get_cols() == b.get_cols())) fuzz::finding("vconcat refusal");
            if (h)
                for (int i = 0; i < a.get_rows(); ++i)
                    for (int j = 0; j < a.get_cols() + b.get_cols(); ++j)
                        if (!same_bits((*h)(i, j), j < a.get_cols() ? a(i, j) : b(i, j - a.get_cols())))
                            fuzz::finding("hconcat element");
            if (v)
                for (int i = 0; i < a.get_rows() + b.get_rows(); ++i)
                    for (int j = 0; j < a.get_cols(); ++j)
                        if (!same_bits((*v)(i, j), i < a.get_rows() ? a(i, j) : b(i - a.get_rows(), j)))
                            fuzz::finding("vconcat element");
            break;
        }
        case 15: {  // LU factors and solution in Matrix storage
            Matrix& a = pick();
            if (a.get_rows() != a.get_cols()) {
                Matrix perm(1);
                double d = 0;
                if (a.lu_decompose(perm, d) != 1) fuzz::finding("lu_decompose of a non-square matrix");
                break;
            }
            Matrix perm(a.get_rows()), b = make(a.get_rows(), 1);
            double d = 0.0;
            const int status = a.lu_decompose(perm, d);
            if (status == 0 && a.lu_solve(perm, b) != 0) fuzz::finding("lu_solve");
            if (status != 0 && status != 2) fuzz::finding("lu_decompose status");
            break;
        }
        case 16: {  // eigen decomposition of a square matrix
            const Matrix& a = pick();
            if (a.get_rows() != a.get_cols()) break;
            Matrix values;
            std::unique_ptr<Matrix> vectors(a.eigen(values));
            if (!vectors || !vectors->same_dims(a) || values.get_rows() != a.get_rows() || values.get_cols() != 1)
                fuzz::finding("eigen sizes");
            break;
        }
        case 17: {  // sorting the first column
            Matrix& a = pick();
            const Matrix before = a;
            Matrix perm;
            a.sort(perm);
            const int rows = a.get_rows();
            std::vector<int> seen(rows, 0);
            for (int k = 0; k < rows; ++k) {
                const int from = static_cast<int>(perm[k]);
                if (from < 0 || from >= rows || seen[from]++) fuzz::finding("sort permutation");
                if (!same_bits(a(k, 0), before(from, 0))) fuzz::finding("sort moved an element");
                if (!has_nan(before) && k > 0 && a(k, 0) < a(k - 1, 0)) fuzz::finding("sort order");
            }
            for (int k = rows; k < count(a); ++k)
                if (!same_bits(a.elem(k), before.elem(k))) fuzz::finding("sort moved another column");
            break;
        }
        case 18: {  // fill and recycled assignment keep the size
            Matrix& a = pick();
            const Matrix src = pick();
            const int rows = a.get_rows(), cols = a.get_cols();
            if (in.byte() % 2) a.fill(in.element(0));
            else a.assign_recycled(src);
            if (a.get_rows() != rows || a.get_cols() != cols) fuzz::finding("fill changed the size");
            break;
        }
        default: {  // apply
            Matrix& a = pick();
            const Matrix before = a;
            a.apply(std::fabs);
            for (int k = 0; k < count(a); ++k)
                if (!same_bits(a.elem(k), std::fabs(before.elem(k)))) fuzz::finding("apply");
            break;
        }
        }
    }

    fuzz::Bytes in;
    Matrix pool[4];
};

}  // namespace

// The numerical routines' reports (a Jacobi sweep that does not converge on
// NaN) go nowhere.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Program(data, size).run();
    return 0;
}
