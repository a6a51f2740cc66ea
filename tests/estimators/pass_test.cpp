// The batch kernels' passes, called directly: a pass whose weights take the
// near path (unchecked reciprocal quotients, the exponential without its far
// ranges) leaves the same sums, bit for bit, as the same pass with every
// quotient a true division and every exponential the full one, on every
// instruction set, for data inside the near path's range, at its edges and
// beyond them; and those sums are the ones a plain loop over the
// observations forms with the scalar kernel, for the register-held designs,
// the tiled ones up to 16 columns and the general one.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
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

bool same_bits(const std::vector<double>& a, const std::vector<double>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// The same bits, except that any NaN matches any NaN: which NaN a product
// of NaN operands carries is the compiler's choice of operand order.
bool same_numbers(const std::vector<double>& a, const std::vector<double>& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::memcmp(&a[i], &b[i], sizeof(double)) != 0 && !(std::isnan(a[i]) && std::isnan(b[i]))) return false;
    return true;
}

// A design: B columns over p regressors of which pc are continuous; column
// c > p is column fa[c] times column fb[c].
struct Design {
    int B, p, pc;
    std::vector<int> fa, fb;
};

// Columns 1, z_1 .. z_pc, the p - pc dummies, then the given products.
Design design(int p, int pc, const std::vector<std::pair<int, int>>& products)
{
    Design d{1 + p + static_cast<int>(products.size()), p, pc, {}, {}};
    d.fa.assign(d.B, 0);
    d.fb.assign(d.B, 0);
    for (std::size_t k = 0; k < products.size(); ++k) {
        d.fa[1 + p + k] = products[k].first;
        d.fb[1 + p + k] = products[k].second;
    }
    return d;
}

// The data of one pass: observations, the batch's points (one per lane of
// the widest kernel; narrower kernels take the first of them) and the call's
// scalars.
struct Data {
    int n = 0;
    std::vector<double> x, y, t;  // x: n × p; t: pc × 8, point l's coordinate k at t[k·8 + l]
    std::vector<double> h;        // pc bandwidths
    int nr = 0, loo = 0, slots = 0, slot0 = 0;
    double dens0 = 0.0;  // each lane's density on entry
};

// The sums of one pass: acc, then the density of each lane, then the cells.
std::vector<double> pass(const lp::Kernel& kern, const Design& ds, const Data& d, bool exact)
{
    const int W = kern.width, B = ds.B;
    std::vector<lp::Divisor> h(ds.pc);
    lp::BatchTask T{};
    auto prepare = [exact](double b, lp::Divisor& v) {
        lp::make_divisor(b, v);
        if (exact) {  // no reciprocal serves: every quotient is a true division
            v.lo = std::numeric_limits<double>::infinity();
            v.hi = 0.0;
        }
    };
    for (int k = 0; k < ds.pc; ++k) prepare(d.h[k], h[k]);
    double hprod = 1.0;
    for (int k = 0; k < ds.pc; ++k) hprod = hprod * d.h[k];
    prepare(std::sqrt(6.283185307179586), T.root2pi);
    prepare(static_cast<double>(d.loo ? d.n - 1 : d.n) * hprod, T.norm);
    T.x = d.x.data();
    T.y = d.y.data();
    T.n = d.n;
    T.nr = d.nr;
    T.p = ds.p;
    T.pc = ds.pc;
    T.B = B;
    T.fa = ds.fa.data();
    T.fb = ds.fb.data();
    T.h = h.data();
    T.loo = d.loo;
    T.slots = d.slots;
    T.slot0 = d.slot0;
    T.width = W;
    std::vector<double> t(static_cast<std::size_t>(ds.pc) * W), j(W), dens(W, d.dens0), cells(d.slots * W + 1),
        acc(lp::accumulators(B) * W), zroom(lp::scratch(B, ds.pc) * W + 8);
    // The scratch holds whole vectors, aligned as the engine aligns them.
    double* z = zroom.data();
    while (reinterpret_cast<std::uintptr_t>(z) % 64 != 0) ++z;
    for (int k = 0; k < ds.pc; ++k)
        for (int l = 0; l < W; ++l) t[k * W + l] = d.t[k * 8 + l];
    for (int l = 0; l < W; ++l) j[l] = l;
    T.t = t.data();
    T.j = j.data();
    T.dens = dens.data();
    T.cells = cells.data();
    T.acc = acc.data();
    T.z = z;
    kern.pass(T);
    acc.insert(acc.end(), dens.begin(), dens.end());
    acc.insert(acc.end(), cells.begin(), cells.end());
    return acc;
}

