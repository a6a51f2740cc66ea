// Building small matrices from row-listed values and reading them back, for
// the matrix tests.
#pragma once

#include <initializer_list>
#include <vector>

#include "matrix/Matrix"

namespace test {

// The r × c matrix whose rows, listed one after another, are `values`.
inline lp::Matrix mat(int r, int c, std::initializer_list<double> values)
{
    lp::Matrix a(r, c);
    int k = 0;
    for (double v : values) {
        a(k / c, k % c) = v;
        ++k;
    }
    return a;
}

// The r × 1 column vector of `values`.
inline lp::Matrix col(std::initializer_list<double> values)
{
    return mat(static_cast<int>(values.size()), 1, values);
}

// The elements of a, row by row.
inline std::vector<double> rows(const lp::Matrix& a)
{
    std::vector<double> out;
    for (int i = 0; i < a.get_rows(); ++i)
        for (int j = 0; j < a.get_cols(); ++j) out.push_back(a(i, j));
    return out;
}

using V = std::vector<double>;

}  // namespace test
