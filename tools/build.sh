#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Sets up, builds and runs zaqprefixmgr on a Debian machine.
#
#   tools/build.sh run     build and run zaqxml on its bundled sample
#   tools/build.sh test    build and run the test suite
#   tools/build.sh bench   build the benchmarks and print their figures
#   tools/build.sh deps [--all]
#                          install the Debian packages a build needs
#                          (--all: also those of benchmarks, fuzzing and CI)
#
# Extra CMake arguments can be passed in ZAQ_CMAKE_ARGS.
set -euo pipefail
cd "$(dirname "$0")/.."

BASE_PACKAGES=(cmake ninja-build g++ pkg-config python3 libxerces-c-dev libgtest-dev libgmock-dev)
EXTRA_PACKAGES=(clang clang-format libclang-rt-14-dev libbenchmark-dev libxalan-c-dev libmimalloc-dev libxml2-utils valgrind)

install_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}" >&2
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

configure() { # build-dir, extra cmake arguments...
    local dir=$1
    shift
    # RelWithDebInfo without NDEBUG: optimised, with the assertions live.
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g" \
        "$@" ${ZAQ_CMAKE_ARGS:-} >/dev/null
}

case "${1:-}" in
deps)
    install_packages "${BASE_PACKAGES[@]}"
    if [ "${2:-}" = "--all" ]; then install_packages "${EXTRA_PACKAGES[@]}"; fi
    ;;
run)
    install_packages "${BASE_PACKAGES[@]}"
    configure build
    cmake --build build -j2 --target zaqxml >&2
    build/bin/zaqxml
    ;;
test)
    install_packages "${BASE_PACKAGES[@]}"
    configure build
    cmake --build build -j2
    ctest --test-dir build --output-on-failure -j2
    ;;
bench)
    install_packages "${BASE_PACKAGES[@]}" "${EXTRA_PACKAGES[@]}"
    cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZAQ_BUILD_BENCH=ON -DBUILD_TESTING=OFF \
        ${ZAQ_CMAKE_ARGS:-} >/dev/null
    cmake --build build-bench -j2
    bench/run.sh build-bench
    ;;
*)
    sed -n '3,14p' "$0" | sed 's/^# \{0,1\}//'
    exit 1
    ;;
esac