// n observations uniform on [0, 1] in pc continuous regressors, dummies
// after them, a response with noise, and eight points inside the data.
Data uniform(int n, int p, int pc, double h, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Data d;
    d.n = d.nr = n;
    for (int k = 0; k < p; ++k)
        for (int i = 0; i < n; ++i) d.x.push_back(k < pc ? unit(gen) : (unit(gen) < 0.5 ? 1.0 : 0.0));
    for (int i = 0; i < n; ++i) d.y.push_back(std::sin(4.0 * d.x[i]) + 0.3 * unit(gen));
    for (int k = 0; k < pc; ++k)
        for (int l = 0; l < 8; ++l) d.t.push_back(0.1 + 0.8 * unit(gen));
    d.h.assign(pc, h);
    return d;
}

// locparg's design with lam = 1 for three continuous regressors and p - 3
// dummies: squares, z_k·z_1, z_k²·z_1, z_k·z_1·z_1.
Design locparg3(int p)
{
    return design(p, 3, {{1, 1}, {2, 2}, {3, 3}, {2, 1}, {3, 1}, {p + 2, 1}, {p + 3, 1}, {p + 1, 1}, {p + 4, 1},
                         {p + 5, 1}});
}

// The designs of the fixed kernels, of those up to 16 columns and of the
// general one.
std::vector<Design> designs()
{
    return {design(1, 1, {}),                                    // linear
            design(1, 1, {{1, 1}}),                              // quadratic
            design(1, 1, {{1, 1}, {1, 2}}),                      // cubic
            design(2, 2, {}),                                    // two regressors
            design(2, 2, {{1, 1}, {2, 2}}),                      // and their squares
            design(2, 1, {}),                                    // one regressor, a dummy
            design(2, 1, {{1, 1}}),                              // and its square
            design(3, 1, {}),                                    // one regressor, two dummies
            design(3, 2, {}),                                    // two regressors, a dummy
            design(3, 2, {{1, 1}, {2, 2}}),                      // a dummy and squares
            design(3, 3, {{1, 1}, {2, 2}, {3, 3}, {1, 2}, {3, 2}}),  // cross products
            locparg3(3),                                         // B = 14
            locparg3(5),                                         // B = 16, two dummies
            locparg3(6)};                                        // B = 17: the general kernel
}

