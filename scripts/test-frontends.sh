#!/usr/bin/env bash
# Tests the R and Python front ends as a new user installs them: the R source
# package through R CMD check, the Python package through pip into a fresh
# virtual environment; both against the libraries in build/ (made by
# scripts/test.sh, or here when missing), against their ecosystems' own
# computations, against each other and against the command-line tool.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python=/usr/bin/python3

if [ ! -f build/Dorvane.so ] || [ ! -f build/Tremsal.so ] || [ ! -f build/liblpcore.so ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
  cmake --build build -j2
fi

echo "== R: build the source package and check it"
(cd "$work" && bash "$root/scripts/r-tarball.sh" >build.log 2>&1) || { cat "$work/build.log"; exit 1; }
if ! (cd "$work" && LPFIT_BUILD_DIR="$root/build" R CMD check --no-manual lpfit_*.tar.gz); then
  tail -n 60 "$work"/lpfit.Rcheck/00install.out "$work"/lpfit.Rcheck/tests/*.Rout.fail 2>/dev/null || true
  exit 1
fi
if grep -Eq '^Status: .*(WARNING|ERROR)' "$work/lpfit.Rcheck/00check.log"; then
  echo "R CMD check reported warnings or errors" >&2
  exit 1
fi

echo "== Python: pip install ./python into a fresh environment"
"$python" -m venv --without-pip --system-site-packages "$work/venv"
"$work/venv/bin/python" -m pip install --quiet ./python
(cd "$work" && "$work/venv/bin/python" -c 'import lpfit, sys; sys.exit("site-packages" not in lpfit.__file__)')

echo "== Python: tests of the installed package"
(cd "$work" && LPFIT_REPO="$root" LPFIT_BUILD_DIR="$root/build" LPFIT_R_LIBS="$work/lpfit.Rcheck" \
  "$work/venv/bin/python" -W ignore::DeprecationWarning -m unittest discover -v -s "$root/python/tests")

echo "== Python: the package from PYTHONPATH next to the built libraries"
(cd "$work" && PYTHONPATH="$root/python:$root/python/tests" LPFIT_REPO="$root" \
  "$python" -m unittest -v test_library)
