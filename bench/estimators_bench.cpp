// Cost of whole estimator calls through the shared libraries, in nanoseconds
// per (observation × evaluation point): x uniform on [0, 1], a smooth
// response with noise, evaluation points uniform on [0, 1], n = m, the
// conditional variance on (vol = 1), bandwidth 0.1 unless the name says
// otherwise.
//
//   build/bench/estimators_bench                          every case
//   build/bench/estimators_bench --benchmark_filter=W1    one workload
//
// The column "pair" is the time per (observation × point). bench/compare_numpy.py
// times W1-W3 against NumPy in one run, build/bench/floor against the
// bit-exact floor prototype.
//
// The cases kernel_* time one batch kernel's pass alone (the widest this
// processor runs, or AVX2), n = 16000 observations for one batch of points,
// against its arithmetic floor: the fused multiply-adds the pass needs at the
// least, at the rate this processor issues independent vector fused
// multiply-adds (measured in the same process, fma_rate):
//
//   B(B+1)/2 + 2B       the moment products, one fused multiply-add each
//   B - 1 - p           the products that form the higher design columns
//   29·pc + 4           the weight: per continuous regressor x - t (1), the
//                       quotient by h (3), -u²/2 (2), the exponential with
//                       fused multiply-adds (19: 16/ln2·x + shift, N, two
//                       reduction steps, seven for the polynomial, the
//                       table index, two table reads, hi + (lo + hi·p) in
//                       two, 2^k in two and its product), the quotient by
//                       √(2π) (3) and the product of the factors (1); then
//                       the quotient by D·hprod (3) and the density (1)
//
// all divided by the lanes. "floor" is that time per pair, "x_floor" the
// kernel's time over it. The library's sums take a product and a sum where
// the floor counts one fused operation, as the order of their roundings
// requires, so a perfect kernel would sit at about 1.7 times its floor.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "estimators/frame.h"
#include "host/loader.h"
#include "workloads.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

void run(benchmark::State& state, const char* library, const char* name, int p, int deg, double h)
{
    const host::Library lib(library);
    const int n = static_cast<int>(state.range(0));
    host::Problem pr = uniform_problem(n, p, deg, h);
    const std::size_t B = static_cast<std::size_t>(host::output_columns(name, pr));
    std::vector<double> mh(n * B), sh(n * B), fh(n);
    for (auto _ : state) {
        std::fill(fh.begin(), fh.end(), 0.0);
        host::invoke(lib, name, pr, mh.data(), sh.data(), fh.data());
        benchmark::DoNotOptimize(mh.data());
        benchmark::ClobberMemory();
    }
    state.counters["pair"] = benchmark::Counter(static_cast<double>(n) * n,
                                                benchmark::Counter::kIsIterationInvariantRate |
                                                    benchmark::Counter::kInvert);
}

// x with its last p - pc columns 0/1 dummies, and h's last entry -pc.
host::Problem with_dummies(host::Problem pr, int pc)
{
    const int n = static_cast<int>(pr.n), p = static_cast<int>(pr.p);
    for (int k = pc; k < p; ++k)
        for (int i = 0; i < n; ++i) {
            double& v = pr.x[i + static_cast<std::size_t>(k) * n];
            v = v < 0.4 ? 1.0 : 0.0;
        }
    pr.h[p - 1] = -pc;
    return pr;
}

void run_dummies(benchmark::State& state, int p, int pc, int deg)
{
    const host::Library lib(DORVANE_PATH);
    const int n = static_cast<int>(state.range(0));
    host::Problem pr = with_dummies(uniform_problem(n, p, deg, 0.1), pc);
    const std::size_t B = static_cast<std::size_t>(host::output_columns("dorvane", pr));
    std::vector<double> mh(n * B), sh(n * B), fh(n);
    pr.vol = 0;  // the variance's dummy warning would print at every point
    for (auto _ : state) {
        std::fill(fh.begin(), fh.end(), 0.0);
        host::invoke(lib, "dorvane", pr, mh.data(), sh.data(), fh.data());
        benchmark::DoNotOptimize(mh.data());
        benchmark::ClobberMemory();
    }
    state.counters["pair"] = benchmark::Counter(static_cast<double>(n) * n,
                                                benchmark::Counter::kIsIterationInvariantRate |
                                                    benchmark::Counter::kInvert);
}

