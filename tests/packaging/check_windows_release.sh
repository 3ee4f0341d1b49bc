#!/usr/bin/env bash
# The Windows release: a 32-bit console program importing only system DLLs, with
# its version resource and application manifest, and the ZIP package holding it,
# the README, the promises it links to and the licence, the same bytes however it
# is packed. Another build (the x86-64 one the Wine tests may run) is checked for
# its manifest too.
# Usage: check_windows_release.sh <windows build directory> <version> [other program]
set -euo pipefail
build=$(cd "$1" && pwd)
version=$2
exe="$build/quorvantis.exe"
fail() { echo "$*" >&2; exit 1; }

# The manifest, parsed strictly: run as invoked, so that no write is redirected;
# made for Windows 7 to 11; nothing beyond the schema's elements for that, and
# nothing that changes the program's code page or path rules.
check_manifest() {
  local program=$1 manifest asm=urn:schemas-microsoft-com:asm
  manifest=$(wrestool -x --raw --type=24 --name=1 "$program")
  [ -n "$manifest" ] || fail "$program: no application manifest"
  xmllint --noout --nonet - <<<"$manifest" || fail "$program: the manifest is not well-formed"
  holds() { [ "$(xmllint --nonet --xpath "boolean($1)" - <<<"$manifest")" = true ] || fail "$program: the manifest fails $1"; }
  holds "/*[local-name()='assembly' and namespace-uri()='$asm.v1' and @manifestVersion='1.0']"
  holds "count(//*[local-name()='requestedExecutionLevel']) = 1"
  holds "/*/*[local-name()='trustInfo' and namespace-uri()='$asm.v3']/*[local-name()='security' and namespace-uri()='$asm.v3']
         /*[local-name()='requestedPrivileges' and namespace-uri()='$asm.v3']
         /*[local-name()='requestedExecutionLevel' and namespace-uri()='$asm.v3' and @level='asInvoker' and @uiAccess='false']"
  holds "count(//*[not(contains(' assembly trustInfo security requestedPrivileges requestedExecutionLevel compatibility application supportedOS ', concat(' ', local-name(), ' ')))]) = 0"
  local windows_7_to_11 supported
  windows_7_to_11=$(printf '%s\n' 1f676c76-80e1-4239-95bb-83d0f6d0da78 35138b9a-5d96-4fbd-8e2d-a2440225f93a \
    4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a)
  supported=$(xmllint --nonet --xpath "/*/*[local-name()='compatibility' and namespace-uri()='urn:schemas-microsoft-com:compatibility.v1']
    /*[local-name()='application']/*[local-name()='supportedOS']/@Id" - <<<"$manifest" | grep -o '{[^}]*}' | tr -d '{}' | sort)
  [ "$supported" = "$windows_7_to_11" ] || fail "$program: the manifest supports: $supported"
}
check_manifest "$exe"
[ $# -lt 3 ] || [ "$3" -ef "$exe" ] || check_manifest "$3"

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

# The ZIP, packed twice, on two file systems under two time zones: the same bytes.
pack=$(dirname "$0")/../../scripts/windows-zip.sh zip="$build/quorvantis-$version-win32.zip"
shm=$(mktemp -d /dev/shm/quorvantis-zip-XXXXXX)
trap 'rm -rf "$shm"' EXIT
TZ=Asia/Tokyo TMPDIR=$build bash "$pack" "$exe" "$zip" >/dev/null
TZ=America/New_York TMPDIR=$shm bash "$pack" "$exe" "$shm/again.zip" >/dev/null
[ "$(sha256sum <"$zip")" = "$(sha256sum <"$shm/again.zip")" ] || fail "two packings of one program differ"
listing=$(unzip -Z1 "$zip" | tr '\n' ' ')
[ "$listing" = "quorvantis.exe README.md LICENSE.txt docs/promises.md " ] || fail "the package holds: $listing"
unzip -p "$zip" LICENSE.txt | head -n 1 | grep -q $'\r$' || fail "the licence is not in CR LF"
epoch=${SOURCE_DATE_EPOCH:-$(git -c safe.directory='*' -C "$(dirname "$0")" log -1 --format=%ct)}
pe=$(od -An -tu4 -j$(($(od -An -tu4 -j60 -N4 "$exe") + 8)) -N4 "$exe" | tr -d ' ')
[ "$pe" = "$epoch" ] || fail "the program's time stamp, $pe, is not SOURCE_DATE_EPOCH, $epoch: build it with scripts/windows-zip.sh"
echo "Windows release: fine ($(wc -c <"$zip") bytes)"
