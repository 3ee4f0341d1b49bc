#!/usr/bin/env bash
# The Windows release: a 32-bit console program importing only system DLLs, with
# its version resource, and the ZIP package holding it, the README and the licence.
# Usage: check_windows_release.sh <windows build directory> <version>
set -euo pipefail
build=$(cd "$1" && pwd)
version=$2
exe="$build/quorvantis.exe"
fail() { echo "$*" >&2; exit 1; }

headers=$(i686-w64-mingw32-objdump -p "$exe")
grep -q "^Magic.*010b.*(PE32)" <<<"$headers" || fail "not a 32-bit program"
grep -q "^Subsystem.*00000003.*(Windows CUI)" <<<"$headers" || fail "not a console program"
imports=$(grep "DLL Name:" <<<"$headers" | awk '{print tolower($3)}' | sort -u)
for dll in $imports; do
  case "$dll" in
    kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll) ;;
    *) fail "imports a DLL that Windows does not ship: $dll" ;;
  esac
done

strings=$(i686-w64-mingw32-strings -el "$exe")
for value in "ProductName" "Quorvantis" "FileDescription" "FileVersion" "$version" "ProductVersion"; do
  grep -qx -F "$value" <<<"$strings" || fail "the version resource lacks \"$value\""
done

(cd "$build" && cpack -G ZIP >/dev/null)
zip="$build/quorvantis-$version-win32.zip"
[ -f "$zip" ] || fail "no package $zip"
listing=$(cd "$build" && cmake -E tar tf "$zip" | sort)
[ "$listing" = "$(printf 'LICENSE\nREADME.md\nquorvantis.exe')" ] || fail "the package holds: $listing"
echo "Windows release: fine ($(wc -c <"$zip") bytes)"
