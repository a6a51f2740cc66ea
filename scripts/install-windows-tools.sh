#!/usr/bin/env bash
# Installs what the Windows build and its tests need on a Debian machine, and
# only what is missing: the MinGW-w64 cross compilers for 64- and 32-bit
# Windows, 64-bit wine, 32-bit wine (from the i386 architecture), and the
# GoogleTest sources that the cross build compiles for itself.
set -euo pipefail

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive

# apt and dpkg may be busy with another install on a shared machine.
apt_get() {
  local try
  for try in 1 2 3 4 5 6 7 8 9 10; do
    if $sudo apt-get "$@"; then return 0; fi
    echo "apt-get $1 failed (try $try); waiting for the package lock" >&2
    sleep 30
  done
  return 1
}

need=()
command -v x86_64-w64-mingw32-g++ >/dev/null 2>&1 || need+=(g++-mingw-w64-x86-64-win32)
command -v i686-w64-mingw32-g++ >/dev/null 2>&1 || need+=(g++-mingw-w64-i686-win32)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v make >/dev/null 2>&1 || need+=(make)

need32=()
if [ ! -x /usr/lib/wine/wine ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  need32+=(wine32:i386)
fi

if [ ${#need[@]} -gt 0 ] || [ ${#need32[@]} -gt 0 ]; then
  apt_get update -q
  apt_get install -y -q --no-install-recommends "${need[@]}" "${need32[@]}"
fi
