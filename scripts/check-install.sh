#!/usr/bin/env bash
# Installs a native build into a scratch prefix and builds two small hosts
# against it: one with find_package(StatRelay), one with pkg-config.
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
  $(PKG_CONFIG_PATH="$stage/prefix/lib/pkgconfig" pkg-config --cflags --libs statrelay) \
  -Wl,-rpath,"$stage/prefix/lib"
"$stage/pc-consumer"
echo "install check: find_package and pkg-config hosts build and run"
