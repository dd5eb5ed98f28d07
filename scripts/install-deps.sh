#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail
need=()
for pkg in cmake ninja-build g++ googletest libgtest-dev libgmock-dev libbenchmark-dev libspdlog-dev \
           libsqlite3-dev clang clang-format llvm g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64 \
           binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 pkg-config ccache tzdata python3; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || need+=("$pkg")
done
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
# 32-bit Wine runs the tests of the i686 build (the shipping architecture).
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
  need+=(wine32:i386)
fi
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
fi
