// LU factors and back-substitution: pivot choice and parity, the singular
// cases, and solutions of random systems to rounding.
#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

#include "numeric/numeric.h"
#include "support.h"

namespace {

// An n × n system in offset storage, freed when it goes out of scope.
struct System {
    explicit System(int n, std::initializer_list<double> rows = {})
        : n(n), a(lp::dmatrix(1, n, 1, n)), b(lp::dvector(1, n)), indx(n + 1)
    {
        int k = 0;
        for (double v : rows) {
            a[k / n + 1][k % n + 1] = v;
            ++k;
        }
    }
    ~System()
    {
        lp::dmatrix_free(a, 1, n, 1, n);
        lp::dvector_free(b, 1, n);
    }
    void factor() { lp::ludcmp(a, n, indx.data(), d); }
    void solve() { lp::lu_backsubstitute(a, n, indx.data(), b); }

    int n;
    lp::dmat a;
    lp::dvec b;
    std::vector<int> indx;
    double d = 0.0;
};

}  // namespace

TEST(LuDecomposition, OneByOne)
{
    System s(1, {5});
    s.factor();
    EXPECT_EQ(s.indx[1], 1);
    EXPECT_EQ(s.d, 1.0);
    EXPECT_EQ(s.a[1][1], 5.0);
    s.b[1] = 1.0;
    s.solve();
    EXPECT_EQ(s.b[1], 0.2);
}

TEST(LuDecomposition, PivotAndParity)
{
    System swap(2, {0, 1, 1, 0});
    swap.factor();
    EXPECT_EQ(swap.indx[1], 2);
    EXPECT_EQ(swap.d, -1.0);

    // Equal scaled merits: the later row wins.
    System tie(2, {1, 0, 1, 0.5});
    tie.factor();
    EXPECT_EQ(tie.indx[1], 2);
    EXPECT_EQ(tie.d, -1.0);
}

TEST(LuDecomposition, ZeroPivotBecomesTinyWithoutReport)
{
    System s(2, {1, 2, 2, 4});
    const std::string out = printed_by([&] { s.factor(); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(s.a[2][2], 1.0e-20);
    s.b[1] = 1.0;
    s.b[2] = 0.0;
    s.solve();
    EXPECT_GT(std::fabs(s.b[2]), 1e19);
}

TEST(LuDecomposition, AllZeroRowIsReportedOnceAndFactoringGoesOn)
{
    System s(3, {1, 2, 3, 0, 0, 0, 4, 5, 7});
    const std::string out = printed_by([&] { s.factor(); });
    EXPECT_EQ(out,
              "Numerical routine run-time error...\nSingular matrix in routine LUDCMP\n"
              "...now exiting to system..?.\n");
    for (int j = 1; j <= 3; ++j) EXPECT_GE(s.indx[j], 1);
}

TEST(LuBacksubstitution, LeadingZerosGiveTheFullSolution)
{
    System s(3, {2, 1, 1, 1, 3, 2, 1, 0, 0});
    s.factor();
    s.b[1] = 0.0;
    s.b[2] = 0.0;
    s.b[3] = 1.0;
    s.solve();
    // A·x = e3 with A = [[2,1,1],[1,3,2],[1,0,0]]: x = (1, 3, -5).
    EXPECT_NEAR(s.b[1], 1.0, 16 * DBL_EPSILON);
    EXPECT_NEAR(s.b[2], 3.0, 16 * DBL_EPSILON);
    EXPECT_NEAR(s.b[3], -5.0, 16 * DBL_EPSILON);
}

TEST(LuBacksubstitution, RandomSystemsToRounding)
{
    std::mt19937 gen(11);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int n = 1; n <= 15; ++n) {
        System s(n);
        std::vector<double> A(n * n), x(n);
        for (int i = 0; i < n; ++i) {
            x[i] = u(gen);
            for (int j = 0; j < n; ++j) A[i * n + j] = u(gen) + (i == j ? 2.0 : 0.0);
        }
        for (int i = 1; i <= n; ++i) {
            long double bi = 0;
            for (int j = 1; j <= n; ++j) {
                s.a[i][j] = A[(i - 1) * n + j - 1];
                bi += static_cast<long double>(A[(i - 1) * n + j - 1]) * x[j - 1];
            }
            s.b[i] = static_cast<double>(bi);
        }
        s.factor();
        s.solve();
        for (int i = 1; i <= n; ++i) EXPECT_NEAR(s.b[i], x[i - 1], 1e3 * DBL_EPSILON) << "n = " << n;
    }
}
