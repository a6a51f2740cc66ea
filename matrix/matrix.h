// Matrix: a dense matrix of doubles held column by column in storage that the
// object owns alone. Element (i, j), 0-based, lies at data[i + j·rows]; a
// column vector is rows × 1, and a matrix is scalar when rows·cols = 1. Copies
// are deep; a moved-from matrix is empty (0 × 0, null data).
//
// Size, index and allocation errors end the process through `fatal`; the
// messages of recoverable misuse go to `sink` and are discarded.
#pragma once

#include <new>

namespace lp {

class Liste;
struct LuWork;

class Matrix {
public:
    // The empty matrix: 0 × 0, no storage.
    Matrix() = default;
    // A rows × 1 column vector of +0.0; rows must be positive.
    explicit Matrix(int rows);
    // A rows × cols matrix of +0.0; both sizes must be positive.
    Matrix(int rows, int cols);
    // As Matrix(rows, cols), but leaves the matrix empty instead of ending the
    // process when the sizes are not positive or the storage cannot be had.
    Matrix(int rows, int cols, std::nothrow_t);
    // The column vector from, from + step, ... up to `to`, stepping towards `to`
    // whatever the sign of step: floor((to - from) / step) + 1 elements, each
    // offset a running sum of steps.
    Matrix(double from, double to, double step);
    // The rows × cols identity; i must be 1 and the matrix square.
    Matrix(int rows, int cols, int i);
    Matrix(const Matrix& other);
    // A deep copy of *other; the empty matrix for null.
    explicit Matrix(const Matrix* other);
    Matrix(Matrix&& other) noexcept;
    ~Matrix();

    // Makes this matrix a deep copy of other, with fresh storage.
    Matrix& operator=(const Matrix& other);
    Matrix& operator=(Matrix&& other) noexcept;

    // Element k of a column vector; ends the process for any other matrix or
    // an index outside 0..rows-1.
    double& operator[](int k);
    double operator[](int k) const;
    // Element (i, j); ends the process for an index outside the matrix.
    double& operator()(int i, int j);
    double operator()(int i, int j) const;
    // Element k in storage order, unchecked, for inner loops.
    double elem(int k) const { return data[k]; }
    double* elem_ptr(int k) { return data + k; }
    const double* elem_ptr(int k) const { return data + k; }

    int get_rows() const { return rows; }
    int get_cols() const { return cols; }
    bool empty() const { return data == nullptr; }
    bool is_scalar() const { return static_cast<long long>(rows) * cols == 1; }
    bool same_dims(const Matrix& other) const { return rows == other.rows && cols == other.cols; }

    // Replaces this matrix A by A·b; when either factor is scalar, by their
    // elementwise product. Non-conforming factors leave A unchanged.
    void mult(const Matrix& b);
    // Replaces this square matrix by its inverse, computed column by column
    // from LU factors. A singular matrix is not refused: its inverse comes out
    // very large or non-finite. Returns 0; a non-square matrix ends the process.
    int inverse();
    // Makes this matrix, of A's size, the inverse of the square matrix A by
    // the same steps, in the caller's work storage of A's order; A may be
    // this matrix. Returns 0.
    int inverse(const Matrix& A, LuWork& w);
    // Makes this matrix, of a's rows and b's columns, the product a·b, each
    // entry summed as in mult(b), without allocating. Neither factor may be
    // this matrix, and the factors must conform.
    void mult(const Matrix& a, const Matrix& b);

    // Elementwise a + b, a - b, a · b and a / b, the left operand's element
    // always on the left. A scalar operand is combined with every element of
    // the other; equal row counts recycle the columns of the narrower operand
    // and equal column counts the rows of the shorter one. Non-conforming
    // operands give a 1 × 1 zero.
    Matrix operator+(const Matrix& b) const;
    Matrix operator-(const Matrix& b) const;
    Matrix operator*(const Matrix& b) const;
    Matrix operator/(const Matrix& b) const;
    // Sets every element to value.
    void fill(double value);
    // Copies src into this matrix, which keeps its size: src's columns go to
    // the first columns and column 0 to the rest when the row counts agree,
    // src's rows likewise when the column counts agree, and otherwise src's
    // elements are repeated in storage order. An empty src ends the process
    // unless this matrix is empty too.
    void assign_recycled(const Matrix& src);

