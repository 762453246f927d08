#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Sets up, builds and runs zaqprefixmgr on a Debian machine.
#
#   tools/build.sh run     build and run zaqxml on its bundled sample
#   tools/build.sh test    build and run the test suite
#   tools/build.sh bench   build the benchmarks and print their figures
#   tools/build.sh docs    build the API reference (build/docs/html)
#   tools/build.sh abi     compare the ABI of the libraries in build/ (from
#                          `test`) with the baseline in abi/ (abidiff)
#   tools/build.sh package build the Debian packages, install them, build the
#                          consumer and examples against /usr, remove them
#   tools/build.sh test32  build and run the test suite as 32-bit x86 Linux
#                          (natively, or under qemu-i386 where the kernel
#                          refuses 32-bit programs)
#   tools/build.sh test-windows
#                          cross-build the 32-bit Windows DLLs and test suite
#                          (mingw-w64), check the DLLs' exports and run the
#                          suite under Wine; where the kernel refuses 32-bit
#                          programs, which Wine itself is, everything but the
#                          run, then exit 78 (built, not run)
#   tools/build.sh kernel-i386
#                          say whether the kernel runs 32-bit x86 programs
#                          (exit 0) or refuses them (exit 1)
#   tools/build.sh deps [--all]
#                          install the Debian packages a build needs
#                          (--all: also those of benchmarks, fuzzing, docs,
#                          packaging and CI)
#
# Extra CMake arguments can be passed in ZAQ_CMAKE_ARGS. ZAQ_KERNEL_I386=yes
# or no overrides the kernel check, to try the other case's path.
set -euo pipefail
cd "$(dirname "$0")/.."

# docbook5-xml: the DocBook 5 XSD of the validation corpus; strace: the check
# that a batch reads its schemas once.
BASE_PACKAGES=(cmake ninja-build g++ pkg-config python3 acl libxerces-c-dev libxml2-dev libexpat1-dev libssl-dev
    libgtest-dev libgmock-dev docbook5-xml strace)
I386_PACKAGES=(g++-multilib libxerces-c-dev:i386 libxml2-dev:i386 libexpat1-dev:i386 libssl-dev:i386 libgtest-dev:i386)
WINDOWS_BUILD_PACKAGES=(g++-mingw-w64-i686 binutils-mingw-w64-i686 dpkg-dev googletest)
WINDOWS_PACKAGES=("${WINDOWS_BUILD_PACKAGES[@]}" wine wine32:i386)
EXTRA_PACKAGES=(clang clang-format libclang-rt-14-dev libbenchmark-dev libxalan-c-dev libmimalloc-dev libtinyxml2-dev libpugixml-dev libxml2-utils valgrind)
DOCS_PACKAGES=(doxygen)
ABI_PACKAGES=(abigail-tools)
PACKAGING_PACKAGES=(debhelper dpkg-dev lintian doxygen)

