#!/usr/bin/env bash
# Installs what is missing, builds the native configuration and runs srhost,
# the sample host, in a scratch system root.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native --target srhost
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
STATRELAY_ROOT="$root" build/native/bin/srhost "$@"
