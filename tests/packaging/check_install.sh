#!/usr/bin/env bash
# The Linux install tree: the program and a man page of the project's version
# that renders without warnings; and a build for use that needs no GoogleTest.
# Usage: check_install.sh <native build directory> <source directory> <version>
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
version=$3
prefix=$(mktemp -d /tmp/quorvantis-install-XXXXXX)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/quorvantis share/man/man1/quorvantis.1 share/doc/quorvantis/README.md share/doc/quorvantis/LICENSE \
  share/doc/quorvantis/docs/promises.md; do
  [ -f "$prefix/$file" ] || { echo "not installed: $file" >&2; exit 1; }
done
[ -x "$prefix/bin/quorvantis" ] || { echo "bin/quorvantis is not executable" >&2; exit 1; }
usage=$("$prefix/bin/quorvantis" </dev/null)
[ "$usage" = "$(printf 'QUORVANTIS </option> "Path to pod sub directories"\n\t/u\tUpdate pod directories.\n\t/n\tWhere n = directory number')" ] ||
  { echo "the installed program does not show its usage" >&2; exit 1; }

warnings=$(groff -man -ww -z -Tutf8 "$prefix/share/man/man1/quorvantis.1" 2>&1)
[ -z "$warnings" ] || { echo "the man page renders with warnings:" >&2; echo "$warnings" >&2; exit 1; }
rendered=$(MANWIDTH=80 man -l "$prefix/share/man/man1/quorvantis.1" 2>/dev/null)
# The sections, in the order man-pages(7) gives them.
headings=$(grep -E '^[A-Z][A-Z ]+$' <<<"$rendered" | tr '\n' ,)
[ "$headings" = "NAME,SYNOPSIS,DESCRIPTION,OPTIONS,EXIT STATUS,DIAGNOSTICS,ENVIRONMENT,FILES,EXAMPLES,SEE ALSO," ] ||
  { echo "the man page's sections: $headings" >&2; exit 1; }
grep -q "^\.TH QUORVANTIS 1 .* \"Quorvantis $version\" " "$prefix/share/man/man1/quorvantis.1" ||
  { echo "the man page does not name version $version" >&2; exit 1; }

# Without GoogleTest, a plain configure leaves the tests out and says so; one
# that asks for the tests fails.
configured=$(cmake -S "$source" -B "$prefix/plain" -G Ninja -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON 2>&1) ||
  { echo "a configure without GoogleTest fails:" >&2; echo "$configured" >&2; exit 1; }
grep -q "GoogleTest not found: the tests are left out" <<<"$configured" ||
  { echo "a configure without GoogleTest does not say that the tests are left out" >&2; exit 1; }
if cmake -S "$source" -B "$prefix/tests" -G Ninja -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DQUORVANTIS_TESTS=ON \
  >/dev/null 2>&1; then
  echo "a configure that asks for the tests passes without GoogleTest" >&2
  exit 1
fi
echo "install tree, man page and configure: fine"
