// The kernels' exponential and their quotients by per-call divisors: accuracy
// against a long double reference, exact special values, and the same bits
// from every instruction set the processor has.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "estimators/frame.h"
#include "support.h"

namespace {

std::vector<lp::Kernel> kernels()
{
    std::vector<lp::Kernel> out;
    if (lp::path_available(lp::Path::avx512)) out.push_back(lp::kernel_avx512());
    if (lp::path_available(lp::Path::avx2)) out.push_back(lp::kernel_avx2());
    if (lp::path_available(lp::Path::sse2)) out.push_back(lp::kernel_sse2());
    out.push_back(lp::kernel_scalar());
    return out;
}

// |got - e^x| in units of the last place of e^x (of the subnormal grid below
// the normal range), with e^x from long double.
double ulp_error(double got, double x)
{
    const long double want = expl(static_cast<long double>(x));
    const double rounded = static_cast<double>(want);
    if (std::isinf(rounded)) return std::isinf(got) ? 0.0 : INFINITY;
    int e = 0;
    std::frexp(rounded, &e);
    const long double ulp = std::max(ldexpl(1.0L, e - 53), ldexpl(1.0L, -1074));
    return static_cast<double>(fabsl(static_cast<long double>(got) - want) / ulp);
}

// Arguments spread over [lo, hi], and every kernel's exponential of them.
std::vector<double> arguments(double lo, double hi, int count, unsigned seed)
{
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> u(lo, hi);
    std::vector<double> x(count);
    for (double& v : x) v = u(gen);
    return x;
}

}  // namespace

TEST(Exponential, WithinHalfAnUlpAndAFractionEverywhere)
{
    // The kernel's arguments -u²/2 lie in (-inf, 0]; the rest of the range is
    // served as well. Subnormal results are measured on their own grid.
    const struct {
        double lo, hi;
    } ranges[] = {{-1e-6, 0.0}, {-1.0, 0.0}, {-40.0, -1.0}, {-708.3, -40.0}, {-745.2, -708.3}, {0.0, 709.7}};
    for (const auto& r : ranges) {
        const std::vector<double> x = arguments(r.lo, r.hi, 400000, 11);
        std::vector<double> e(x.size());
        lp::kernel_scalar().expo(x.data(), e.data(), static_cast<long>(x.size()));
        double worst = 0.0;
        for (std::size_t k = 0; k < x.size(); ++k) worst = std::max(worst, ulp_error(e[k], x[k]));
        EXPECT_LT(worst, 0.57) << "on [" << r.lo << ", " << r.hi << "]";
    }
}

TEST(Exponential, ExactAtTheEdgesOfTheRange)
{
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(lp::expo(0.0), 1.0);
    EXPECT_EQ(lp::expo(-0.0), 1.0);
    EXPECT_EQ(lp::expo(-inf), 0.0);
    EXPECT_EQ(lp::expo(inf), inf);
    EXPECT_TRUE(std::isnan(lp::expo(std::numeric_limits<double>::quiet_NaN())));
    EXPECT_EQ(lp::expo(-1e-300), 1.0);
    // The smallest subnormal and the first argument that underflows to zero.
    EXPECT_EQ(lp::expo(-745.1332191019411), 0x1p-1074);
    EXPECT_EQ(lp::expo(-745.1332191019412), 0.0);
    EXPECT_EQ(lp::expo(-750.0), 0.0);
    EXPECT_EQ(lp::expo(-1e10), 0.0);
    // The last argument below overflow and the first above it.
    EXPECT_LE(ulp_error(lp::expo(709.782712893384), 709.782712893384), 0.53);
    EXPECT_EQ(lp::expo(709.7827128933841), inf);
    EXPECT_EQ(lp::expo(1e10), inf);
    // Results near the smallest normal number, on either side.
    for (double x : {-708.3964185322641, -708.3964185322642, -708.39641853226408, -708.4})
        EXPECT_LE(ulp_error(lp::expo(x), x), 0.53) << x;
}

TEST(Exponential, SameBitsFromEveryInstructionSet)
{
    // Arguments that put normal, subnormal, zero, overflowing and special
    // results side by side in one vector.
    std::vector<double> x = arguments(-760.0, 720.0, 20000, 5);
    const std::vector<double> near = arguments(-746.0, -707.0, 20000, 6);
    x.insert(x.end(), near.begin(), near.end());
    for (double v : {0.0, -0.0, -745.13321910194122, 709.79, -HUGE_VAL, HUGE_VAL, std::nan(""), -1e-320})
        for (int k = 0; k < 9; ++k) x.insert(x.begin() + 3 * k, v);
    const std::vector<lp::Kernel> ks = kernels();
    std::vector<double> want(x.size());
    ks.back().expo(x.data(), want.data(), static_cast<long>(x.size()));
    for (const lp::Kernel& k : ks) {
        std::vector<double> got(x.size());
        k.expo(x.data(), got.data(), static_cast<long>(x.size()));
        for (std::size_t i = 0; i < x.size(); ++i)
            ASSERT_TRUE(same_bits(got[i], want[i])) << k.name << " at " << x[i] << ": " << got[i] << " vs " << want[i];
    }
}

TEST(Quotient, CorrectlyRoundedForEveryDividendAndDivisor)
{
    // Divisors with random significands, all-ones significands, powers of
    // two and extreme exponents, including those the reciprocal never
    // serves; dividends over the whole exponent range and at the edges of
    // the served range, zeros and specials among them.
    std::mt19937_64 gen(3);
    std::vector<double> divisors = {1.0, 0.1, 2.5066282746310002, 3.0, 0x1.fffffffffffffp0, 0x1.fffffffffffffp-3,
                                    0x1p-500, 0x1p500, 0x1p-600, 0x1p700, 1e-310, -0.7, 4096.0};
    std::uniform_real_distribution<double> mant(1.0, 2.0);
    std::uniform_int_distribution<int> expo(-60, 60), wide(-1070, 1020);
    for (int k = 0; k < 40; ++k) divisors.push_back(std::ldexp(mant(gen), expo(gen)));
    std::vector<double> a;
    for (int k = 0; k < 60000; ++k) a.push_back(std::ldexp(mant(gen), k % 3 == 0 ? wide(gen) : expo(gen)));
    for (double v : {0.0, -0.0, 1e-320, 0x1p-900, 0x1p-901, 0x1p899, 0x1p900, 0x1p901, HUGE_VAL, -HUGE_VAL, std::nan("")})
        a.push_back(v);
    for (std::size_t k = 0; k < a.size(); k += 2) a[k] = -a[k];

    std::vector<double> q(a.size());
    long checked = 0;
    for (const lp::Kernel& k : kernels()) {
        for (double b : divisors) {
            lp::Divisor d;
            lp::make_divisor(b, d);
            k.divide(d, a.data(), q.data(), static_cast<long>(a.size()));
            for (std::size_t i = 0; i < a.size(); ++i, ++checked)
                ASSERT_TRUE(same_bits(q[i], a[i] / b)) << k.name << ": " << a[i] << " / " << b;
        }
    }
    EXPECT_GT(checked, 1000000);
}
