// The floor: a bit-exact prototype of the library's W1-W3 computation with a
// fused-multiply-add exponential, timed beside the library in one process.
//
// The prototype (floor_pass.h) forms what the library's batch kernels form,
// the weights, the density and every moment sum with the library's order and
// roundings, except that its exponential (and so every weight) has bits of
// its own: e^x by a 16-entry table with fused multiply-adds. Its quotients by
// the per-call divisors are exact (a reciprocal product with one fused
// correction, in the range each pass checks once), V vectors of points walk
// the observations in lockstep, and each vector path gives the same bits as
// the prototype's own scalar twin, which this program checks before timing.
// The normal equations of each point are then solved as the library solves
// them in substance (a small LU), which costs next to nothing at these sizes.
//
//   build/bench/floor                  W1-W3, n = m = 16000 (W3: 4000), best of 5
//   build/bench/floor --size 4000 --repeat 9
//   build/bench/floor --library OTHER/Dorvane.so --library-avx2 OTHER/bench/avx2/Dorvane.so
//
// For each workload and instruction set it prints the library's time (the
// build capped at that instruction set), the prototype's, their ratio
// library/floor, and the nanoseconds per (observation × point), best and
// median of the runs. The runs alternate between the two so that a shared
// machine's noise falls on both alike.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include <immintrin.h>

#include "host/loader.h"
#include "workloads.h"

// The pass's task: one batch of V·lanes points.
struct FTask {
    const double* x;  // n × pc
    const double* y;
    int n, pc, B;
    const double* t;  // pc × (V·lanes): coordinate k of point v·lanes + l at (k·V + v)·lanes + l
    double hb[3], hy[3], rootb, rooty, normb, normy;
    double lowest;  // exponent arguments below this send their block to the slow path
    bool clean;     // x - t is within the range where the reciprocal serves
    double* acc;    // NA × V·lanes sums, then the density
};

namespace fs {
#define LP_LANES 1
#include "estimators/simd.h"
#undef LP_HAVE_FMA
inline vd fmadd(vd a, vd b, vd c) { return {__builtin_fma(a.v, b.v, c.v)}; }
inline vd fnmadd(vd a, vd b, vd c) { return {__builtin_fma(-a.v, b.v, c.v)}; }
#include "estimators/expo.h"
#undef LP_LANES
}  // namespace fs

// The prototype's exponential of any x <= 0: the formula of the vector path,
// scaled by ldexp where the result leaves the normal range.
double slow_exp(double x)
{
    if (x != x) return x;
    x = std::max(x, -750.0);
    namespace c = fs::expo_constants;
    const double shift = 0x1.8p52 + 16368.0;
    const double s = std::fma(x, 0x1.71547652b82fep+4, shift);
    const double N = s - shift;
    double r = std::fma(-N, 0x1.62e42fefa39efp-5, x);
    r = std::fma(-N, 0x1.abc9e3b39803fp-60, r);
    double q = std::fma(0x1.a01a01a01a01ap-13, r, 0x1.6c16c16c16c17p-10);
    q = std::fma(q, r, 0x1.1111111111111p-7);
    q = std::fma(q, r, 0x1.5555555555555p-5);
    q = std::fma(q, r, 0x1.5555555555555p-3);
    q = std::fma(q, r, 0.5);
    q = std::fma(r * r, q, r);
    const long long Ni = static_cast<long long>(N);
    const int j = static_cast<int>(Ni & 15);
    const int k = static_cast<int>((Ni - j) / 16);
    const double e = c::hi[j] + std::fma(c::hi[j], q, c::lo[j]);
    return std::ldexp(e, k);
}

// The weight of one observation at one point, with true divisions.
double slow_weight(const FTask& T, const double* xi, const double* ti)
{
    double r = 1.0;
    for (int k = 0; k < T.pc; ++k) {
        const double u = (xi[k] - ti[k]) / T.hb[k];
        const double q = slow_exp((u * u) * -0.5) / T.rootb;
        r = k == 0 ? q : r * q;
    }
    return r / T.normb;
}

namespace fs {
#include "floor_pass.h"
}  // namespace fs

#pragma GCC push_options
#pragma GCC target("avx2,fma")
namespace f2 {
#define LP_LANES 4
#include "estimators/simd.h"
#undef LP_HAVE_FMA
#include "estimators/expo.h"
#include "floor_pass.h"
#undef LP_LANES
}  // namespace f2
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f,fma")
namespace f8 {
#define LP_LANES 8
#include "estimators/simd.h"
#undef LP_HAVE_FMA
#include "estimators/expo.h"
#include "floor_pass.h"
#undef LP_LANES
}  // namespace f8
#pragma GCC pop_options

