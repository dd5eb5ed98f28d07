#!/usr/bin/env bash
# Builds the benchmarks optimised and runs each; every program prints its own
# figures beside the floors it measured in the same run.
#
#   scripts/bench.sh [ARGS...]         Linux: every benchmark
#   scripts/bench.sh --wine [ARGS...]  the x86_64 Windows build of the programs
#                                      that have a harness of their own
#                                      (bench_recorders), run under wine64: an
#                                      indication of the Windows figures, the
#                                      floors measured in the same run under Wine
set -euo pipefail
cd "$(dirname "$0")/.."
preset=bench
if [ "${1:-}" = "--wine" ]; then
  preset=windows-x64-bench
  shift
fi
scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
export STATRELAY_ROOT="$root"
shopt -s nullglob
if [ "$preset" = windows-x64-bench ]; then
  for b in "build/$preset"/bin/bench_*.exe; do
    printf '\n=== %s (wine64)\n' "$(basename "$b")"
    cmake/wine-run.sh "$b" "$@"
  done
  exit 0
fi
for b in build/bench/bin/bench_*; do
  printf '\n=== %s\n' "$(basename "$b")"
  "$b" "$@"
done
