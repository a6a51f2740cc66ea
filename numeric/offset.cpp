// Offset-indexed storage on the general-purpose heap (malloc and free) and the
// three-line report of the numerical routines.
#include "numeric/numeric.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace lp {

void numeric_error(const char* message)
{
    std::printf("Numerical routine run-time error...\n");
    std::printf("%s\n", message);
    std::printf("...now exiting to system..?.\n");
}

void numeric_error(const char* message, const ReportSink& sink)
{
    if (sink.put == nullptr) return numeric_error(message);
    sink.put(sink.ctx, "Numerical routine run-time error...\n");
    char line[256];
    std::snprintf(line, sizeof line, "%s\n", message);
    sink.put(sink.ctx, line);
    sink.put(sink.ctx, "...now exiting to system..?.\n");
}

namespace {

// Reports a failed allocation and ends the process: no caller tests for a
// null block, and none may receive one.
[[noreturn]] void allocation_failed(const char* message)
{
    numeric_error(message);
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", message);
    std::exit(1);
}

// Elements in the inclusive range lo..hi. An empty or reversed range still
// gets one element, so that malloc never sees a zero or negative size.
std::size_t span(int lo, int hi)
{
    const std::int64_t count = static_cast<std::int64_t>(hi) - lo + 1;
    return count > 0 ? static_cast<std::size_t>(count) : 1;
}

template <class T>
OffsetVector<T> alloc_vector(int nl, int nh, const char* message)
{
    void* block = std::malloc(span(nl, nh) * sizeof(T));
    if (block == nullptr) allocation_failed(message);
    return {static_cast<T*>(block), nl};
}

template <class T>
OffsetMatrix<T> alloc_matrix(int nrl, int nrh, int ncl, int nch, const char* message1,
                             const char* message2)
{
    void* rows = std::malloc(span(nrl, nrh) * sizeof(OffsetVector<T>));
    if (rows == nullptr) allocation_failed(message1);
    OffsetMatrix<T> m{static_cast<OffsetVector<T>*>(rows), nrl};
    for (int i = nrl; i <= nrh; ++i) m[i] = alloc_vector<T>(ncl, nch, message2);
    return m;
}

template <class T>
void free_matrix(OffsetMatrix<T> m, int nrl, int nrh)
{
    for (int i = nrh; i >= nrl; --i) std::free(m[i].block);
    std::free(m.row);
}

}  // namespace

fvec vector(int nl, int nh) { return alloc_vector<float>(nl, nh, "allocation failure in vector()"); }
ivec ivector(int nl, int nh) { return alloc_vector<int>(nl, nh, "allocation failure in ivector()"); }
dvec dvector(int nl, int nh) { return alloc_vector<double>(nl, nh, "allocation failure in dvector()"); }

void vector_free(fvec v, int, int) { std::free(v.block); }
void ivector_free(ivec v, int, int) { std::free(v.block); }
void dvector_free(dvec v, int, int) { std::free(v.block); }

fmat matrix(int nrl, int nrh, int ncl, int nch)
{
    return alloc_matrix<float>(nrl, nrh, ncl, nch, "allocation failure 1 in matrix()",
                               "allocation failure 2 in matrix()");
}

dmat dmatrix(int nrl, int nrh, int ncl, int nch)
{
    return alloc_matrix<double>(nrl, nrh, ncl, nch, "allocation failure 1 in dmatrix()",
                                "allocation failure 2 in dmatrix()");
}

imat imatrix(int nrl, int nrh, int ncl, int nch)
{
    return alloc_matrix<int>(nrl, nrh, ncl, nch, "allocation failure 1 in imatrix()",
                             "allocation failure 2 in imatrix()");
}

void matrix_free(fmat m, int nrl, int nrh, int, int) { free_matrix(m, nrl, nrh); }
void dmatrix_free(dmat m, int nrl, int nrh, int, int) { free_matrix(m, nrl, nrh); }
void imatrix_free(imat m, int nrl, int nrh, int, int) { free_matrix(m, nrl, nrh); }

fmat submatrix(fmat a, int oldrl, int oldrh, int oldcl, int, int newrl, int newcl)
{
    void* rows = std::malloc(span(oldrl, oldrh) * sizeof(fvec));
    if (rows == nullptr) allocation_failed("allocation failure in submatrix()");
    fmat b{static_cast<fvec*>(rows), newrl};
    for (int k = 0; k <= oldrh - oldrl; ++k) b[newrl + k] = fvec{&a[oldrl + k][oldcl], newcl};
    return b;
}

fmat convert_matrix(float* a, int nrl, int nrh, int ncl, int nch)
{
    void* rows = std::malloc(span(nrl, nrh) * sizeof(fvec));
    if (rows == nullptr) allocation_failed("allocation failure in convert_matrix()");
    fmat m{static_cast<fvec*>(rows), nrl};
    const std::size_t width = span(ncl, nch);
    for (int i = 0; i <= nrh - nrl; ++i) m[nrl + i] = fvec{a + i * width, ncl};
    return m;
}

void submatrix_free(fmat b, int, int, int, int) { std::free(b.row); }
void convert_matrix_free(fmat b, int, int, int, int) { std::free(b.row); }

}  // namespace lp
