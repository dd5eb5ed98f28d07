#!/usr/bin/env bash
# Runs a Windows program under Wine in a throw-away prefix of the build
# (WINEPREFIX defaults to <program folder>/../wineprefix), made on first use.
#
#   wine-run.sh [--i686] PROGRAM ARGS...   run PROGRAM (--i686: a 32-bit one)
#   wine-run.sh --warm BINDIR              make the prefix of BINDIR's build and
#                                          start both of its sides once
#
# The prefix is always a 64-bit one: a 32-bit program then runs as it does on
# 64-bit Windows (WoW64), with the 32-bit view of the registry.
set -euo pipefail
wine64=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine
wine=$wine64
warm=0
case "${1:-}" in
  --i686) wine=$wine32; shift ;;
  --warm) warm=1; shift ;;
esac
prog=$1
shift
if [ "$warm" = 1 ]; then
  bindir=$(cd "$prog" && pwd)
else
  bindir=$(cd "$(dirname "$prog")" && pwd)
fi
export WINEPREFIX=${WINEPREFIX:-$(dirname "$bindir")/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$wine64" wineboot -i >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w || true
fi
if [ "$warm" = 1 ]; then
  # The first start of each side sets it up (slowly); a test must not pay for
  # that inside its own time limit.
  "$wine64" cmd /c exit >/dev/null 2>&1
  # The 32-bit side needs a kernel that runs 32-bit programs (IA32
  # emulation); where it cannot, only the 64-bit side is warmed.
  if "$wine32" --version >/dev/null 2>&1; then
    "$wine32" 'C:\windows\syswow64\cmd.exe' /c exit >/dev/null 2>&1
  fi
  exit 0
fi
# The MinGW runtime DLLs the test programs need (the shipping DLL links them statically).
export WINEPATH="$bindir"
exec "$wine" "$prog" "$@"
