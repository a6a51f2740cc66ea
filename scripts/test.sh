#!/usr/bin/env bash
# Builds and runs the whole test suite twice: optimised, then under
# AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer, so that a
# leak or an out-of-bounds access on any return path of an export fails it.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DLP_BENCH=ON
cmake --build build -j2
test -x build/tests/export_tests || { echo "GoogleTest is missing: apt-get install libgtest-dev" >&2; exit 1; }
ctest --test-dir build --output-on-failure -j2

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DLP_SANITIZE=ON
cmake --build build-sanitize -j2
# Huge refused allocations must come back as null, not abort the tests.
ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:abort_on_error=0 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-sanitize --output-on-failure -j2
