#!/usr/bin/env bash
# Installs what is missing, builds the native configuration and runs srhost,
# the sample host, from a scratch folder that holds what the product puts next
# to its executables: a version.xml, a url.ini and a stand-in for the upload
# process LumoraHelper.exe (which notes how it was started). It runs in a
# scratch system root where the user has consented to reporting. srhost prints
# the log, the report files (decoded), their registry records, the version,
# channel and report URL they were written with, and whether the upload
# process was started.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native --target srhost srreg srdump
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
host="$scratch/host"
mkdir -p "$host" "$scratch/root"
cp build/native/bin/srhost build/native/bin/srreg build/native/bin/srdump "$host/"

cat >"$host/version.xml" <<'XML'
<?xml version="1.0" encoding="utf-8"?>
<Lumora><ProgramVersion>5.2.0.1180</ProgramVersion></Lumora>
XML
cat >"$host/url.ini" <<'INI'
[StatRelay]
ReportURL=https://%SRV%/stat/report
[SRV]
{+08:00,+09:00)=report-east.example.com
default=far
far=report.example.com
INI
cat >"$host/LumoraHelper.exe" <<'SH'
#!/bin/sh
# Stand-in for the product's upload process: notes its arguments and leaves.
dir=$(dirname "$0")
printf '%s\n' "$0" "$@" >"$dir/LumoraHelper.started.part" && mv "$dir/LumoraHelper.started.part" "$dir/LumoraHelper.started"
SH
chmod 755 "$host/LumoraHelper.exe"

export STATRELAY_ROOT="$scratch/root"
"$host/srreg" add 'HKLM\Software\Norvo_Srp_pos\SRP' /v report /t REG_DWORD /d 2 /f >/dev/null
# The channel the installer recorded.
"$host/srreg" add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Lumora' /v InstallChannel /t REG_SZ \
  /d web-download /f >/dev/null
"$host/srhost" "$@"
