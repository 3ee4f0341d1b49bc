#!/usr/bin/env bash
# Installs what this machine lacks (Debian 12, as root), by set:
#   build   the native tool chain
#   windows what the Windows product and its ZIP are built with: MinGW-w64 for i686, zip
#   test    also GoogleTest, the sanitizer runtimes, the static checkers, the
#           man page and resource tools, MinGW-w64 for the i686 Windows product,
#           and a virtual display for Wine's console windows
#   wine32  32-bit Wine (through the i386 architecture)
#   wine64  64-bit Wine alone, and MinGW-w64 for x86-64
#   bench   what the benchmark measures with: strace and GNU time
# Usage: install-tools.sh SET...
set -euo pipefail

packages=()
for set in "${@:-build}"; do
  case "$set" in
    build) packages+=(cmake ninja-build g++) ;;
    windows) packages+=(cmake ninja-build g++-mingw-w64-i686-posix zip) ;;
    test) packages+=(cmake ninja-build g++ libgtest-dev clang libclang-rt-14-dev clang-tidy cppcheck valgrind
                     groff-base man-db libxml2-utils icoutils acl g++-mingw-w64-i686-posix zip unzip xvfb xauth) ;;
    wine32) packages+=(wine wine32:i386) ;;
    wine64) packages+=(wine wine64 g++-mingw-w64-x86-64-posix) ;;
    bench) packages+=(cmake ninja-build g++ strace time) ;;
    *) echo "install-tools.sh: unknown set: $set" >&2; exit 2 ;;
  esac
done

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "These packages are missing; run this script as root to install them." >&2
  exit 1
fi
case " ${missing[*]} " in
  *":i386 "*) dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386 ;;
esac
export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync fails the update of one index; the lists at hand
# usually still hold everything.
apt-get update -qq || echo "warning: apt-get update failed; installing from the package lists at hand" >&2
install() { apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}" >/dev/null; }
if ! install; then
  # The security updates of one architecture may lag behind the other's: the
  # release's own versions fit together.
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  echo "apt-get install failed; trying again with the versions of the release itself ($codename)" >&2
  if [ -z "$codename" ] || ! install -t "$codename"; then
    echo "install-tools.sh: could not install: ${missing[*]}" >&2
    exit 1
  fi
fi
