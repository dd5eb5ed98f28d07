#!/usr/bin/env bash
# Checks a shipping DLL: it carries a version resource with the given version,
# holds no symbols or debugging sections, and its symbols are in DLL.debug,
# which it names in .gnu_debuglink.
#   check-shipping-dll.sh DLL VERSION OBJDUMP
set -euo pipefail
dll=$1
version=$2
objdump=$3
fail=0
headers=$("$objdump" -h "$dll")
grep -q '\.rsrc' <<< "$headers" || { echo "$dll: no resource section"; fail=1; }
# The resource strings are UTF-16: look for the version text with NULs between.
utf16=$(printf '%s' "$version" | sed 's/./&\\x00/g')
LC_ALL=C grep -qaP "V\x00S\x00_\x00V\x00E\x00R\x00S\x00I\x00O\x00N\x00_\x00I\x00N\x00F\x00O" "$dll" ||
  { echo "$dll: no version resource"; fail=1; }
LC_ALL=C grep -qaP "$utf16" "$dll" || { echo "$dll: version $version not in its version resource"; fail=1; }
if grep -q '\.debug_' <<< "$headers"; then echo "$dll: debugging sections left in"; fail=1; fi
if [ -n "$("$objdump" -t "$dll" | grep -E '^\[ *[0-9]+\]' | head -n 1)" ]; then echo "$dll: symbol table left in"; fail=1; fi
grep -q '\.gnu_debuglink' <<< "$headers" || { echo "$dll: no .gnu_debuglink"; fail=1; }
[ -f "$dll.debug" ] && "$objdump" -h "$dll.debug" | grep -q '\.debug_info' ||
  { echo "$dll.debug: missing or without symbols"; fail=1; }
exit $fail
