#!/usr/bin/env bash
# Builds the benchmarks optimised and runs each; every program prints its own
# figures beside the floors it measured in the same run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset bench >/dev/null
cmake --build --preset bench
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
export STATRELAY_ROOT="$root"
shopt -s nullglob
for b in build/bench/bin/bench_*; do
  printf '\n=== %s\n' "$(basename "$b")"
  "$b" "$@"
done
