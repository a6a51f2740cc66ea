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
// times W1-W3 against NumPy in one run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "host/loader.h"

namespace {

host::Problem uniform_problem(int n, int p, int deg, double h)
{
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 1.0);
    host::Problem pr;
    pr.n = pr.nr = pr.m = n;
    pr.p = p;
    pr.deg = deg;
    pr.vol = 1;
    pr.lam = 1;
    pr.x.resize(static_cast<std::size_t>(n) * p);
    pr.t.resize(static_cast<std::size_t>(n) * p);
    for (double& v : pr.x) v = unit(gen);
    for (double& v : pr.t) v = unit(gen);
    pr.y.resize(n);
    for (int i = 0; i < n; ++i) {
        double f = 0.0;
        for (int k = 0; k < p; ++k) f += std::sin(6.283185307179586 * pr.x[i + static_cast<std::size_t>(k) * n]);
        pr.y[i] = f + 0.3 * noise(gen);
    }
    pr.h.assign(p, h);
    return pr;
}

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

void W1(benchmark::State& s) { run(s, DORVANE_PATH, "dorvane", 1, 1, 0.1); }
void W1_h002(benchmark::State& s) { run(s, DORVANE_PATH, "dorvane", 1, 1, 0.02); }
void W2(benchmark::State& s) { run(s, DORVANE_PATH, "dorvane", 1, 2, 0.1); }
void W3(benchmark::State& s) { run(s, DORVANE_PATH, "dorvane", 2, 1, 0.1); }
void tremsal_cubic_p1(benchmark::State& s) { run(s, TREMSAL_PATH, "tremsal", 1, 3, 0.1); }
void locparg_p3(benchmark::State& s) { run(s, TREMSAL_PATH, "locparg", 3, 3, 0.3); }
void locpa2g_p3(benchmark::State& s) { run(s, TREMSAL_PATH, "locpa2g", 3, 2, 0.3); }

}  // namespace

#define LP_SIZES ->Arg(1000)->Arg(4000)->Arg(16000)->Unit(benchmark::kMillisecond)
BENCHMARK(W1) LP_SIZES;
BENCHMARK(W1_h002) LP_SIZES;
BENCHMARK(W2) LP_SIZES;
BENCHMARK(W3) LP_SIZES;
BENCHMARK(tremsal_cubic_p1) LP_SIZES;
BENCHMARK(locparg_p3) LP_SIZES;
BENCHMARK(locpa2g_p3) LP_SIZES;

BENCHMARK_MAIN();
