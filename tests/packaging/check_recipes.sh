#!/usr/bin/env bash
# The README's daily recipes, taken from it as they stand: they succeed with the
# program in place, and fail loudly without it. The cron line runs as cron runs
# it, in a mount namespace whose /srv and /usr/local are scratch folders; the
# batch file, given a Windows program, under Wine's cmd with D: a scratch folder,
# also with D: gone, the log with it.
# Usage: check_recipes.sh <README> <program> [<Windows program>]
set -euo pipefail
readme=$1 program=$2 windows_program=${3:-}
fail() { echo "$*" >&2; exit 1; }
unshare -m --propagation private true 2>/dev/null || { echo "skipped: no mount namespace here"; exit 77; }
[ -z "$windows_program" ] || [ -n "${WINEPREFIX:-}" ] || fail "WINEPREFIX is not set"
scratch=$(mktemp -d /tmp/quorvantis-recipes-XXXXXX)
c=${WINEPREFIX:-$scratch}/drive_c
trap 'rm -rf "$scratch" "$c/Tools" "$c/Program Files/App" "$c/../dosdevices/d:"' EXIT
# The nth block of a kind, e.g. "block bat 1".
block() { awk -v kind="$1" -v n="$2" '$0 == "```" kind {i++; if (i == n) {on = 1; next}} /^```/ {on = 0} on' "$readme"; }

mkdir -p "$scratch/srv/pods/0" "$scratch/srv/app" "$scratch/local/bin" "$scratch/home"
: >"$scratch/srv/pods/0/base.pod"
line=$(block cron 1 | sed 's/^\([^ ]* \)\{5\}//')
cron() {
  unshare -m --propagation private sh -c 'mount --bind "$1/srv" /srv && mount --bind "$1/local" /usr/local &&
    exec env -i HOME="$1/home" PATH=/usr/bin:/bin /bin/sh -c "$2"' - "$scratch" "$line" </dev/null 2>"$scratch/mail"
}
cp "$program" "$scratch/local/bin/quorvantis"
cron && [ ! -s "$scratch/mail" ] && [ -s "$scratch/srv/app/pod.ini" ] || fail "the cron line fails: $(cat "$scratch/mail")"
grep -qx 'pod.ini written: /srv/app/pod.ini' "$scratch/home/quorvantis.log" ||
  fail "the cron line's log does not say what was written"
rm "$scratch/local/bin/quorvantis"
cron && grep -q "quorvantis failed" "$scratch/mail" || fail "the cron line is silent without the program"

[ -n "$windows_program" ] || { echo "README recipes: the cron line fine"; exit 0; }
mkdir -p "$c/Tools" "$c/Program Files/App" "$scratch/d/pods/0"
: >"$scratch/d/pods/0/base.pod"
ln -sfn "$scratch/d" "$WINEPREFIX/dosdevices/d:"
block bat 1 | sed 's/$/\r/' >"$c/Tools/quorvantis-daily.bat"
batch() { timeout 120 "${WINELOADER:-wine}" cmd /c 'C:\Tools\quorvantis-daily.bat' </dev/null >/dev/null 2>&1; }
cp "$windows_program" "$c/Tools/quorvantis.exe"
batch && [ -s "$c/Program Files/App/pod.ini" ] || fail "the batch file fails: $(cat "$scratch/d/pods/quorvantis.log")"
grep -qxF 'pod.ini written: C:\Program Files\App\pod.ini' "$scratch/d/pods/quorvantis.log" ||
  fail "the batch file's log does not say what was written"
rm "$WINEPREFIX/dosdevices/d:"
! batch || fail "the batch file succeeds where its log cannot be opened"
ln -s "$scratch/d" "$WINEPREFIX/dosdevices/d:"
rm "$c/Tools/quorvantis.exe"
! batch || fail "the batch file succeeds without the program"
echo "README recipes: the cron line and the batch file fine"
