#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time (default 20 s) from
# its committed corpus; new inputs go to a scratch folder, not the repository.
# Any finding fails the run; its input is kept in build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

scratch=$(mktemp -d /tmp/quorvantis-fuzz-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -p build/fuzz/findings
# The list installation runs twice: short inputs for many executions, then
# inputs up to 200,000 bytes for lines of 100,000 bytes and more.
for run in install_list:4096 install_list:200000 name_order:4096 arguments:4096; do
  target=${run%%:*}
  max_len=${run##*:}
  mkdir -p "$scratch/$target"
  echo "== fuzzing $target for $seconds s, inputs up to $max_len bytes"
  if ! build/fuzz/fuzz/${target}_fuzz -max_total_time="$seconds" -max_len="$max_len" -timeout=20 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/findings/${target}- "$scratch/$target" "fuzz/corpus/$target" >"$scratch/log" 2>&1; then
    grep -v -E '^#[0-9]+' "$scratch/log" >&2
    echo "fuzzing $target found a fault" >&2
    exit 1
  fi
  grep -E '^Done' "$scratch/log"
done
