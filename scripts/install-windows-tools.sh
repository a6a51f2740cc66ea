#!/usr/bin/env bash
# Installs, from Debian's packages, what the Windows build and its tests need
# and the machine lacks: the MinGW-w64 cross compilers for 64- and 32-bit
# Windows, 64-bit wine, 32-bit wine (from the i386 architecture), and the
# GoogleTest sources that the cross builds compile for themselves. Installs
# nothing when everything is there. Used by the README and .ci/run.
set -euo pipefail

need=()
command -v x86_64-w64-mingw32-g++ >/dev/null 2>&1 || need+=(g++-mingw-w64-x86-64-win32)
command -v i686-w64-mingw32-g++ >/dev/null 2>&1 || need+=(g++-mingw-w64-i686-win32)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
[ -x /usr/lib/wine/wine ] || need+=(wine32:i386)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v make >/dev/null 2>&1 || need+=(make)

# 32-bit wine comes from the i386 architecture, which apt_install adds.
source "$(dirname "$0")/apt.sh"
apt_install install-windows-tools ${need[@]+"${need[@]}"}
