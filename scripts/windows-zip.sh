#!/usr/bin/env bash
# The Windows ZIP, the same bytes from the same sources wherever and whenever it
# is built: the program linked with its time stamp taken from SOURCE_DATE_EPOCH
# (by default the last commit's time), and the ZIP's entries in a fixed order,
# with that time, fixed modes and no owner, their text in CR LF.
#   windows-zip.sh                 build build/windows/quorvantis.exe and pack
#                                  build/windows/quorvantis-VERSION-win32.zip
#   windows-zip.sh PROGRAM ZIP     only pack PROGRAM into ZIP (staged under TMPDIR)
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -c safe.directory="$source" -C "$source" log -1 --format=%ct 2>/dev/null) ||
    { echo "windows-zip.sh: not a git checkout: set SOURCE_DATE_EPOCH" >&2; exit 2; }
fi
# The ZIP keeps local times: UTC, so that every builder's are the same.
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
version=$(sed -n 's/^project(quorvantis VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")

if [ $# -eq 0 ]; then
  cd "$source"
  cmake --preset windows >/dev/null
  # Linked anew each time: a link made before the last commit has another time stamp.
  rm -f build/windows/quorvantis.exe
  cmake --build --preset windows
  exec bash "$source/scripts/windows-zip.sh" "$source/build/windows/quorvantis.exe" "$source/build/windows/quorvantis-$version-win32.zip"
fi
[ $# -eq 2 ] || { echo "usage: windows-zip.sh [PROGRAM ZIP]" >&2; exit 2; }
program=$(realpath "$1")
zip=$(realpath "$2")

stage=$(mktemp -d "${TMPDIR:-/tmp}/quorvantis-zip-XXXXXX")
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/docs"
cp "$program" "$stage/quorvantis.exe"
crlf() { sed 's/\r$//; s/$/\r/' "$1" >"$2"; }
crlf "$source/README.md" "$stage/README.md"
crlf "$source/LICENSE" "$stage/LICENSE.txt"
crlf "$source/docs/promises.md" "$stage/docs/promises.md"
# The order of the entries, given here rather than taken from a folder.
entries=(quorvantis.exe README.md LICENSE.txt docs/promises.md)
chmod 0644 "${entries[@]/#/$stage/}"
touch -h -d "@$SOURCE_DATE_EPOCH" "${entries[@]/#/$stage/}"
rm -f "$zip"
# -X: no owner, group or extra times; -D: no folder entries.
(cd "$stage" && zip -q -X -D -9 "$zip" "${entries[@]}")
echo "$zip"
