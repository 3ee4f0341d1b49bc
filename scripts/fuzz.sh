#!/usr/bin/env bash
# Builds the fuzz targets and runs each from its committed corpus; new inputs go
# to a scratch folder, not the repository. Any finding fails the run: its input
# is kept in build/fuzz/findings/ and shown in the log with a command that replays it.
#
#   scripts/fuzz.sh           the fixed set that the test command runs: a set number
#                             of runs from a fixed random-number start, with nothing
#                             fed back from the run's own addresses, so that the same
#                             commit finds the same things on every run
#   scripts/fuzz.sh SECONDS   a search for SECONDS per target from a random-number
#                             start drawn here and printed with the options
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-}
case $seconds in
  '') draw= ;;
  *[!0-9]* | 0*) echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2 ;;
  *) draw=$(( $(od -An -N4 -tu4 /dev/urandom) % 2147483646 + 1 )) ;;
esac

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

scratch=$(mktemp -d /tmp/quorvantis-fuzz-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -p build/fuzz/findings

# The input that libFuzzer kept for its finding: whole in base64 up to 4 KB,
# under a command that replays it; a larger one by length, SHA-256 and its start.
show_input() {
  local target=$1 file
  file=$(sed -n 's/.*Test unit written to //p' "$scratch/log" | tail -n 1)
  [ -n "$file" ] && [ -f "$file" ] || return 0
  local size
  size=$(wc -c <"$file")
  if [ "$size" -le 4096 ]; then
    echo "The input ($size bytes); to replay it, paste these lines in the repository's folder:"
    echo "base64 -d > crash <<'END' && build/fuzz/fuzz/${target}_fuzz crash"
    base64 "$file"
    echo "END"
  else
    echo "The input: $size bytes, SHA-256 $(sha256sum "$file" | cut -d ' ' -f 1); its first 4096 bytes in base64:"
    head -c 4096 "$file" | base64
  fi
}

# target:longest input:runs in the fixed set, about 45 s in all on two idle cores.
# The list installation runs twice, each time from the committed corpus alone:
# short inputs for many executions, then inputs up to 200,000 bytes that start
# from its line of 100,000 bytes.
for run in install_list:4096:40000 install_list:200000:3000 name_order:4096:100000 arguments:4096:40000; do
  IFS=: read -r target max_len runs <<<"$run"
  if [ -z "$draw" ]; then
    options=(-seed=1 -runs="$runs" -reload=0 -use_cmp=0)
    echo "== fuzzing $target for $runs runs, inputs up to $max_len bytes: ${options[*]}"
  else
    options=(-seed="$draw" -max_total_time="$seconds")
    echo "== fuzzing $target for $seconds s, inputs up to $max_len bytes: ${options[*]}"
  fi
  mkdir -p "$scratch/$target-$max_len"
  if ! "build/fuzz/fuzz/${target}_fuzz" "${options[@]}" -max_len="$max_len" -timeout=20 -print_final_stats=1 \
    "-artifact_prefix=build/fuzz/findings/${target}-" "$scratch/$target-$max_len" "fuzz/corpus/$target" >"$scratch/log" 2>&1; then
    grep -v -E '^#[0-9]+' "$scratch/log" >&2
    show_input "$target" >&2
    echo "fuzzing $target found a fault" >&2
    exit 1
  fi
  grep -E '^(#[0-9]+[[:space:]]+DONE |Done |stat::new_units_added:)' "$scratch/log"
done