install_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}" >&2
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    local apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600)
    # A mirror caught mid-sync fails one index; the install below still works
    # when what it needs is in the others, and says so clearly when not.
    "${apt[@]}" update -qq || echo "warning: apt-get update failed for some index; installing from those it has" >&2
    # Multi-Arch: same packages need one version on both architectures. Where
    # the i386 index lags the native one (a security index out of sync), pin
    # each such dependency, on both, to the version i386 has.
    local pins=() plan native
    native=$(dpkg --print-architecture)
    for _ in 1 2 3 4 5; do
        plan=$("${apt[@]}" install -s --allow-downgrades --no-install-recommends "${missing[@]}" "${pins[@]}" 2>&1) && break
        mapfile -t skewed < <(grep -oE 'Depends: [^ ]+:i386' <<<"$plan" | sed 's/^Depends: //; s/:i386$//' | sort -u)
        [ ${#skewed[@]} -gt 0 ] || break
        echo "Pinning to the versions the i386 index has: ${skewed[*]}" >&2
        for package in "${skewed[@]}"; do
            version=$(apt-cache policy "$package:i386" | sed -n 's/^  Candidate: //p')
            pins+=("$package:$native=$version" "$package:i386=$version")
        done
    done
    "${apt[@]}" install -y -qq --no-install-recommends ${pins[0]:+--allow-downgrades} "${missing[@]}" "${pins[@]}" >&2
}

# The i386 packages (and wine32) need the architecture enabled first.
enable_i386() {
    dpkg --print-foreign-architectures | grep -qx i386 && return 0
    echo "Enabling the i386 architecture" >&2
    if [ "$(id -u)" -eq 0 ]; then dpkg --add-architecture i386; else sudo dpkg --add-architecture i386; fi
}

# A minimal static i386 Linux program (ELF header, one program header, and
# `mov eax,1; xor ebx,ebx; int 0x80`: exit(0)). Kernels built without IA-32
# emulation, or booted with it off, refuse it with "Exec format error".
I386_PROBE=7f454c4601010100000000000000000002000300010000005480040834000000000000000000000034002000010000000000000001000000000000000080040800800408
I386_PROBE+=5d0000005d0000000500000000100000b80100000031dbcd80

kernel_runs_i386() {
    case "${ZAQ_KERNEL_I386:-}" in
    yes) return 0 ;;
    no) return 1 ;;
    "") ;;
    *)
        echo "ZAQ_KERNEL_I386 must be yes or no" >&2
        exit 1
        ;;
    esac
    # Written where the builds run programs: /tmp may be mounted noexec.
    mkdir -p build-probe
    local probe=build-probe/i386-exit0
    printf "$(sed 's/../\\x&/g' <<<"$I386_PROBE")" >"$probe"
    chmod +x "$probe"
    "$probe" 2>/dev/null
}

i386_case() {
    if kernel_runs_i386; then
        echo "kernel: runs 32-bit x86 programs natively${ZAQ_KERNEL_I386:+ (forced by ZAQ_KERNEL_I386)}" >&2
        return 0
    fi
    echo "kernel: refuses 32-bit x86 programs${ZAQ_KERNEL_I386:+ (forced by ZAQ_KERNEL_I386)}" >&2
    return 1
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
    if [ "${2:-}" = "--all" ]; then
        install_packages "${EXTRA_PACKAGES[@]}" "${DOCS_PACKAGES[@]}" "${PACKAGING_PACKAGES[@]}" "${ABI_PACKAGES[@]}"
    fi
    ;;
run)
    install_packages "${BASE_PACKAGES[@]}"
    configure build
    cmake --build build -j2 --target zaqxml >&2
    build/bin/zaqxml --sample
    ;;
test)
    install_packages "${BASE_PACKAGES[@]}"
    configure build
    cmake --build build -j2
    ctest --test-dir build --output-on-failure -j2
    ;;
kernel-i386)
    i386_case
    ;;
test32)
    enable_i386
    install_packages "${BASE_PACKAGES[@]}" "${I386_PACKAGES[@]}"
    if i386_case; then
        dir=build-i386 how="natively"
        configure $dir -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i386-linux.cmake
    else
        # The same suite through the emulator: slower, but every test runs.
        install_packages qemu-user
        dir=build-i386-qemu how="under qemu-i386 (emulated)"
        configure $dir -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i386-linux.cmake \
            -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/bin/qemu-i386
    fi
    cmake --build $dir -j2
    ctest --test-dir $dir --output-on-failure -j2
    echo "32-bit x86 Linux suite: passed, run $how" >&2
    ;;
