#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs a build into a temporary prefix and builds the consumer against it,
# once with CMake's find_package and once with pkg-config.
# usage: tests/consumer/check.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
libdir=$(find "$work/prefix" -name 'libzaqprefixmgr.so' -printf '%h\n' | head -n1)

cmake -S "$here" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
LD_LIBRARY_PATH="$libdir" "$work/cmake/consumer"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
g++ -std=c++17 "$here/main.cpp" -o "$work/pc-consumer" $(pkg-config --cflags --libs zaqprefixmgr)
LD_LIBRARY_PATH="$libdir" "$work/pc-consumer"
echo "install check: find_package and pkg-config consumers built and ran"
