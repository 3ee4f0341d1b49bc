#!/usr/bin/env bash
# Static analysis of the program's sources: clang-tidy with the checks listed in
# .clang-tidy, and cppcheck. Needs the native build's compile_commands.json.
set -euo pipefail
cd "$(dirname "$0")/.."

[ -f build/native/compile_commands.json ] || cmake --preset native >/dev/null
# The Windows wing needs the Windows headers, which clang-tidy on Linux has not;
# cppcheck reads them all.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! ls src/*/*.cpp src/common/posix/*.cpp | xargs -P 2 -n 4 clang-tidy -p build/native --quiet >"$log" 2>&1; then
  grep -v -E '^[0-9]+ warnings? generated\.$' "$log" >&2
  echo "clang-tidy found faults" >&2
  exit 1
fi
echo "clang-tidy: clean"

cppcheck --quiet --enable=warning,performance,portability --std=c++20 --error-exitcode=1 --inline-suppr -I src src
echo "cppcheck: clean"