// ---- One batch kernel's pass against its floor ------------------------------

#if defined(__x86_64__) || defined(__i386__)
// Seconds per vector fused multiply-add of `lanes` doubles, issued 24
// independent ones at a time.
template <int lanes>
double fma_seconds();

template <>
__attribute__((target("avx512f,fma"))) double fma_seconds<8>()
{
    const long rounds = 4000000;
    __m512d a[24];
    for (int k = 0; k < 24; ++k) a[k] = _mm512_set1_pd(1e-3 * k);
    const __m512d m = _mm512_set1_pd(0.999999), c = _mm512_set1_pd(1e-9);
    const auto t0 = std::clock();
    for (long r = 0; r < rounds; ++r) {
#pragma GCC unroll 24
        for (int k = 0; k < 24; ++k) a[k] = _mm512_fmadd_pd(a[k], m, c);
    }
    const double t = static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC;
    for (int k = 1; k < 24; ++k) a[0] = _mm512_add_pd(a[0], a[k]);
    benchmark::DoNotOptimize(a[0]);
    return t / (24.0 * rounds);
}

template <>
__attribute__((target("avx2,fma"))) double fma_seconds<4>()
{
    const long rounds = 4000000;
    __m256d a[12];
    for (int k = 0; k < 12; ++k) a[k] = _mm256_set1_pd(1e-3 * k);
    const __m256d m = _mm256_set1_pd(0.999999), c = _mm256_set1_pd(1e-9);
    const auto t0 = std::clock();
    for (long r = 0; r < rounds; ++r) {
#pragma GCC unroll 12
        for (int k = 0; k < 12; ++k) a[k] = _mm256_fmadd_pd(a[k], m, c);
    }
    const double t = static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC;
    for (int k = 1; k < 12; ++k) a[0] = _mm256_add_pd(a[0], a[k]);
    benchmark::DoNotOptimize(a[0]);
    return t / (12.0 * rounds);
}
#endif

// The fastest of five measurements, per lane.
double fma_per_lane(int lanes)
{
    double best = 1e9;
#if defined(__x86_64__) || defined(__i386__)
    for (int r = 0; r < 5; ++r) best = std::min(best, lanes == 8 ? fma_seconds<8>() : fma_seconds<4>());
#endif
    return best / lanes;
}

void fma_rate(benchmark::State& state)
{
    const int lanes = static_cast<int>(state.range(0));
    double t = 0.0;
    for (auto _ : state) t = fma_per_lane(lanes);
    state.counters["ns_per_lane_fma"] = 1e9 * t;
}

