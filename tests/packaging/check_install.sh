#!/usr/bin/env bash
# The Linux install tree: the program and a man page that renders without warnings.
# Usage: check_install.sh <native build directory>
set -euo pipefail
build=$(cd "$1" && pwd)
prefix=$(mktemp -d /tmp/quorvantis-install-XXXXXX)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/quorvantis share/man/man1/quorvantis.1 share/doc/quorvantis/README.md share/doc/quorvantis/LICENSE; do
  [ -f "$prefix/$file" ] || { echo "not installed: $file" >&2; exit 1; }
done
[ -x "$prefix/bin/quorvantis" ] || { echo "bin/quorvantis is not executable" >&2; exit 1; }
usage=$("$prefix/bin/quorvantis" </dev/null)
[ "$usage" = "$(printf 'QUORVANTIS </option> "Path to pod sub directories"\n\t/u\tUpdate pod directories.\n\t/n\tWhere n = directory number')" ] ||
  { echo "the installed program does not show its usage" >&2; exit 1; }

warnings=$(groff -man -ww -z -Tutf8 "$prefix/share/man/man1/quorvantis.1" 2>&1)
[ -z "$warnings" ] || { echo "the man page renders with warnings:" >&2; echo "$warnings" >&2; exit 1; }
rendered=$(MANWIDTH=80 man -l "$prefix/share/man/man1/quorvantis.1" 2>/dev/null)
for heading in NAME SYNOPSIS DESCRIPTION OPTIONS FILES DIAGNOSTICS "EXIT STATUS" EXAMPLES; do
  grep -q "^$heading" <<<"$rendered" || { echo "the man page lacks $heading" >&2; exit 1; }
done
echo "install tree and man page: fine"
