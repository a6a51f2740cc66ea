// Offset-indexed vectors and matrices, the numerical routines' error report,
// LU decomposition with back-substitution, and the Jacobi eigenvalue routine.
//
// The routines index their operands over inclusive ranges, in practice 1..n.
// An offset-indexed vector is one malloc block of nh - nl + 1 elements seen
// through a small view whose operator[] takes the range's own indices; a
// matrix is a malloc'd array of row views, each row a separate malloc block,
// so that m[i][j] is valid for nrl <= i <= nrh and ncl <= j <= nch. The views
// never form a pointer outside their block. Elements are not initialised.
#pragma once

#include <cstddef>

namespace lp {

template <class T>
struct OffsetVector {
    T* block = nullptr;  // element `lo` of the range
    int lo = 0;

    T& operator[](int i) const { return block[static_cast<std::ptrdiff_t>(i) - lo]; }
};

template <class T>
struct OffsetMatrix {
    OffsetVector<T>* row = nullptr;  // row view `lo` of the range
    int lo = 0;

    OffsetVector<T>& operator[](int i) const { return row[static_cast<std::ptrdiff_t>(i) - lo]; }
};

using fvec = OffsetVector<float>;
using ivec = OffsetVector<int>;
using dvec = OffsetVector<double>;
using fmat = OffsetMatrix<float>;
using imat = OffsetMatrix<int>;
using dmat = OffsetMatrix<double>;

// Where the reports of the numerical routines go: each whole line of text is
// handed to put(ctx, line), or printed on standard output when put is null.
struct ReportSink {
    void (*put)(void* ctx, const char* line) = nullptr;
    void* ctx = nullptr;
};

// Prints the three-line report of a numerical routine to standard output and
// returns; the routine that called it decides whether to carry on.
void numeric_error(const char* message);
// The same three lines, handed to `sink`.
void numeric_error(const char* message, const ReportSink& sink);

// Allocators of vectors indexed nl..nh. After a failed allocation they print
// the report, write one line to standard error and end the process with
// status 1: their callers never test the result.
fvec vector(int nl, int nh);
ivec ivector(int nl, int nh);
dvec dvector(int nl, int nh);
void vector_free(fvec v, int nl, int nh);
void ivector_free(ivec v, int nl, int nh);
void dvector_free(dvec v, int nl, int nh);

// Allocators of matrices indexed nrl..nrh by ncl..nch, one block per row.
fmat matrix(int nrl, int nrh, int ncl, int nch);
dmat dmatrix(int nrl, int nrh, int ncl, int nch);
imat imatrix(int nrl, int nrh, int ncl, int nch);
void matrix_free(fmat m, int nrl, int nrh, int ncl, int nch);
void dmatrix_free(dmat m, int nrl, int nrh, int ncl, int nch);
void imatrix_free(imat m, int nrl, int nrh, int ncl, int nch);

// View of rows oldrl..oldrh, columns from oldcl on, of `a`, renumbered so
// that b[newrl + k][newcl + c] is a[oldrl + k][oldcl + c]. Owns only its
// row array; oldch is not needed.
fmat submatrix(fmat a, int oldrl, int oldrh, int oldcl, int oldch, int newrl, int newcl);
// View of a contiguous row-major block of floats as rows nrl..nrh, columns
// ncl..nch. Owns only its row array.
fmat convert_matrix(float* a, int nrl, int nrh, int ncl, int nch);
void submatrix_free(fmat b, int nrl, int nrh, int ncl, int nch);
void convert_matrix_free(fmat b, int nrl, int nrh, int ncl, int nch);

// Factors a = P·L·U in place (Crout's method with implicit partial pivoting),
// over rows and columns 1..n. On return the strict lower part of a holds L
// (unit diagonal, not stored), the rest holds U, indx[j] is the row exchanged
// with row j at column j, and d is +1 or -1 by the parity of the exchanges.
// An all-zero row is reported and the factorisation goes on; an exactly
// zero pivot becomes 1e-20.
void ludcmp(const dmat& a, int n, int* indx, double& d);
// The same, with the row scales kept in the caller's `scale` (1..n) and the
// report of an all-zero row handed to `sink`.
void ludcmp(const dmat& a, int n, int* indx, double& d, const dvec& scale, const ReportSink& sink = {});

// Solves A·x = b in place with the factors of ludcmp; b is indexed 1..n.
void lu_backsubstitute(const dmat& a, int n, const int* indx, const dvec& b);

// Room for factoring and solving n × n systems again and again without
// allocating: an offset-indexed matrix a and vectors col and scale over 1..n
// and a permutation indx[1..n], all placed in one caller block of bytes(n).
struct LuWork {
    dmat a;
    dvec col, scale;
    int* indx = nullptr;
    int n = 0;
    ReportSink sink;  // where ludcmp's report of an all-zero row goes

    // Bytes of the block for order n, or 0 when they do not fit in size_t.
    static std::size_t bytes(int n);
    // Lays the work out in `block`, which is aligned for doubles.
    void place(void* block, int n);
};

// Eigenvalues and eigenvectors of the real symmetric matrix a, 1..n × 1..n,
// by cyclic Jacobi rotations. Reads the diagonal and the upper triangle and
// drives the upper triangle to zero; the diagonal and lower triangle keep
// their values. On return d[j] holds an eigenvalue (unsorted), column j of v
// its normalised eigenvector, and nrot the number of rotations. Fifty sweeps
// without convergence are reported, and d and v hold the last sweep's state.
void jacobi(const dmat& a, int n, const dvec& d, const dmat& v, int& nrot);

}  // namespace lp
