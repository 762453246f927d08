#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs a build into a temporary prefix and checks what an adopter uses,
# all without LD_LIBRARY_PATH: that the library exports every operation listed
# in exported-symbols.txt and nothing outside its public classes, the installed
# zaqxml (also after the prefix is moved), its man page and bash completion, a
# consumer built with CMake's find_package and with pkg-config, and the
# examples built against it (the writer's without any Xerces-C header), their
# output read back by xmllint and expat.
# usage: tests/consumer/check.sh BUILD_DIR
#        tests/consumer/check.sh --installed PREFIX   (an existing install, e.g. /usr from the packages)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ "$1" = "--installed" ]; then
    prefix=$2
    libdir=$(dirname "$(find "$prefix"/lib* -maxdepth 2 -name 'libzaqprefixmgr.so' | head -n1)")
else
    build=$(cd "$1" && pwd)
    cmake --install "$build" --prefix "$work/installed" >/dev/null
    # A relocatable install runs wherever it is moved.
    mv "$work/installed" "$work/prefix"
    prefix=$work/prefix
    libdir=$(find "$prefix" -name 'libzaqprefixmgr.so' -printf '%h\n' | head -n1)
fi
unset LD_LIBRARY_PATH

export LC_ALL=C
nm -DC --defined-only "$libdir/libzaqprefixmgr.so" | cut -d' ' -f3- | sort >"$work/symbols"
missing=$(grep -v '^#' "$here/exported-symbols.txt" | sort | comm -23 - "$work/symbols")
if [ -n "$missing" ]; then
    printf 'install check: not exported by libzaqprefixmgr.so:\n%s\n' "$missing" >&2
    exit 1
fi
classes='(XMLPrefixManager|OrvXmlMemoryManager|OrvShared|zaq::(XmlCountingMemoryManager|XmlWriter|XmlWriterError|XmlCanonicalWriter|Xml[A-Za-z]*Sink))'
stray=$(grep -Ev "^((typeinfo|typeinfo name|vtable) for )?$classes(::|\$)" "$work/symbols" || true)
if [ -n "$stray" ]; then
    printf 'install check: exported by libzaqprefixmgr.so outside its classes:\n%s\n' "$stray" >&2
    exit 1
fi

"$prefix/bin/zaqxml" --version
printf '<a:r xmlns:a="urn:a"><b xmlns="urn:b"/></a:r>' | "$prefix/bin/zaqxml" - | grep -q 'xmlns:a="urn:a"'

test -s "$prefix/share/man/man1/zaqxml.1" || test -s "$prefix/share/man/man1/zaqxml.1.gz"
# shellcheck disable=SC1091
source "$prefix/share/bash-completion/completions/zaqxml"
COMP_WORDS=(zaqxml --pr)
COMP_CWORD=1
_zaqxml
[ "${COMPREPLY[*]}" = "--prefer --prune" ]

cmake -S "$here" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
"$work/cmake/consumer"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
# The public headers compile clean under strict warnings.
g++ -std=c++17 -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Werror "$here/main.cpp" \
    -o "$work/pc-consumer" $(pkg-config --cflags --libs zaqprefixmgr) -Wl,-rpath,"$libdir"
"$work/pc-consumer"

cmake -S "$source_dir/examples" -B "$work/examples" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/examples" >/dev/null
"$work/examples/write_document" >/dev/null
"$work/examples/parse_statistics" "$source_dir/examples/orders.xml" >/dev/null
python3 "$source_dir/tests/examples_peer.py" "$work/examples/soap_fault" "$work/examples/atom_feed" \
    "$work/examples/xml_schema"
# The writer's examples need no Xerces-C header: built with the install's
# include directory alone, nothing from xercesc/ is read.
for example in soap_fault atom_feed xml_schema; do
    g++ -std=c++17 -Wall -Wextra -Werror -H -I"$prefix/include" "$source_dir/examples/$example.cpp" \
        -o "$work/$example" -L"$libdir" -lzaqprefixmgr -lzaqservices -Wl,-rpath,"$libdir" 2>"$work/$example.headers"
    if grep -q 'xercesc/' "$work/$example.headers"; then
        printf 'install check: %s includes a Xerces-C header:\n' "$example" >&2
        grep 'xercesc/' "$work/$example.headers" >&2
        exit 1
    fi
    "$work/$example" >/dev/null
done
echo "install check: $(grep -vc '^#' "$here/exported-symbols.txt") exported symbols present;" \
    "zaqxml, find_package and pkg-config consumers and the examples built and ran"
