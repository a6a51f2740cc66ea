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

if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || { echo "install-windows-tools: run as root to install: ${need[*]}" >&2; exit 1; }
    sudo=sudo
  fi
  echo "install-windows-tools: installing ${need[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  # 32-bit wine comes from the i386 architecture.
  if [[ " ${need[*]} " == *" wine32:i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get -o DPkg::Lock::Timeout=600 update -q
  $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${need[@]}"
fi
