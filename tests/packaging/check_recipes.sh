#!/usr/bin/env bash
# The README's set-up and daily recipes, taken from it as they stand: they succeed
# with the program in place, and fail loudly without it. The account block, the
# first run and the cron line run as the README has them, as cron runs it for
# that account, in a mount namespace whose /etc, /srv, /var/log and /usr/local
# are scratch folders; the batch file, given a Windows program, under Wine's cmd
# with C:\pods a scratch folder, also with its log out of reach.
# Usage: check_recipes.sh <README> <program> [<Windows program>]
set -euo pipefail
readme=$1 program=$2 windows_program=${3:-}
fail() { echo "$*" >&2; exit 1; }
unshare -m --propagation private true 2>/dev/null || { echo "skipped: no mount namespace here"; exit 77; }
[ -z "$windows_program" ] || [ -n "${WINEPREFIX:-}" ] || fail "WINEPREFIX is not set"
scratch=$(mktemp -d /tmp/quorvantis-recipes-XXXXXX)
c=${WINEPREFIX:-$scratch}/drive_c
trap 'rm -rf "$scratch" "$c/Tools" "$c/Program Files/App" "$c/pods"' EXIT
# The nth block of a kind, e.g. "block bat 1".
block() { awk -v kind="$1" -v n="$2" '$0 == "```" kind {i++; if (i == n) {on = 1; next}} /^```/ {on = 0} on' "$readme"; }

mkdir -p "$scratch/srv/app" "$scratch/local/bin" "$scratch/log"
cp -a /etc "$scratch/etc"
# Runs sh -c "$1" as root in the namespace.
ns() {
  unshare -m --propagation private sh -c 'mount --bind "$0/etc" /etc && mount --bind "$0/srv" /srv &&
    mount --bind "$0/local" /usr/local && mount --bind "$0/log" /var/log && exec sh -c "$1"' "$scratch" "$1"
}
cp "$program" "$scratch/local/bin/quorvantis"
ns "$(block sh 3)" || fail "the account block fails"
: >"$scratch/srv/pods/0/base.pod"
first=$(ns "$(block sh 4)" </dev/null) && [ "$first" = "$(printf 'Updating pod.ini files\n0')" ] || fail "the first run: $first"
line=$(block cron 1 | grep -v '^MAILTO=' | sed 's/^\([^ ]* \)\{6\}//')
cron() {
  ns "exec setpriv --reuid=pods --regid=pods --init-groups env -i HOME=/home/pods PATH=/usr/bin:/bin /bin/dash -c '$line'" \
    </dev/null 2>"$scratch/mail"
}
cron && [ ! -s "$scratch/mail" ] && [ -s "$scratch/srv/app/pod.ini" ] || fail "the cron line fails: $(cat "$scratch/mail")"
grep -qx 'pod.ini written: /srv/app/pod.ini' "$scratch/log/quorvantis/quorvantis.log" ||
  fail "the cron line's log does not say what was written"
rm "$scratch/local/bin/quorvantis"
! cron && grep -q "quorvantis failed" "$scratch/mail" || fail "the cron line is silent without the program"

[ -n "$windows_program" ] || { echo "README recipes: the account block and the cron line fine"; exit 0; }
mkdir -p "$c/Tools/quorvantis" "$c/Program Files/App" "$c/pods/0"
: >"$c/pods/0/base.pod"
block bat 2 | sed 's/$/\r/' >"$c/Tools/quorvantis/quorvantis-daily.bat"
batch() { timeout 120 "${WINELOADER:-wine}" cmd /c 'C:\Tools\quorvantis\quorvantis-daily.bat' </dev/null >/dev/null 2>&1; }
cp "$windows_program" "$c/Tools/quorvantis/quorvantis.exe"
batch && [ -s "$c/Program Files/App/pod.ini" ] || fail "the batch file fails: $(cat "$c/pods/quorvantis.log")"
grep -qxF 'pod.ini written: C:\Program Files\App\pod.ini' "$c/pods/quorvantis.log" ||
  fail "the batch file's log does not say what was written"
rm "$c/pods/quorvantis.log" && mkdir "$c/pods/quorvantis.log"
! batch || fail "the batch file succeeds where its log cannot be opened"
rmdir "$c/pods/quorvantis.log"
rm "$c/Tools/quorvantis/quorvantis.exe"
! batch || fail "the batch file succeeds without the program"
echo "README recipes: the account block, the cron line and the batch file fine"