namespace {

using Pass = void (*)(const FTask&);

struct Proto {
    const char* name;
    int lanes, V;
    Pass pass[3];  // W1, W2, W3 designs: (2, 1), (3, 1), (3, 2)
};

const Proto protos[] = {
    {"scalar twin", 1, 1, {fs::floor_pass<1, 8, 2, 1>, fs::floor_pass<1, 8, 3, 1>, fs::floor_pass<1, 8, 3, 2>}},
    {"avx2", 4, 2, {f2::floor_pass<2, 4, 2, 1>, f2::floor_pass<2, 4, 3, 1>, f2::floor_pass<2, 2, 3, 2>}},
    {"avx512", 8, 2, {f8::floor_pass<2, 4, 2, 1>, f8::floor_pass<2, 4, 3, 1>, f8::floor_pass<2, 2, 3, 2>}},
};

struct Workload {
    const char* name;
    int p, deg, size;
};
const Workload workloads[] = {{"W1", 1, 1, 16000}, {"W2", 1, 2, 16000}, {"W3", 2, 1, 4000}};

// Solves the B × B system a·x = b (a row-major, overwritten) by Gaussian
// elimination with partial pivoting, for two right-hand sides.
void solve(int B, double* a, double* b0, double* b1)
{
    for (int c = 0; c < B; ++c) {
        int piv = c;
        for (int r = c + 1; r < B; ++r)
            if (std::fabs(a[r * B + c]) > std::fabs(a[piv * B + c])) piv = r;
        if (piv != c) {
            for (int k = 0; k < B; ++k) std::swap(a[c * B + k], a[piv * B + k]);
            std::swap(b0[c], b0[piv]);
            std::swap(b1[c], b1[piv]);
        }
        for (int r = c + 1; r < B; ++r) {
            const double f = a[r * B + c] / a[c * B + c];
            for (int k = c; k < B; ++k) a[r * B + k] -= f * a[c * B + k];
            b0[r] -= f * b0[c];
            b1[r] -= f * b1[c];
        }
    }
    for (int c = B - 1; c >= 0; --c) {
        for (int k = c + 1; k < B; ++k) {
            b0[c] -= a[c * B + k] * b0[k];
            b1[c] -= a[c * B + k] * b1[k];
        }
        b0[c] /= a[c * B + c];
        b1[c] /= a[c * B + c];
    }
}

struct Fit {
    std::vector<double> level, var, dens;
};

// The prototype's whole fit: passes over batches of V·lanes points, then each
// point's normal equations. `points` limits the points fitted (0: all).
Fit proto_fit(const Proto& P, int design, const host::Problem& pr, int points = 0)
{
    const int n = static_cast<int>(pr.n), m = points > 0 ? points : static_cast<int>(pr.m);
    const int M = static_cast<int>(pr.m), pc = static_cast<int>(pr.p);
    const int B = design == 0 ? 2 : 3, NS = B * (B + 1) / 2, NA = NS + 2 * B;
    const int W = P.lanes * P.V;
    std::vector<double> t(static_cast<std::size_t>(pc) * W), acc(static_cast<std::size_t>(NA + 1) * W);
    FTask T{};
    T.x = pr.x.data();
    T.y = pr.y.data();
    T.n = n;
    T.pc = pc;
    T.B = B;
    T.t = t.data();
    double hprod = 1.0;
    for (int k = 0; k < pc; ++k) {
        T.hb[k] = pr.h[k];
        T.hy[k] = 1.0 / pr.h[k];
        hprod = hprod * pr.h[k];
    }
    T.rootb = std::sqrt(6.283185307179586);
    T.rooty = 1.0 / T.rootb;
    T.normb = static_cast<double>(n) * hprod;
    T.normy = 1.0 / T.normb;
    T.acc = acc.data();
    // Every weight factor at least 2^-880 and their product at least 2^-880
    // times the normaliser: every reciprocal serves and every result is normal.
    T.lowest = std::max(-600.0, (std::log(0x1p-880 * std::max(1.0, 2 * T.normb)) + 2 * pc) / pc);
    Fit f{std::vector<double>(m), std::vector<double>(m), std::vector<double>(m)};
    std::vector<double> a(B * B), b0(B), b1(B);
    for (int j0 = 0; j0 < m; j0 += W) {
        double tmax = 0.0;
        for (int q = 0; q < W; ++q) {
            const int j = std::min(j0 + q, m - 1);
            const int v = q / P.lanes, l = q % P.lanes;
            for (int k = 0; k < pc; ++k) {
                const double tk = pr.t[j + static_cast<std::size_t>(k) * M];
                t[(k * P.V + v) * P.lanes + l] = tk;
                tmax = std::max(tmax, std::fabs(tk));
            }
        }
        // The pass's one range check: x - t stays far inside the range of
        // the reciprocal of every bandwidth.
        double xmax = 0.0;
        bool finite = true;
        for (std::size_t i = 0; i < pr.x.size(); ++i) {
            finite = finite && std::isfinite(pr.x[i]);
            xmax = std::max(xmax, std::fabs(pr.x[i]));
        }
        T.clean = finite && std::isfinite(tmax);
        for (int k = 0; k < pc; ++k) {
            const double hk = std::fabs(T.hb[k]);
            T.clean = T.clean && hk >= 0x1p-500 && hk <= 0x1p500 && xmax + tmax <= 0x1p800 * std::min(1.0, 0.5 * hk);
        }
        P.pass[design](T);
        for (int q = 0; q < W && j0 + q < m; ++q) {
            const int j = j0 + q;
            for (int c = 0; c < B; ++c)
                for (int b = c; b < B; ++b)
                    a[b * B + c] = a[c * B + b] = acc[(c * B - c * (c - 1) / 2 + (b - c)) * W + q];
            for (int c = 0; c < B; ++c) {
                b0[c] = acc[(NS + c) * W + q];
                b1[c] = acc[(NS + B + c) * W + q];
            }
            f.dens[j] = acc[NA * W + q];
            solve(B, a.data(), b0.data(), b1.data());
            f.level[j] = b0[0];
            f.var[j] = b1[0] - b0[0] * b0[0];
        }
    }
    return f;
}

double cpu_seconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + 1e-9 * ts.tv_nsec;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t h = v.size() / 2;
    return v.size() % 2 ? v[h] : 0.5 * (v[h - 1] + v[h]);
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b, std::size_t count)
{
    return std::memcmp(a.data(), b.data(), count * sizeof(double)) == 0;
}