// The sums of one pass as a plain loop forms them for each lane's point: the
// scalar kernel's weights, then every sum in ascending observation order, in
// the layout of pass().
std::vector<double> reference(const Design& ds, const Data& d, int W)
{
    const int B = ds.B, n = d.n;
    const std::ptrdiff_t NS = B * (B + 1) / 2, NA = lp::accumulators(B);
    std::vector<double> acc(NA * W, 0.0), dens(W, d.dens0), cells(d.slots * W + 1, 0.0);
    double hprod = 1.0;
    for (int k = 0; k < ds.pc; ++k) hprod = hprod * d.h[k];
    const double D = d.loo ? n - 1 : n;
    std::vector<double> z(B), u(ds.pc);
    for (int l = 0; l < W; ++l) {
        int slot = d.slot0;
        for (int i = 0; i < n; ++i) {
            for (int k = 0; k < ds.pc; ++k) {
                z[1 + k] = d.x[i + k * n] - d.t[k * 8 + l];
                u[k] = z[1 + k] / d.h[k];
            }
            const double w = d.loo && i == l ? 0.0 : lp::gaussian_kernel(ds.pc, u.data()) / (D * hprod);
            if (d.slots == 0) {
                dens[l] = dens[l] + w;
            } else {
                cells[slot * W + l] = cells[slot * W + l] + w;
                if (++slot == d.slots) slot = 0;
            }
            z[0] = 1.0;
            for (int k = ds.pc; k < ds.p; ++k) z[1 + k] = d.x[i + k * n];
            for (int c = ds.p + 1; c < B; ++c) z[c] = z[ds.fa[c]] * z[ds.fb[c]];
            for (int c = i < d.nr ? 0 : 1; c < B; ++c) {
                const double zw = z[c] * w, sc = zw * d.y[i];
                acc[(NS + c) * W + l] = acc[(NS + c) * W + l] + sc;
                acc[(NS + B + c) * W + l] = acc[(NS + B + c) * W + l] + sc * d.y[i];
                if (c == 0) {
                    acc[l] = acc[l] + w;
                    continue;
                }
                acc[c * W + l] = acc[c * W + l] + zw;  // ZWZ(c, 0)
                for (int b = c; b < B; ++b) {
                    double& a = acc[lp::packed(B, b, c) * W + l];
                    a = a + zw * z[b];
                }
            }
        }
    }
    acc.insert(acc.end(), dens.begin(), dens.end());
    acc.insert(acc.end(), cells.begin(), cells.end());
    return acc;
}

// Every kernel's pass gives the sums of the same pass with every quotient a
// true division, and those of the plain loop.
void expect_exact(const Data& d, const std::string& what)
{
    for (const Design& ds : designs()) {
        if (ds.pc != static_cast<int>(d.h.size())) continue;
        if (static_cast<int>(d.x.size()) != d.n * ds.p) continue;
        const std::vector<lp::Kernel> ks = kernels();
        for (const lp::Kernel& k : ks) {
            const std::vector<double> want = pass(k, ds, d, true), got = pass(k, ds, d, false);
            EXPECT_TRUE(same_bits(got, want)) << what << ": " << k.name << ", B = " << ds.B << ", pc = " << ds.pc;
            EXPECT_TRUE(same_numbers(got, reference(ds, d, k.width)))
                << what << ": " << k.name << " against the plain loop, B = " << ds.B << ", pc = " << ds.pc;
        }
    }
}

}  // namespace

TEST(NearPath, SameSumsAsTheExactPassInsideItsRange)
{
    for (int pc = 1; pc <= 3; ++pc)
        for (int p : {pc, 2, 3, 5, 6}) {
            if (p < pc) continue;
            expect_exact(uniform(203, p, pc, 0.15, 10 + pc), "uniform, pc = " + std::to_string(pc));
        }
}

TEST(NearPath, LeaveOneOutGroupsAndPartialInterceptSums)
{
    Data d = uniform(150, 1, 1, 0.2, 21);
    d.loo = 1;
    d.nr = d.n;
    d.t.assign(d.x.begin(), d.x.begin() + 8);  // the points are observations 0..7
    d.slots = 3;
    d.slot0 = 2;
    expect_exact(d, "leave-one-out with groups");
    Data e = uniform(150, 2, 2, 0.2, 22);
    e.nr = 61;
    expect_exact(e, "nr < n");
    Data f = uniform(150, 5, 3, 0.3, 23);
    f.nr = 77;
    f.slots = 4;
    f.slot0 = 1;
    expect_exact(f, "nr < n with groups, two dummies");
}

TEST(NearPath, BlocksBeyondItsRangeTakeTheExactPath)
{
    // Narrow bandwidths: exponent arguments down to the thousands, so that
    // blocks of observations near the points take the near path and the
    // others the exact one, weights down to subnormal numbers and zero.
    for (int pc = 1; pc <= 3; ++pc) expect_exact(uniform(240, pc, pc, 0.012, 30 + pc), "narrow");
    expect_exact(uniform(240, 6, 3, 0.02, 34), "narrow, three dummies");
}

