#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Cross-builds, once, what the 32-bit Windows build links against: Xerces-C
# 3.2 from Debian's own source package (with its CMake build) and GoogleTest
# from Debian's googletest sources in /usr/src/googletest. Both are built
# with mingw-w64 (i686, POSIX threads) and installed into a cache folder
# outside the source tree; a later run finds them there and builds nothing.
#
#   tools/mingw-deps.sh [PREFIX]   builds into PREFIX (default: see below)
#                                  and prints PREFIX on stdout
#
# The default PREFIX is $ZAQ_CACHE_DIR/i686-w64-mingw32, with ZAQ_CACHE_DIR
# defaulting to ~/.cache/zaqprefixmgr. The packages it needs are installed by
# `tools/build.sh test-windows`, which calls this script.
set -euo pipefail
cd "$(dirname "$0")/.."
SOURCE_DIR=$PWD
CACHE_DIR=${ZAQ_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/zaqprefixmgr}
PREFIX=${1:-$CACHE_DIR/i686-w64-mingw32}
TOOLCHAIN=$SOURCE_DIR/cmake/toolchain-i686-w64-mingw32.cmake
JOBS=${ZAQ_JOBS:-2}

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

# apt-get source needs deb-src entries for the archive the binaries come from:
# the deb entries of the Debian sources, repeated as deb-src.
enable_deb_src() {
    apt-cache showsrc xerces-c 2>/dev/null | grep -q '^Package: xerces-c' && return 0
    local list=/etc/apt/sources.list.d/zaqprefixmgr-deb-src
    echo "Enabling deb-src entries for the Debian archive ($list.*)" >&2
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed -n -e 's/^Types:.*/Types: deb-src/' -e 'p' /etc/apt/sources.list.d/debian.sources |
            "${sudo[@]}" tee "$list.sources" >/dev/null
    fi
    if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list; then
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | "${sudo[@]}" tee "$list.list" >/dev/null
    fi
    "${sudo[@]}" apt-get update -qq
}

build_xerces() {
    [ -f "$PREFIX/.xerces-c.done" ] && return 0
    enable_deb_src
    local work=$CACHE_DIR/work
    rm -rf "$work/xerces-c"
    mkdir -p "$work/xerces-c"
    (cd "$work/xerces-c" && apt-get source -qq xerces-c >&2)
    local src
    src=$(find "$work/xerces-c" -mindepth 1 -maxdepth 1 -type d -name 'xerces-c-*' | head -n 1)
    [ -f "$src/CMakeLists.txt" ] || { echo "no Xerces-C source in $work/xerces-c" >&2; exit 1; }
    # XMLCh as char16_t, as on Linux, so that the same code compiles on
    # both; no network access and the messages built in, as the project needs.
    cmake -S "$src" -B "$work/xerces-c/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_SHARED_LIBS=ON \
        -Dnetwork=OFF -Dtranscoder=windows -Dmessage-loader=inmemory -Dxmlch-type=char16_t \
        -Dmutexmgr=windows >&2
    nice -n 15 cmake --build "$work/xerces-c/build" -j"$JOBS" --target xerces-c >&2
    # Only the library was built, so only src/ is installed (the samples'
    # install rules would want the samples), every component of it.
    for component in Unspecified runtime development; do
        cmake -DCMAKE_INSTALL_COMPONENT=$component -P "$work/xerces-c/build/src/cmake_install.cmake" >&2
    done
    rm -rf "$work/xerces-c"
    touch "$PREFIX/.xerces-c.done"
}

build_gtest() {
    [ -f "$PREFIX/.googletest.done" ] && return 0
    local build=$CACHE_DIR/work/googletest
    rm -rf "$build"
    cmake -S /usr/src/googletest -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_GMOCK=OFF >&2
    nice -n 15 cmake --build "$build" -j"$JOBS" >&2
    cmake --install "$build" >&2
    rm -rf "$build"
    touch "$PREFIX/.googletest.done"
}

mkdir -p "$PREFIX"
build_xerces
build_gtest
echo "$PREFIX"