    // Elementwise relations and logical connectives, 1.0 for true and 0.0 for
    // false, the left operand's element on the left. A scalar operand meets
    // every element of the other; otherwise the sizes must be equal, or the
    // process ends. && and || take an element as true when it is not 0.0.
    Matrix operator==(const Matrix& b) const;
    Matrix operator!=(const Matrix& b) const;
    Matrix operator<(const Matrix& b) const;
    Matrix operator<=(const Matrix& b) const;
    Matrix operator>(const Matrix& b) const;
    Matrix operator>=(const Matrix& b) const;
    Matrix operator&&(const Matrix& b) const;
    Matrix operator||(const Matrix& b) const;
    // The smallest and the largest element of column c; a column outside the
    // matrix ends the process.
    double min_col(int c) const;
    double max_col(int c) const;
    // Replaces every element x by f(x), in storage order; returns this matrix.
    Matrix& apply(double (*f)(double));

    // Replaces this matrix by its transpose; returns this matrix.
    Matrix& transpose();
    // Replaces this matrix A by Aᵀ·b; when either factor is scalar, by their
    // elementwise product. Unless b has A's row count, A is left unchanged.
    void tmult(const Matrix& b);
    // The matrix of the elements in the rows listed by args[0] and the columns
    // listed by args[1], each a column vector of 1-based numbers (truncated
    // toward zero). A null args[0] stands for every row, a null args[1] for
    // every column, a missing args[1] for column 1. Returns a new matrix that
    // the caller deletes, or null when args has more than two entries or an
    // entry that is not a column vector. A number outside this matrix ends
    // the process.
    Matrix* selection(Liste args) const;
    // Writes src(i, j) into the element in row args[0][i] and column
    // args[1][j] of this matrix, with 1-based numbers as for selection. A null
    // args[0] stands for row 1; a null or missing args[1] for every column.
    // Refuses args as selection does, leaving this matrix unchanged. Returns 1.
    int selectassign(Liste args, const Matrix& src);
    // Writes the matrix to the sink: a column vector element by element, any
    // other matrix row by row.
    void out() const;

    // Factors this square matrix in place as P·L·U (Crout's method with
    // implicit partial pivoting): L below the diagonal (unit diagonal, not
    // stored), U on and above it. perm[j] receives the 1-based row exchanged
    // with row j + 1, and d the parity of the exchanges, +1 or -1. Returns 0;
    // 1 for a non-square matrix and 2 for an all-zero row, leaving it as it was.
    int lu_decompose(Matrix& perm, double& d);
    // Solves A·x = b in place, A the matrix that lu_decompose factored into
    // this one with permutation perm. Returns 0; 1 for a non-square matrix.
    int lu_solve(const Matrix& perm, Matrix& b) const;
    // The eigenvectors of this symmetric matrix, as the columns of a new
    // matrix that the caller deletes; values becomes the column of matching
    // eigenvalues, unsorted. A non-square matrix ends the process.
    Matrix* eigen(Matrix& values) const;
    // Sorts column 0 ascending in place; perm becomes the column of 0-based
    // rows that the sorted elements came from. Other columns do not move. The
    // empty matrix has no column 0 and ends the process.
    void sort(Matrix& perm);

private:
    int rows = 0;
    int cols = 0;
    double* data = nullptr;
};

// a and b side by side, a new matrix that the caller deletes; null unless
// they have the same row count.
Matrix* hconcat(const Matrix& a, const Matrix& b);
// a above b, a new matrix that the caller deletes; null unless they have the
// same column count.
Matrix* vconcat(const Matrix& a, const Matrix& b);

// Sorts a(lo..hi, 0) ascending in place, swapping the elements of perm (in
// storage order) alongside. Partitions around the middle element and sorts
// the lower part before the upper one.
void quick_sort(Matrix& a, Matrix& perm, int lo, int hi);

// Storage for rows × cols doubles from operator new, every element +0.0.
// Ends the process when the storage cannot be had.
double* allocate_elements(int rows, int cols);

}  // namespace lp
