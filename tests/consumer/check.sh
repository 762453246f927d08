#!/usr/bin/env bash
# Installs a build into a temporary prefix, checks that the installed library
# exports every operation listed in exported-symbols.txt and nothing outside
# its three classes, and builds the consumer against it, once with CMake's
# find_package and once with pkg-config.
# usage: tests/consumer/check.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
libdir=$(find "$work/prefix" -name 'libzaqprefixmgr.so' -printf '%h\n' | head -n1)

export LC_ALL=C
nm -DC --defined-only "$libdir/libzaqprefixmgr.so" | cut -d' ' -f3- | sort >"$work/symbols"
missing=$(grep -v '^#' "$here/exported-symbols.txt" | sort | comm -23 - "$work/symbols")
if [ -n "$missing" ]; then
    printf 'install check: not exported by libzaqprefixmgr.so:\n%s\n' "$missing" >&2
    exit 1
fi
classes='(XMLPrefixManager|OrvXmlMemoryManager|OrvShared)'
stray=$(grep -Ev "^((typeinfo|typeinfo name|vtable) for )?$classes(::|\$)" "$work/symbols" || true)
if [ -n "$stray" ]; then
    printf 'install check: exported by libzaqprefixmgr.so outside its classes:\n%s\n' "$stray" >&2
    exit 1
fi

cmake -S "$here" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
LD_LIBRARY_PATH="$libdir" "$work/cmake/consumer"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
g++ -std=c++17 "$here/main.cpp" -o "$work/pc-consumer" $(pkg-config --cflags --libs zaqprefixmgr)
LD_LIBRARY_PATH="$libdir" "$work/pc-consumer"
echo "install check: $(grep -vc '^#' "$here/exported-symbols.txt") exported symbols present;" \
    "find_package and pkg-config consumers built and ran"
