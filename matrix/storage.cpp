// Matrix storage: construction, deep copy, assignment, checked element access,
// and the fatal-error door of the library.
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "matrix/Matrix"

namespace lp {

void fatal(const char* format, ...)
{
    std::fflush(stdout);
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::exit(1);
}

namespace {

// Bytes for rows × cols doubles, or 0 when the count does not fit in size_t.
std::size_t element_bytes(int rows, int cols)
{
    std::size_t count = 0, bytes = 0;
    if (__builtin_mul_overflow(static_cast<std::size_t>(rows), static_cast<std::size_t>(cols), &count) ||
        __builtin_mul_overflow(count, sizeof(double), &bytes))
        return 0;
    return bytes;
}

// Zero-filled storage for rows × cols doubles (both positive), or null.
double* try_allocate(int rows, int cols)
{
    const std::size_t bytes = element_bytes(rows, cols);
    if (bytes == 0) return nullptr;
    auto* block = static_cast<double*>(::operator new(bytes, std::nothrow));
    if (block == nullptr) return nullptr;
    const std::size_t count = bytes / sizeof(double);
    for (std::size_t k = 0; k < count; ++k) block[k] = 0.0;
    return block;
}

}  // namespace

double* allocate_elements(int rows, int cols)
{
    double* block = try_allocate(rows, cols);
    if (block == nullptr) {
        const std::size_t bytes = element_bytes(rows, cols);
        if (bytes == 0)
            fatal("Error: Tried to allocate %d x %d doubles, more Bytes than can be addressed !", rows,
                  cols);
        fatal("Error: Tried to allocate %llu Bytes !", static_cast<unsigned long long>(bytes));
    }
    return block;
}

Matrix::Matrix(int rows) : rows(rows), cols(1)
{
    if (rows <= 0) fatal("Error: Constructor Matrix: row = %d", rows);
    data = allocate_elements(rows, 1);
}

Matrix::Matrix(int rows, int cols) : rows(rows), cols(cols)
{
    if (rows <= 0 || cols <= 0) fatal("Error: Constructor Matrix: row = %d col = %d", rows, cols);
    data = allocate_elements(rows, cols);
}

Matrix::Matrix(int rows, int cols, std::nothrow_t)
{
    if (rows <= 0 || cols <= 0) return;
    data = try_allocate(rows, cols);
    if (data == nullptr) return;
    this->rows = rows;
    this->cols = cols;
}

Matrix::Matrix(double from, double to, double step)
{
    const double stride = from > to ? -std::fabs(step) : std::fabs(step);
    const double whole = std::floor((to - from) / stride);
    // A zero or non-finite step or bound leaves no countable length.
    if (!(whole >= 0.0 && whole < 2147483647.0))
        fatal("Error: Constructor Matrix: no range from %g to %g by %g", from, to, step);
    rows = static_cast<int>(whole) + 1;
    cols = 1;
    data = allocate_elements(rows, 1);
    double offset = 0.0;
    for (int k = 0; k < rows; ++k) {
        data[k] = from + offset;
        offset += stride;
    }
}

Matrix::Matrix(int rows, int cols, int i) : rows(rows), cols(cols)
{
    if (rows <= 0 || cols <= 0) fatal("Error: Constructor Matrix: row = %d  col = %d", rows, cols);
    if (i != 1 || rows != cols) fatal("Error: Constructor Matrix: i must be 1");
    data = allocate_elements(rows, cols);
    for (int k = 0; k < rows; ++k) data[k + k * rows] = 1.0;
}

Matrix::Matrix(const Matrix& other) : rows(other.rows), cols(other.cols)
{
    if (other.data == nullptr) return;
    data = allocate_elements(rows, cols);
    const long long count = static_cast<long long>(rows) * cols;
    for (long long k = 0; k < count; ++k) data[k] = other.data[k];
}

Matrix::Matrix(const Matrix* other) : Matrix()
{
    if (other != nullptr) *this = *other;
}

Matrix::Matrix(Matrix&& other) noexcept
    : rows(std::exchange(other.rows, 0)), cols(std::exchange(other.cols, 0)),
      data(std::exchange(other.data, nullptr))
{
}

Matrix::~Matrix() { ::operator delete(data); }

Matrix& Matrix::operator=(const Matrix& other)
{
    if (this == &other) return *this;
    ::operator delete(data);
    data = nullptr;
    rows = other.rows;
    cols = other.cols;
    if (other.data == nullptr) return *this;
    data = allocate_elements(rows, cols);
    const long long count = static_cast<long long>(rows) * cols;
    for (long long k = 0; k < count; ++k) data[k] = other.data[k];
    return *this;
}

Matrix& Matrix::operator=(Matrix&& other) noexcept
{
    if (this == &other) return *this;
    ::operator delete(data);
    rows = std::exchange(other.rows, 0);
    cols = std::exchange(other.cols, 0);
    data = std::exchange(other.data, nullptr);
    return *this;
}

double& Matrix::operator[](int k)
{
    if (cols != 1 || k < 0 || k >= rows) fatal("Error: op [] Matrix(%d, %d): (%d)", rows, cols, k);
    return data[k];
}

double Matrix::operator[](int k) const
{
    if (cols != 1 || k < 0 || k >= rows) fatal("Error: op [] Matrix(%d, %d): (%d)", rows, cols, k);
    return data[k];
}

double& Matrix::operator()(int i, int j)
{
    if (i < 0 || i >= rows || j < 0 || j >= cols)
        fatal("Error: op () Matrix(%d, %d): (%d, %d)", rows, cols, i, j);
    return data[i + static_cast<long long>(j) * rows];
}

double Matrix::operator()(int i, int j) const
{
    if (i < 0 || i >= rows || j < 0 || j >= cols)
        fatal("Error: op () Matrix(%d, %d): (%d, %d)", rows, cols, i, j);
    return data[i + static_cast<long long>(j) * rows];
}

}  // namespace lp
