#!/usr/bin/env bash
# Cross-builds Dorvane.dll and Tremsal.dll for 64- and 32-bit Windows with
# MinGW-w64 and runs their tests under wine: the export and import tables,
# the test suites loading the DLLs by name, and a transcript of a fixed list
# of calls that must equal the Linux libraries' (build/) and, between the two
# Windows builds, agree bit for bit. scripts/install-windows-tools.sh
# installs what this needs.
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in x86_64-w64-mingw32-g++ i686-w64-mingw32-g++ /usr/lib/wine/wine64 /usr/lib/wine/wine; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "$tool is missing: run scripts/install-windows-tools.sh" >&2
    exit 1
  fi
done

# The Linux libraries and transcript program that the DLLs are compared with.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j2 --target Dorvane Tremsal transcript core_transcript

for arch in x86_64 i686; do
  dir=build-windows-$arch
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-$arch.cmake -DCMAKE_BUILD_TYPE=Release \
        -DLP_NATIVE_BUILD="$PWD/build"
  cmake --build "$dir" -j2
  ctest --test-dir "$dir" --output-on-failure -j2
done

# SSE2 arithmetic on 32-bit x86 gives the 64-bit numbers exactly.
build/tests/transcript --compare build-windows-x86_64/tests/windows.txt build-windows-i686/tests/windows.txt

