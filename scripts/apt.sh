# apt_install LABEL PACKAGE...: installs the Debian packages given, as root or
# through sudo, waiting for another apt to finish; adds the i386 architecture
# first when a package asks for it. Nothing happens without packages. Sourced
# by the install scripts.
apt_install() {
  local label=$1
  shift
  [ $# -gt 0 ] || return 0
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || { echo "$label: run as root to install: $*" >&2; return 1; }
    sudo=sudo
  fi
  echo "$label: installing $*" >&2
  export DEBIAN_FRONTEND=noninteractive
  if [[ " $* " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get -o DPkg::Lock::Timeout=600 update -q
  $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "$@"
}
