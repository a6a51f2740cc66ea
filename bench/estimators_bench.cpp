// Cost of a whole estimator call on the bundled DAX returns: n observations of
// p lagged returns, m evaluation points. Run: build/bench/estimators_bench
#include <benchmark/benchmark.h>

#include <cmath>

#include "host/loader.h"

namespace {

// Daily log returns of the DAX, lagged 1..p as regressors.
host::Problem dax_problem(int n, int m, int p, int deg)
{
    static const host::Table tab = host::read_csv(LP_DATA_DIR "/eustock.csv");
    const std::vector<double>& dax = tab.column("DAX");
    std::vector<double> r;
    for (std::size_t k = 1; k < dax.size(); ++k) r.push_back(std::log(dax[k] / dax[k - 1]));
    host::Problem pr;
    pr.n = pr.nr = n;
    pr.p = p;
    pr.m = m;
    pr.deg = deg;
    pr.vol = 1;
    for (int k = 1; k <= p; ++k)
        for (int i = 0; i < n; ++i) pr.x.push_back(r[(p + i - k) % r.size()]);
    for (int i = 0; i < n; ++i) pr.y.push_back(r[(p + i) % r.size()]);
    for (int k = 0; k < p; ++k)
        for (int j = 0; j < m; ++j) pr.t.push_back(-0.02 + 0.04 * j / (m > 1 ? m - 1 : 1));
    pr.h.assign(p, 0.01);
    return pr;
}

void run(benchmark::State& state, const char* library, const char* name, int deg)
{
    const host::Library lib(library);
    host::Problem pr =
        dax_problem(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), static_cast<int>(state.range(2)), deg);
    pr.lam = 1;
    const int B = host::output_columns(name, pr);
    std::vector<double> mh(pr.m * B), sh(pr.m * B), fh(pr.m);
    for (auto _ : state) {
        std::fill(fh.begin(), fh.end(), 0.0);
        host::invoke(lib, name, pr, mh.data(), sh.data(), fh.data());
        benchmark::DoNotOptimize(mh.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long long>(pr.n) * static_cast<long long>(pr.m));
}

void BM_dorvane_linear(benchmark::State& s) { run(s, DORVANE_PATH, "dorvane", 1); }
void BM_dorvane_quadratic(benchmark::State& s) { run(s, DORVANE_PATH, "dorvane", 2); }
void BM_tremsal_cubic(benchmark::State& s) { run(s, TREMSAL_PATH, "tremsal", 3); }
void BM_locparg(benchmark::State& s) { run(s, TREMSAL_PATH, "locparg", 3); }
void BM_locpa2g(benchmark::State& s) { run(s, TREMSAL_PATH, "locpa2g", 2); }

}  // namespace

BENCHMARK(BM_dorvane_linear)->Args({1000, 100, 1})->Args({1850, 200, 1})->Args({1850, 200, 3});
BENCHMARK(BM_dorvane_quadratic)->Args({1850, 200, 1})->Args({1850, 200, 3});
BENCHMARK(BM_tremsal_cubic)->Args({1850, 200, 1})->Args({1850, 200, 3});
BENCHMARK(BM_locparg)->Args({1850, 200, 3});
BENCHMARK(BM_locpa2g)->Args({1850, 200, 3});

BENCHMARK_MAIN();
