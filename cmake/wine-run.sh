#!/usr/bin/env bash
# Runs a Windows program under wine64 in a throw-away prefix of the build
# (WINEPREFIX defaults to <program folder>/../wineprefix), made on first use.
set -euo pipefail
prog=$1
shift
bindir=$(cd "$(dirname "$prog")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$(dirname "$bindir")/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY
wine=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$wine" wineboot -i >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w || true
fi
# The MinGW runtime DLLs the test programs need (the shipping DLL links them statically).
export WINEPATH="$bindir"
exec "$wine" "$prog" "$@"