TEST(NearPath, WeightsAtTheEdgeOfItsRange)
{
    // Runs of eight observations (a block of the pass), each run a tenth of
    // a bandwidth farther from the points, from 34 to 39.9 bandwidths (24 to
    // 29.9 with two regressors): exponent arguments across the near path's
    // least one (-600; -310 for each of two factors) down to subnormal
    // weights, so that whole blocks fall on either side of it.
    for (int pc = 1; pc <= 2; ++pc) {
        Data d;
        d.n = d.nr = 480;
        d.h.assign(pc, 0.01);
        const double first = pc == 1 ? 0.34 : 0.24;
        for (int k = 0; k < pc; ++k)
            for (int i = 0; i < d.n; ++i) d.x.push_back(k == 0 ? first + 0.001 * (i / 8) + 1e-6 * (i % 8) : 0.0);
        for (int i = 0; i < d.n; ++i) d.y.push_back(1.0 + 0.01 * i);
        for (int k = 0; k < pc; ++k)
            for (int l = 0; l < 8; ++l) d.t.push_back(k == 0 ? 0.00002 * l : 0.0);
        expect_exact(d, "edge, pc = " + std::to_string(pc));
    }
}

TEST(NearPath, VanishingWeightsKeepTheSignOfTheirNormaliser)
{
    // A negative bandwidth makes D·hprod negative, and the weights of
    // observations beyond the kernel's reach -0: a density that enters as
    // -0 stays -0 at a point far from every observation.
    Data d = uniform(64, 2, 2, 0.03, 51);
    d.h[0] = -0.02;
    d.dens0 = -0.0;
    for (int l = 0; l < 8; l += 2) d.t[l] = 5.0;
    expect_exact(d, "negative normaliser");
    std::vector<double> got = pass(lp::kernel_scalar(), design(2, 2, {}), d, false);
    const std::size_t dens = lp::accumulators(3);  // the first lane's density
    EXPECT_EQ(got[dens], 0.0);
    EXPECT_TRUE(std::signbit(got[dens]));
}

TEST(NearPath, DistancesBelowTheReciprocalsRange)
{
    // x - t of a few hundred units of the subnormal grid, far below the range
    // where the reciprocal gives the quotient: the quotient's square
    // vanishes either way and the weight is the kernel's peak.
    Data d;
    d.n = d.nr = 40;
    d.h = {1.0};
    for (int i = 0; i < d.n; ++i) d.x.push_back(i % 2 ? 1e-300 * i : -3e-321 * i);
    for (int i = 0; i < d.n; ++i) d.y.push_back(i);
    for (int l = 0; l < 8; ++l) d.t.push_back(l % 3 == 0 ? 0.0 : 1e-305 * l);
    expect_exact(d, "tiny distances");
}

TEST(NearPath, DeclinedForExtremeOrNonFiniteData)
{
    // Distances beyond the reciprocal's range, tiny and huge bandwidths, and
    // an infinite and a NaN regressor: the near path is not taken, and the
    // sums, NaN included, are the exact ones.
    Data huge = uniform(64, 1, 1, 1e-60, 41);  // every observation within ten bandwidths but one
    for (double& v : huge.x) v *= 1e-60;
    for (double& v : huge.t) v *= 1e-60;
    huge.x[5] = 1e250;
    expect_exact(huge, "huge distance");
    Data small = uniform(64, 1, 1, 1e-140, 42);
    for (double& v : small.x) v *= 1e-140;
    for (double& v : small.t) v *= 1e-140;
    expect_exact(small, "bandwidth 1e-140");
    expect_exact(uniform(64, 1, 1, 1e-160, 43), "bandwidth 1e-160");
    expect_exact(uniform(64, 1, 1, 1e160, 44), "bandwidth 1e160");
    Data inf = uniform(64, 2, 2, 0.3, 45);
    inf.x[70] = std::numeric_limits<double>::infinity();
    expect_exact(inf, "an infinite regressor");
    Data nan = uniform(64, 1, 1, 0.3, 46);
    nan.x[9] = std::numeric_limits<double>::quiet_NaN();
    expect_exact(nan, "a NaN regressor");
    Data tnan = uniform(64, 1, 1, 0.3, 47);
    tnan.t[3] = std::numeric_limits<double>::quiet_NaN();
    expect_exact(tnan, "a NaN point");
}

