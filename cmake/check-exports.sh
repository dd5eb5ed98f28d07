#!/usr/bin/env bash
# Checks the export table of the shipping library.
#   check-exports.sh linux  libstatrelay.so
#   check-exports.sh win    statrelay.dll  OBJDUMP
# Linux: the C functions (the thirteen, SR_CreateParam and SR_DestroyParam) by
# their plain names, the ParamBase/CPCFParam classes, and nothing else of ours.
# Windows: the same functions' undecorated names are in the export table, and
# the DLL imports nothing but system DLLs and log.dll.
# Both: no test hook (a ...ForTest symbol) is compiled into the library.
set -euo pipefail
kind=$1
lib=$2
expected="ReportNow SR_CreateParam SR_DestroyParam SR_ReportValueEx SR_SS SR_SW SR_W SR_WS SR_WW Start Stop UploadAllNowAsync UploadAllNowSync UploadAllNowSyncRetry UploadFile"
fail=0
if [ "$kind" = linux ]; then
  syms=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBVWRu]$/ {print $3}')
  for f in $expected; do
    grep -qx "$f" <<< "$syms" || { echo "missing export: $f"; fail=1; }
  done
  # Everything else defined and exported must belong to the parameter block classes.
  others=$(echo "$syms" | grep -vx -E "$(echo $expected | tr ' ' '|')" || true)
  while read -r s; do
    [ -z "$s" ] && continue
    case "$(echo "$s" | c++filt)" in
      ParamBase::*|CPCFParam::*|"typeinfo for ParamBase"|"typeinfo for CPCFParam"|"typeinfo name for ParamBase"|"typeinfo name for CPCFParam"|"vtable for ParamBase"|"vtable for CPCFParam") ;;
      _init|_fini|_edata|_end|__bss_start) ;;
      *) echo "unexpected export: $s ($(echo "$s" | c++filt))"; fail=1 ;;
    esac
  done <<< "$others"
  # C linkage: the plain names above are unmangled by construction.
  hooks=$(nm -C "$lib" 2>/dev/null | grep ForTest || true)
else
  objdump=${3:-objdump}
  table=$("$objdump" -p "$lib")
  names=$(echo "$table" | awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && /^\t\[/ {print $NF} on && /^$/ {on=0}')
  for f in $expected; do
    grep -qx "$f" <<< "$names" || { echo "missing undecorated export: $f"; fail=1; }
  done
  grep -E '^_?(Start|Stop|SR_|Upload|ReportNow).*@[0-9]+$' <<< "$names" && { echo "decorated export names"; fail=1; }
  dlls=$(echo "$table" | awk '/DLL Name:/ {print tolower($3)}')
  for d in $dlls; do
    case "$d" in
      log.dll|kernel32.dll|user32.dll|advapi32.dll|shell32.dll|shlwapi.dll|ole32.dll|iphlpapi.dll|version.dll|msvcrt.dll|api-ms-win-*) ;;
      *) echo "unexpected DLL dependency: $d"; fail=1 ;;
    esac
  done
  hooks=$("$objdump" -t "$lib" 2>/dev/null | grep ForTest || true)
fi
if [ -n "$hooks" ]; then
  echo "test hooks in the shipping library:"; echo "$hooks"; fail=1
fi
if [ $fail = 0 ]; then echo "exports of $(basename "$lib"): ok"; fi
exit $fail