test-windows)
    # Wine is itself a 32-bit x86 program: where the kernel refuses those,
    # the DLLs, the suite and the examples are still cross-built and the
    # DLLs' exports checked; only the run is left out (exit 78).
    runs=yes
    i386_case 2>/dev/null || runs=no
    if [ $runs = yes ]; then
        enable_i386
        install_packages cmake ninja-build "${WINDOWS_PACKAGES[@]}"
    else
        install_packages cmake ninja-build "${WINDOWS_BUILD_PACKAGES[@]}"
    fi
    prefix=$(tools/mingw-deps.sh)
    # Without the tool: zaqxml and its tests are written for POSIX.
    configure build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake \
        -DZAQ_MINGW_PREFIX="$prefix" -DZAQ_BUILD_TOOLS=OFF
    cmake --build build-windows -j2
    tests/consumer/check-dll-exports.sh build-windows
    if [ $runs = no ]; then
        echo "built and exports checked, not run: Wine is itself a 32-bit x86 program and this kernel refuses" \
            "those; running it needs a kernel with 32-bit support (IA-32 emulation)" >&2
        exit 78
    fi
    # The programs find their DLLs beside them: Xerces-C and the compiler's runtime.
    for dll in libstdc++-6.dll libgcc_s_dw2-1.dll libwinpthread-1.dll; do
        cp -u "$(i686-w64-mingw32-g++-posix -print-file-name=$dll)" build-windows/bin/
    done
    cp -u "$prefix"/bin/*.dll build-windows/bin/
    export WINEPREFIX=${ZAQ_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/zaqprefixmgr}/wine-i686
    # Quiet, and no offer to install Mono or Gecko when the prefix is made.
    export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
    ctest --test-dir build-windows --output-on-failure -j2
    ;;
bench)
    install_packages "${BASE_PACKAGES[@]}" "${EXTRA_PACKAGES[@]}"
    cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZAQ_BUILD_BENCH=ON -DBUILD_TESTING=OFF \
        ${ZAQ_CMAKE_ARGS:-} >/dev/null
    cmake --build build-bench -j2
    bench/run.sh build-bench
    ;;
abi)
    install_packages "${ABI_PACKAGES[@]}"
    tools/abi-check.sh build
    ;;
docs)
    install_packages "${BASE_PACKAGES[@]}" "${DOCS_PACKAGES[@]}"
    configure build
    cmake --build build --target docs
    echo "API reference: build/docs/html/index.html" >&2
    ;;
package)
    install_packages "${BASE_PACKAGES[@]}" "${PACKAGING_PACKAGES[@]}"
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    # dpkg-buildpackage writes beside the source tree: build a copy.
    mkdir "$work/src"
    tar --exclude='./build*' --exclude=./.git --exclude=./.cache --exclude='./obj-*' --exclude-vcs-ignores -cf - . |
        tar -C "$work/src" -xf -
    # The suite runs in `test`; here the packaging is checked.
    (cd "$work/src" && DEB_BUILD_OPTIONS="nocheck parallel=2" nice -n 10 dpkg-buildpackage -us -uc -b)
    lintian --fail-on error --display-info "$work"/*.changes
    installed() { dpkg-query -W -f='${db:Status-Abbrev}${Package}\n' | sed -n 's/^ii *//p' | sort; }
    installed >"$work/before"
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq "$work"/{libzaqprefixmgr2,libzaqprefixmgr-dev,libzaqprefixmgr-doc,zaqxml}_*.deb >&2
    installed >"$work/after"
    status=0
    tests/consumer/check.sh --installed /usr || status=$?
    doc=/usr/share/doc/libzaqprefixmgr-dev # where debhelper puts the -doc package's files
    if [ ! -s $doc/html/index.html ] || [ ! -s $doc/examples/write_document.cpp ]; then
        echo "packages: libzaqprefixmgr-doc lacks the API reference or the examples" >&2
        status=1
    fi
    # Remove the packages and whatever they brought, leaving the machine as it was.
    mapfile -t added < <(comm -13 "$work/before" "$work/after")
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 purge -y -qq "${added[@]}" >&2
    [ $status -eq 0 ] && echo "packages: built, lintian without errors, installed, used (the -doc one read) and removed" >&2
    exit $status
    ;;
*)
    sed -n '3,29p' "$0" | sed 's/^# \{0,1\}//'
    exit 1
    ;;
esac
