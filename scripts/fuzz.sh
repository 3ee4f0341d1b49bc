#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time (default 30 s) from
# its committed corpus; new inputs go to a scratch folder, not the repository.
# Any finding fails the run; its input is kept in build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

scratch=$(mktemp -d /tmp/quorvantis-fuzz-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -p build/fuzz/findings
for target in install_list name_order arguments; do
  mkdir -p "$scratch/$target"
  echo "== fuzzing $target for $seconds s"
  if ! build/fuzz/fuzz/${target}_fuzz -max_total_time="$seconds" -max_len=200000 -timeout=20 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/findings/${target}- "$scratch/$target" "fuzz/corpus/$target" >"$scratch/log" 2>&1; then
    grep -v -E '^#[0-9]+' "$scratch/log" >&2
    echo "fuzzing $target found a fault" >&2
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units)' "$scratch/log"
done
