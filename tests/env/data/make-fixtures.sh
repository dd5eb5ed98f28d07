#!/usr/bin/env bash
# Rebuilds the PE fixtures of the version-resource tests from their .rc files
# with the MinGW-w64 resource compiler and linker: small resource-only DLLs.
# The damaged ones are version_basic64.dll with a few bytes changed (offsets of
# its resource section: file 0x800, directory entries below).
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
build() {  # build ARCH RC OUT
  "$1-w64-mingw32-windres" -i "$2" -o "$tmp/res.o"
  "$1-w64-mingw32-ld" --dll -e 0 -s -o "$3" "$tmp/res.o"
}
build i686 version_basic.rc version_basic32.dll
build x86_64 version_basic.rc version_basic64.dll
for f in version_long version_languages version_languages_other version_none; do
  build x86_64 "$f.rc" "$f.dll"
done
patch() {  # patch FILE OFFSET HEXBYTES
  printf "$(echo "$3" | sed 's/../\\x&/g')" | dd of="$1" bs=1 seek=$(($2)) conv=notrunc status=none
}
# Cut inside the version block.
head -c 2304 version_basic64.dll > version_truncated.dll
# The language entry's data lies far outside the file.
cp version_basic64.dll version_outside.dll
patch version_outside.dll 0x848 00ffff7f
# The name level points back at itself.
cp version_basic64.dll version_loop.dll
patch version_loop.dll 0x82c 18000080
