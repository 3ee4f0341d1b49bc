#!/usr/bin/env bash
# Installs what the tests need, builds every variant with warnings as errors and
# runs all tests: native, under valgrind and the sanitizers, the Windows program
# under Wine, the fuzz targets for a bounded time, and the static checkers.
set -euo pipefail
cd "$(dirname "$0")/.."

# The Windows program runs under Wine as the i686 product where this machine
# runs i386 code, and as the x86-64 build under 64-bit Wine where it runs none.
# QUORVANTIS_WINE_ARCH=win32 or win64 forces either. Decided before anything
# is installed: 32-bit Wine is a minute of download that such a machine cannot run.
runs_i386_code() {
  mkdir -p build
  local probe
  probe=$(mktemp build/i386-probe-XXXXXX)
  # A 93-byte i386 ELF program whose only instructions are exit(0).
  printf '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0\x01\0\0\0\x54\x80\x04\x08\x34\0\0\0\0\0\0\0\0\0\0\0\x34\0\x20\0\x01\0\0\0\0\0\0\0\x01\0\0\0\0\0\0\0\0\x80\x04\x08\0\x80\x04\x08\x5d\0\0\0\x5d\0\0\0\x05\0\0\0\0\x10\0\0\x31\xdb\xb8\x01\0\0\0\xcd\x80' >"$probe"
  chmod +x "$probe"
  local status=0
  timeout 10 "$probe" >/dev/null 2>&1 || status=$?
  rm -f "$probe"
  return "$status"
}
wine_arch=${QUORVANTIS_WINE_ARCH:-}
if [ -z "$wine_arch" ]; then
  if runs_i386_code; then wine_arch=win32; else wine_arch=win64; fi
fi
case "$wine_arch" in
  win32 | win64) ;;
  *) echo "QUORVANTIS_WINE_ARCH must be win32 or win64, not \"$wine_arch\"" >&2; exit 2 ;;
esac

bash scripts/install-tools.sh test
if [ "$wine_arch" = win32 ] && ! bash scripts/install-tools.sh wine32; then
  echo "32-bit Wine could not be installed: testing the x86-64 build under 64-bit Wine instead" >&2
  wine_arch=win64
fi
[ "$wine_arch" = win32 ] || bash scripts/install-tools.sh wine64

# Wine's console windows need a display, there before Wine's server starts:
# a virtual one, for the rest of the run. xvfb-run stops it at the end.
if [ -z "${QUORVANTIS_VIRTUAL_DISPLAY:-}" ]; then
  export QUORVANTIS_VIRTUAL_DISPLAY=1 QUORVANTIS_WINE_ARCH=$wine_arch
  exec xvfb-run --auto-servernum --server-args="-nolisten tcp -screen 0 1024x768x24" bash "$PWD/scripts/test.sh"
fi

# A private Wine prefix, removed with its server at the end whatever happens.
wine_home=$(mktemp -d /tmp/quorvantis-wine-XXXXXX)
export WINEPREFIX="$wine_home/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=$wine_arch
if [ "$wine_arch" = win32 ]; then
  unset WINELOADER
  windows_preset=windows
else
  # The launcher "wine" picks the 32-bit loader wherever it is installed, runnable or not.
  export WINELOADER=/usr/lib/wine/wine64
  windows_preset=windows64
fi
stop_wine() {
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  rm -rf "$wine_home"
}
trap stop_wine EXIT

step() { printf '\n== %s\n' "$*"; }

step "Windows program (MinGW-w64, i686) and its ZIP"
bash scripts/windows-zip.sh
if [ "$windows_preset" = windows64 ]; then
  step "Windows program for the tests (MinGW-w64, x86-64)"
  cmake --preset windows64 >/dev/null
  cmake --build --preset windows64
fi
windows_program=$PWD/build/$windows_preset/quorvantis.exe
echo "Wine tests: $windows_program under ${WINELOADER:-wine} ($wine_arch)"

step "Wine prefix"
# Started once and kept running, so that each test run of the program starts fast.
mkdir -p "$WINEPREFIX"
timeout 60 wineserver -p
timeout 300 "${WINELOADER:-wine}" cmd /c exit >/dev/null 2>&1 </dev/null || { echo "Wine did not start" >&2; exit 1; }

step "Native build and all tests, the Windows program under Wine included"
cmake --preset native -DQUORVANTIS_TESTS=ON -DQUORVANTIS_WINE_TESTS=ON -DQUORVANTIS_WINDOWS_PROGRAM="$windows_program" >/dev/null
cmake --build --preset native
ctest --preset native -j2

step "Sanitizer build and its tests"
cmake --preset sanitize -DQUORVANTIS_TESTS=ON >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize -j2

step "Fuzzing"
bash scripts/fuzz.sh

step "Static analysis"
bash scripts/check.sh
