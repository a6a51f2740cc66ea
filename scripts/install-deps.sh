#!/usr/bin/env bash
# Installs, from Debian's packages, what this project needs and the machine
# lacks: the compiler and CMake; GoogleTest and Google Benchmark for the tests
# and benchmarks; CLI11, libcsv, gnuplot and a font for the command-line tool;
# R with MASS, and NumPy, pandas, matplotlib, statsmodels and Dask for Debian's
# Python, for the R and Python front ends and the references they are tested
# against; clang with libFuzzer and its sanitizer runtimes for the fuzz targets.
# Installs nothing when everything is there. Used by the README and .ci/run.
set -euo pipefail

need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v make >/dev/null 2>&1 || need+=(make)
command -v nm >/dev/null 2>&1 || need+=(binutils)
command -v gnuplot >/dev/null 2>&1 || need+=(gnuplot-nox)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
[ -f /usr/include/CLI/CLI.hpp ] || need+=(libcli11-dev)
[ -f /usr/include/csv.h ] || need+=(libcsv-dev)
[ -f /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf ] || need+=(fonts-dejavu-core)
command -v Rscript >/dev/null 2>&1 || need+=(r-base-core)
# MASS's data sets serve the R package's examples and tests.
Rscript -e 'quit(status = !requireNamespace("MASS", quietly = TRUE))' >/dev/null 2>&1 || need+=(r-cran-mass)
[ -x /usr/bin/python3 ] || need+=(python3)
for module in numpy pandas matplotlib statsmodels dask distributed pip; do
  /usr/bin/python3 -c "import $module" >/dev/null 2>&1 || need+=("python3-$module")
done
command -v clang++ >/dev/null 2>&1 || need+=(clang)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-14-dev)

source "$(dirname "$0")/apt.sh"
apt_install install-deps ${need[@]+"${need[@]}"}