double distance(const std::vector<double>& a, const std::vector<double>& b)
{
    double d = 0.0, s = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        d = std::max(d, std::fabs(a[i] - b[i]));
        s = std::max(s, std::fabs(b[i]));
    }
    return d / s;
}

bool supports(const Proto& P)
{
    if (P.lanes == 8) return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("fma");
    if (P.lanes == 4) return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    int size = 0, repeat = 5;
    std::string wide = DORVANE_PATH, avx2 = DORVANE_AVX2_PATH;
    for (int k = 1; k < argc; ++k) {
        const std::string a = argv[k];
        if (a == "--size" && k + 1 < argc) size = std::atoi(argv[++k]);
        else if (a == "--repeat" && k + 1 < argc) repeat = std::max(1, std::atoi(argv[++k]));
        else if (a == "--library" && k + 1 < argc) wide = argv[++k];
        else if (a == "--library-avx2" && k + 1 < argc) avx2 = argv[++k];
        else {
            std::fprintf(stderr, "usage: %s [--size N] [--repeat R] [--library DORVANE] [--library-avx2 DORVANE]\n",
                         argv[0]);
            return 1;
        }
    }
    const struct {
        const char* isa;
        std::string path;
        int proto;
    } libs[] = {{"avx512", wide, 2}, {"avx2", avx2, 1}};

    std::printf("%-4s %-7s %11s %11s %9s %9s %12s %12s\n", "", "", "library s", "floor s", "lib/floor",
                "(median)", "lib ns/pair", "floor ns/pair");
    for (int w = 0; w < 3; ++w) {
        const Workload& wl = workloads[w];
        const int nm = size > 0 ? size : wl.size;
        host::Problem pr = uniform_problem(nm, wl.p, wl.deg, 0.1);
        const std::size_t B = static_cast<std::size_t>(host::output_columns("dorvane", pr));
        // The prototype's vector paths against its scalar twin, bit for bit.
        const int checked = std::min(nm, 48);
        const Fit twin = proto_fit(protos[0], w, pr, checked);
        for (const auto& L : libs) {
            const Proto& P = protos[L.proto];
            if (!supports(P)) {
                std::printf("%-4s %-7s not supported by this processor\n", wl.name, L.isa);
                continue;
            }
            const Fit got = proto_fit(P, w, pr, checked);
            if (!same_bits(got.level, twin.level, checked) || !same_bits(got.var, twin.var, checked) ||
                !same_bits(got.dens, twin.dens, checked)) {
                std::printf("%s %s: the prototype differs from its scalar twin\n", wl.name, P.name);
                return 1;
            }
            const host::Library lib(L.path);
            std::vector<double> mh(nm * B), sh(nm * B), fh(nm);
            std::vector<double> tl, tp;
            Fit f;
            for (int r = 0; r < repeat; ++r) {
                std::fill(fh.begin(), fh.end(), 0.0);
                double t0 = cpu_seconds();
                host::invoke(lib, "dorvane", pr, mh.data(), sh.data(), fh.data());
                tl.push_back(cpu_seconds() - t0);
                t0 = cpu_seconds();
                f = proto_fit(P, w, pr);
                tp.push_back(cpu_seconds() - t0);
            }
            std::vector<double> lev(mh.begin(), mh.begin() + nm), var(sh.begin(), sh.begin() + nm);
            const double diff = std::max({distance(f.level, lev), distance(f.var, var), distance(f.dens, fh)});
            const double pairs = static_cast<double>(nm) * nm;
            const double bl = *std::min_element(tl.begin(), tl.end()), bp = *std::min_element(tp.begin(), tp.end());
            std::printf("%-4s %-7s %11.4f %11.4f %9.3f %9.3f %12.3f %12.3f   (from the library %.1e)\n", wl.name,
                        L.isa, bl, bp, bl / bp, median(tl) / median(tp), 1e9 * bl / pairs, 1e9 * bp / pairs, diff);
            std::fflush(stdout);
        }
    }
    return 0;
}
