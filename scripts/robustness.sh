#!/usr/bin/env bash
# Proves, on every CI run, what the libraries promise a host process beyond
# the test suite of scripts/test.sh:
#   1. the libFuzzer targets of the four exports and of the matrix library,
#      each run for FUZZ_SECONDS (default 60) from the committed seeds; any
#      crash, sanitizer report, leak, timeout or broken promise fails;
#   2. the concurrency test built under ThreadSanitizer;
#   3. the figures of the fault-injection and soak tests (which test.sh runs
#      too) printed for the record.
# Needs clang and its runtime libraries (scripts/install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}

# Fuzzing, two targets at a time on the two cores.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Release -DLP_FUZZ=ON >/dev/null
cmake --build build-fuzz -j2
mkdir -p build-fuzz/findings build-fuzz/logs
fuzz_one() {
  local target=$1 seeds=$2 dict=$3
  local work=build-fuzz/corpus/$target
  rm -rf "$work" && mkdir -p "$work"
  # A single allocation past 512 MiB is a finding: such a call must be
  # refused, not attempted.
  if ! ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      "build-fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512 \
      -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$target-" ${dict:+-dict=$dict} \
      "$work" "$seeds" >"build-fuzz/logs/$target.log" 2>&1; then
    echo "robustness: $target found a fault:" >&2
    tail -n 60 "build-fuzz/logs/$target.log" >&2
    return 1
  fi
  local runs corpus
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "build-fuzz/logs/$target.log")
  corpus=$(ls "$work" | wc -l)
  echo "robustness: $target: $runs executions in ${seconds} s, no finding; corpus $(ls "$seeds" | wc -l) seeds -> $corpus inputs"
}
status=0
pairs=("fuzz_dorvane fuzz_tremsal" "fuzz_locparg fuzz_locpa2g" "fuzz_matrix")
for pair in "${pairs[@]}"; do
  pids=()
  for target in $pair; do
    if [ "$target" = fuzz_matrix ]; then
      fuzz_one "$target" fuzz/corpus/matrix "" & pids+=($!)
    else
      fuzz_one "$target" fuzz/corpus/export fuzz/export.dict & pids+=($!)
    fi
  done
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
done
[ $status -eq 0 ] || exit 1

# ThreadSanitizer: eight threads on all four exports at once.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Release -DLP_TSAN=ON >/dev/null
cmake --build build-tsan -j2 --target concurrency_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 build-tsan/tests/concurrency_tests
echo "robustness: ThreadSanitizer found no race in 8 threads x 300 calls"

# The figures of the fault injection and the soak, from the optimised build.
if [ -x build/tests/fault_injection_tests ] && [ -x build/tests/soak_tests ]; then
  build/tests/fault_injection_tests --gtest_filter='FaultInjection.EveryFailedAllocationIsARefusal' | grep allocations
  build/tests/soak_tests | grep '^soak:'
fi