// One pass of `kern` over n observations for one batch of points, in the
// layout `rule` makes of p regressors (all continuous), bandwidth h.
void run_kernel(benchmark::State& state, lp::Kernel kern, lp::LayoutRule rule, int p, int deg, double h)
{
    if (kern.width == 0 || (kern.width == 8 ? !lp::path_available(lp::Path::avx512)
                                            : !lp::path_available(lp::Path::avx2))) {
        state.SkipWithError("not available on this processor");
        return;
    }
    const int n = static_cast<int>(state.range(0)), W = kern.width;
    host::Problem pr = uniform_problem(n, p, deg, h);
    lp::Args a{};
    a.name = "bench";
    a.n = a.nr = n;
    a.p = a.pc = p;
    a.deg = deg;
    a.lam = 1;
    lp::Layout lay;
    if (!rule(a, lay)) {
        state.SkipWithError("no layout");
        return;
    }
    const int B = lay.size();
    std::vector<int> fa(B), fb(B);
    for (int c = 0; c < B; ++c) {
        fa[c] = lay[c].a;
        fb[c] = lay[c].b;
    }
    std::vector<lp::Divisor> hd(p);
    double hprod = 1.0;
    for (int k = 0; k < p; ++k) {
        lp::make_divisor(h, hd[k]);
        hprod = hprod * h;
    }
    lp::BatchTask T{};
    T.x = pr.x.data();
    T.y = pr.y.data();
    T.n = T.nr = n;
    T.p = T.pc = p;
    T.B = B;
    T.fa = fa.data();
    T.fb = fb.data();
    T.h = hd.data();
    lp::make_divisor(std::sqrt(6.283185307179586), T.root2pi);
    lp::make_divisor(n * hprod, T.norm);
    T.width = W;
    const std::size_t room = (p + 2 + lp::accumulators(B) + lp::scratch(B, p)) * W + 8;
    std::vector<double> mem(room);
    double* base = mem.data();
    while (reinterpret_cast<std::uintptr_t>(base) % 64 != 0) ++base;
    T.t = base;
    T.j = T.t + p * W;
    T.dens = T.j + W;
    T.cells = T.dens;
    T.acc = T.dens + W;
    T.z = T.acc + lp::accumulators(B) * W;
    for (int k = 0; k < p; ++k)
        for (int l = 0; l < W; ++l) T.t[k * W + l] = pr.t[l + static_cast<std::size_t>(k) * n];
    for (int l = 0; l < W; ++l) T.j[l] = -1.0;
    const double pairs = static_cast<double>(n) * W;
    const double fma_rate_before = fma_per_lane(W);
    double best = 1e9;  // seconds per pair, the fastest iteration
    for (auto _ : state) {
        const auto t0 = std::clock();
        kern.pass(T);
        benchmark::DoNotOptimize(T.acc[0]);
        benchmark::ClobberMemory();
        best = std::min(best, static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC / pairs);
    }
    const double ops = B * (B + 1) / 2 + 2 * B + (B - 1 - p) + 29 * p + 4;
    const double floor = ops * std::min(fma_rate_before, fma_per_lane(W));  // the faster rate of the two
    state.counters["pair"] = benchmark::Counter(pairs, benchmark::Counter::kIsIterationInvariantRate |
                                                           benchmark::Counter::kInvert);
    state.counters["floor_ns"] = 1e9 * floor;
    state.counters["x_floor"] = best / floor;  // the fastest iteration over the floor
    state.counters["B"] = B;
}

void kernel_locparg_p3(benchmark::State& s)
{
    run_kernel(s, s.range(1) == 8 ? lp::kernel_avx512() : lp::kernel_avx2(), lp::locparg_layout, 3, 3, 0.3);
}
void kernel_locpa2g_p3(benchmark::State& s)
{
    run_kernel(s, s.range(1) == 8 ? lp::kernel_avx512() : lp::kernel_avx2(), lp::locpa2g_layout, 3, 2, 0.3);
}

void W1(benchmark::State& s) { run(s, DORVANE_PATH, "dorvane", 1, 1, 0.1); }
void W1_h002(benchmark::State& s) { run(s, DORVANE_PATH, "dorvane", 1, 1, 0.02); }
void W2(benchmark::State& s) { run(s, DORVANE_PATH, "dorvane", 1, 2, 0.1); }
void W3(benchmark::State& s) { run(s, DORVANE_PATH, "dorvane", 2, 1, 0.1); }
void tremsal_cubic_p1(benchmark::State& s) { run(s, TREMSAL_PATH, "tremsal", 1, 3, 0.1); }
void locparg_p3(benchmark::State& s) { run(s, TREMSAL_PATH, "locparg", 3, 3, 0.3); }
void locpa2g_p3(benchmark::State& s) { run(s, TREMSAL_PATH, "locpa2g", 3, 2, 0.3); }
// dorvane, one continuous regressor and two dummies (B = 4), vol = 0
void dummies2(benchmark::State& s) { run_dummies(s, 3, 1, 1); }

}  // namespace

#define LP_SIZES ->Arg(1000)->Arg(4000)->Arg(16000)->Unit(benchmark::kMillisecond)
BENCHMARK(W1) LP_SIZES;
BENCHMARK(W1_h002) LP_SIZES;
BENCHMARK(W2) LP_SIZES;
BENCHMARK(W3) LP_SIZES;
BENCHMARK(tremsal_cubic_p1) LP_SIZES;
BENCHMARK(locparg_p3) LP_SIZES;
BENCHMARK(locpa2g_p3) LP_SIZES;
BENCHMARK(dummies2) LP_SIZES;
BENCHMARK(fma_rate)->Arg(8)->Arg(4)->Iterations(1);
BENCHMARK(kernel_locparg_p3)->Args({16000, 8})->Args({16000, 4})->Unit(benchmark::kMillisecond);
BENCHMARK(kernel_locpa2g_p3)->Args({16000, 8})->Args({16000, 4})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
