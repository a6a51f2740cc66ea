#!/usr/bin/env bash
# Every speed ratio of the README's speed section, in one go, on this
# machine: the library against both NumPy fits (W1-W3, every capped build),
# against the bit-exact floor prototype (W1-W3, AVX-512 and AVX2), and the
# tiled kernels against their fused multiply-add floor, with the
# nanoseconds per pair of every benchmark case. Needs a build with
# -DLP_BENCH=ON in build/ (or the folder given as the first argument).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

grep -m1 'model name' /proc/cpuinfo || true
echo
echo "== the library against NumPy"
/usr/bin/python3 bench/compare_numpy.py --lib "$build" --lib "$build/bench/avx2" --lib "$build/bench/sse2"
echo
echo "== the library against the bit-exact floor"
"$build/bench/floor" --repeat 5
echo
echo "== the tiled kernels against their fused multiply-add floor; every case per pair"
"$build/bench/estimators_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
