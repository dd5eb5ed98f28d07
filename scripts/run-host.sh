#!/usr/bin/env bash
# Installs what is missing, builds the native configuration and runs srhost,
# the sample host, in a scratch system root where the user has consented to
# reporting. srhost prints the log, the report files (decoded) and their
# registry records.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native --target srhost srreg srdump
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
export STATRELAY_ROOT="$root"
build/native/bin/srreg add 'HKLM\Software\Norvo_Srp_pos\SRP' /v report /t REG_DWORD /d 2 /f >/dev/null
build/native/bin/srhost "$@"
