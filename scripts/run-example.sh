#!/usr/bin/env bash
# Builds the program for Linux and runs it on the example pod tree: updates the
# seven lists, then installs list 2 as pod.ini in build/example/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-tools.sh build
cmake --preset native >/dev/null
cmake --build --preset native --target quorvantis

pods="$PWD/examples/pods"
mkdir -p build/example
cd build/example
echo "\$ quorvantis /u /2 $pods"
../native/quorvantis /u /2 "$pods" </dev/null
echo
echo "$pods/2.ini:"
cat "$pods/2.ini"
echo
echo "build/example/pod.ini:"
cat pod.ini
