#!/usr/bin/env bash
# Installs what this machine lacks (Debian 12, as root). "build": the native tool
# chain; "test" (the default): also the sanitizer runtimes, MinGW-w64 for 32-bit
# Windows, and Wine with 32-bit support.
set -euo pipefail

missing=()
need() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed" || missing+=("$1"); }

packages=(cmake ninja-build g++ libgtest-dev)
if [ "${1:-test}" = test ]; then
  packages+=(clang libclang-rt-14-dev clang-tidy cppcheck valgrind groff-base man-db g++-mingw-w64-i686-posix wine wine32:i386)
fi
for package in "${packages[@]}"; do
  need "$package"
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
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
