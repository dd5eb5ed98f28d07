#!/usr/bin/env bash
# Installs a native build into a scratch prefix and builds small hosts against
# it: a C++ one and the C example (examples/c-host), each with
# find_package(StatRelay) and with pkg-config.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage/prefix" >/dev/null
cmake -S tests/consumer -B "$stage/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$stage/prefix" >/dev/null
cmake --build "$stage/consumer" >/dev/null
"$stage/consumer/consumer"
PKG_CONFIG_PATH="$stage/prefix/lib/pkgconfig" pkg-config --exists statrelay
c++ -std=c++20 tests/consumer/consumer.cc -o "$stage/pc-consumer" \
  -DSR_PACKAGE_VERSION="\"$(PKG_CONFIG_PATH="$stage/prefix/lib/pkgconfig" pkg-config --modversion statrelay)\"" \
  $(PKG_CONFIG_PATH="$stage/prefix/lib/pkgconfig" pkg-config --cflags --libs statrelay) \
  -Wl,-rpath,"$stage/prefix/lib"
"$stage/pc-consumer"
# The C host writes into a scratch system root (without consent: no files).
cmake -S examples/c-host -B "$stage/c-host" -G Ninja -DCMAKE_PREFIX_PATH="$stage/prefix" >/dev/null
cmake --build "$stage/c-host" >/dev/null
STATRELAY_ROOT="$stage/root" "$stage/c-host/c-host" >/dev/null
cc -std=c11 -Wall -Wextra -Werror examples/c-host/c_host.c -o "$stage/pc-c-host" \
  $(PKG_CONFIG_PATH="$stage/prefix/lib/pkgconfig" pkg-config --cflags --libs statrelay) -pthread \
  -Wl,-rpath,"$stage/prefix/lib"
STATRELAY_ROOT="$stage/root" "$stage/pc-c-host" >/dev/null
echo "install check: find_package and pkg-config hosts (C++ and C) build and run"
