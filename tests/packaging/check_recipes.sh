#!/usr/bin/env bash
# The README's set-up and daily recipes, taken from it as they stand: they succeed
# with the program in place, and fail loudly without it, with the root misspelt
# or the log out of reach. The account block runs in dash, the cron line as cron
# runs it for that account, both in a mount namespace whose /etc, /srv, /var/log
# and /usr/local are scratch folders, where systemd-analyze also checks the units;
# the batch file, given a Windows program, under Wine's cmd, C:\pods a scratch folder.
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

mkdir -p "$scratch/srv/app" "$scratch/local/bin" "$scratch/log" "$scratch/units"
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
inode=$(stat -c %i "$scratch/srv/app/pod.ini")
line=$(block cron 1 | grep -v '^MAILTO=' | sed 's/^\([^ ]* \)\{6\}//')
cron() {
  ns "exec setpriv --reuid=pods --regid=pods --init-groups env -i HOME=/home/pods PATH=/usr/bin:/bin /bin/dash -c '$1'" \
    </dev/null 2>"$scratch/mail"
}
cron "$line" && [ ! -s "$scratch/mail" ] && [ -s "$scratch/srv/app/pod.ini" ] || fail "the cron line fails: $(cat "$scratch/mail")"
grep -qx 'pod.ini written: /srv/app/pod.ini' "$scratch/log/quorvantis/quorvantis.log" ||
  fail "the cron line's log does not say what was written"
[ "$(stat -c %i "$scratch/srv/app/pod.ini")" != "$inode" ] || fail "the cron line's run rewrites pod.ini in place"
block ini 1 | awk '/^# \/etc\//{f = dir "/" substr($2, 21); next} {print > f}' dir="$scratch/units"
if command -v systemd-analyze >/dev/null; then
  verified=$(ns "systemd-analyze verify $scratch/units/quorvantis.service $scratch/units/quorvantis.timer 2>&1") &&
    [ -z "$verified" ] || fail "the units: $verified"
fi
! cron "${line/ \/srv\/pods;/ \/srv\/podz;}" && grep -q "quorvantis failed" "$scratch/mail" &&
  grep -q "path to pods not found" "$scratch/log/quorvantis/quorvantis.log" || fail "the cron line is silent with the root misspelt"
rm "$scratch/local/bin/quorvantis"
! cron "$line" && grep -q "quorvantis failed" "$scratch/mail" || fail "the cron line is silent without the program"
rm -r "$scratch/log/quorvantis"
! cron "$line" && grep -q "quorvantis.log" "$scratch/mail" || fail "the cron line is silent without its log"

[ -n "$windows_program" ] || { echo "README recipes: the account block, the cron line and the units fine"; exit 0; }
mkdir -p "$c/Tools/quorvantis" "$c/Program Files/App" "$c/pods/0"
: >"$c/pods/0/base.pod"
block bat 2 | sed 's/$/\r/' >"$c/Tools/quorvantis/quorvantis-daily.bat"
batch() { timeout 120 "${WINELOADER:-wine}" cmd /c 'C:\Tools\quorvantis\quorvantis-daily.bat' </dev/null >/dev/null 2>&1; }
cp "$windows_program" "$c/Tools/quorvantis/quorvantis.exe"
batch && [ -s "$c/Program Files/App/pod.ini" ] || fail "the batch file fails: $(cat "$c/pods/quorvantis.log")"
grep -qxF $'pod.ini written: C:\\Program Files\\App\\pod.ini' "$c/pods/quorvantis.log" ||
  fail "the batch file's log does not say what was written"
head -c 1000001 /dev/zero >"$c/pods/quorvantis.log"
batch && [ -s "$c/pods/quorvantis.log.old" ] && [ "$(wc -c <"$c/pods/quorvantis.log")" -lt 1000 ] || fail "the log is not started anew"
sed -i 's/ C:\\pods / C:\\podz /' "$c/Tools/quorvantis/quorvantis-daily.bat"
! batch && grep -q "path to pods not found" "$c/pods/quorvantis.log" || fail "the batch file succeeds with the root misspelt"
sed -i 's/ C:\\podz / C:\\pods /' "$c/Tools/quorvantis/quorvantis-daily.bat"
rm "$c/pods/quorvantis.log" && mkdir "$c/pods/quorvantis.log"
! batch || fail "the batch file succeeds where its log cannot be opened"
rmdir "$c/pods/quorvantis.log"
rm "$c/Tools/quorvantis/quorvantis.exe"
! batch || fail "the batch file succeeds without the program"
echo "README recipes: the account block, the cron line, the units and the batch file fine"