TEST(NearPath, ExponentialHasTheBitsOfTheFullOne)
{
    // Random arguments over the near path's range, the arguments whose
    // x·16/ln2 lies next to a half-integer (where N is decided by the last
    // bit of its rounding), the smallest magnitudes and zeros.
    std::mt19937_64 gen(17);
    std::uniform_real_distribution<double> u(-700.0, 0.0);
    std::vector<double> x;
    for (int k = 0; k < 100000; ++k) x.push_back(u(gen));
    for (int m = 0; m < 16 * 700 / 0.6931471805599453; m += 7) {
        const double edge = -(m + 0.5) * 0.04332169878499658;  // (m + 1/2)·ln2/16
        double v = edge;
        for (int s = 0; s < 3; ++s) v = std::nextafter(v, 0.0);
        for (int s = 0; s < 7; ++s, v = std::nextafter(v, -1.0)) x.push_back(v);
    }
    for (double v : {-0.0, 0.0, -1e-320, -0x1p-1074, -1e-300, -0x1p-54, -0x1p-53, -700.0}) x.push_back(v);
    std::vector<double> want(x.size());
    lp::kernel_scalar().expo(x.data(), want.data(), static_cast<long>(x.size()));
    for (const lp::Kernel& k : kernels()) {
        std::vector<double> got(x.size());
        k.expo_near(x.data(), got.data(), static_cast<long>(x.size()));
        for (std::size_t i = 0; i < x.size(); ++i)
            ASSERT_EQ(std::memcmp(&got[i], &want[i], sizeof(double)), 0)
                << k.name << " at " << x[i] << ": " << got[i] << " vs " << want[i];
    }
}

TEST(NearPath, HalfSquareExponentialHasTheBitsOfTheFullOne)
{
    // e^(q·(-1/2)) formed from q without forming its argument, on the
    // instruction sets with fused multiply-adds: squares over the near
    // path's range, those whose argument lies next to a half-integer multiple
    // of ln2/16, the smallest ones (subnormal among them, whose halving
    // rounds) and zero.
    std::mt19937_64 gen(19);
    std::uniform_real_distribution<double> u(0.0, 1400.0), small(-320.0, 0.0);
    std::vector<double> q;
    for (int k = 0; k < 100000; ++k) q.push_back(u(gen));
    for (int k = 0; k < 2000; ++k) q.push_back(std::pow(10.0, small(gen)));
    for (int m = 0; m < 16 * 700 / 0.6931471805599453; m += 5) {
        double v = (m + 0.5) * 0.08664339756999316;  // 2·(m + 1/2)·ln2/16
        for (int s = 0; s < 3; ++s) v = std::nextafter(v, 0.0);
        for (int s = 0; s < 7; ++s, v = std::nextafter(v, 2e3)) q.push_back(v);
    }
    for (double v : {0.0, 0x1p-1074, 3 * 0x1p-1074, 0x1p-1022, 1e-300, 0x1p-53, 0x1p-52, 1400.0}) q.push_back(v);
    std::vector<double> x(q.size()), want(q.size());
    for (std::size_t i = 0; i < q.size(); ++i) x[i] = q[i] * -0.5;
    lp::kernel_scalar().expo(x.data(), want.data(), static_cast<long>(x.size()));
    int tested = 0;
    for (const lp::Kernel& k : kernels()) {
        if (k.expo_half == nullptr) continue;
        ++tested;
        std::vector<double> got(q.size());
        k.expo_half(q.data(), got.data(), static_cast<long>(q.size()));
        for (std::size_t i = 0; i < q.size(); ++i)
            ASSERT_EQ(std::memcmp(&got[i], &want[i], sizeof(double)), 0)
                << k.name << " at q = " << q[i] << ": " << got[i] << " vs " << want[i];
    }
    if (tested == 0) GTEST_SKIP() << "no instruction set with fused multiply-adds";
}
