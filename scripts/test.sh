#!/usr/bin/env bash
# Installs what the tests need, builds every variant with warnings as errors and
# runs all tests: native, under valgrind and the sanitizers, the Windows program
# under Wine, the fuzz targets for a bounded time, and the static checkers.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-tools.sh test

# A private Wine prefix, removed with its server at the end whatever happens.
wine_home=$(mktemp -d /tmp/quorvantis-wine-XXXXXX)
export WINEPREFIX="$wine_home/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win32
stop_wine() {
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  rm -rf "$wine_home"
}
trap stop_wine EXIT

step() { printf '\n== %s\n' "$*"; }

step "Windows program (MinGW-w64, i686)"
cmake --preset windows >/dev/null
cmake --build --preset windows

step "Wine prefix"
# Started once and kept running, so that each test run of the program starts fast.
mkdir -p "$WINEPREFIX"
timeout 60 wineserver -p
timeout 300 wine cmd /c exit >/dev/null 2>&1 </dev/null || { echo "Wine did not start" >&2; exit 1; }

step "Native build and all tests, the Windows program under Wine included"
cmake --preset native -DQUORVANTIS_TESTS=ON -DQUORVANTIS_WINE_TESTS=ON >/dev/null
cmake --build --preset native
ctest --preset native -j2

step "Sanitizer build and its tests"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize -j2

step "Fuzzing"
bash scripts/fuzz.sh "${QUORVANTIS_FUZZ_SECONDS:-20}"

step "Static analysis"
bash scripts/check.sh
