#!/usr/bin/env bash
# Makes the R source package lpfit_<version>.tar.gz in the current directory.
# The package carries the libraries' sources and their CMake build under
# tools/lp, so that R CMD INSTALL builds it anywhere CMake and a C++17
# compiler are at hand.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# The package's tracked files, without anything an install left behind.
mkdir -p "$stage/lpfit/tools/lp"
(cd "$root/r" && git ls-files -z | xargs -0 cp --parents -t "$stage/lpfit")
# Everything the top-level CMake build reads for the libraries: the tracked
# files less the front ends, tests, benchmarks, data and CI.
(cd "$root" && git ls-files -z -- . ':!:r' ':!:python' ':!:tests' ':!:bench' ':!:data' ':!:.ci' \
   ':!:scripts' ':!:.*' ':!:*.md' | xargs -0 cp --parents -t "$stage/lpfit/tools/lp")
(cd "$out" && R CMD build --no-build-vignettes "$stage/lpfit")
