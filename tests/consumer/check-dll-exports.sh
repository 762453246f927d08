#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The 32-bit Windows DLLs export what the Linux libraries export, read with
# objdump, so that the check runs where nothing can run the DLLs:
# zaqprefixmgr.dll every operation of exported-symbols.txt (by qualified
# name: parameter types such as size_t differ between the two ABIs) and
# nothing outside the public classes; zaqservices.dll its Orv classes only.
#
#   tests/consumer/check-dll-exports.sh BUILD_DIR   (the folder of the DLLs is BUILD_DIR/bin)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$1/bin
objdump=${ZAQ_OBJDUMP:-i686-w64-mingw32-objdump}
export LC_ALL=C

# The names in a DLL's export table, demangled.
exports() {
    "$objdump" -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' | c++filt
}
# Qualified names of operations, without their parameter lists (the
# typeinfo names are not exported from a DLL: they are merged by name).
names() { grep -Ev '^(typeinfo|typeinfo name|vtable) for ' | sed 's/(.*//' | sort -u; }

for dll in zaqprefixmgr.dll zaqservices.dll; do
    if [ ! -s "$bin/$dll" ]; then
        echo "DLL exports: $bin/$dll was not built" >&2
        exit 1
    fi
done
exports "$bin/zaqprefixmgr.dll" | sort -u >"$bin/zaqprefixmgr.exports"
missing=$(grep -v '^#' "$here/exported-symbols.txt" | names | comm -23 - <(names <"$bin/zaqprefixmgr.exports"))
if [ -n "$missing" ]; then
    printf 'DLL exports: not exported by zaqprefixmgr.dll:\n%s\n' "$missing" >&2
    exit 1
fi
classes=$(sed -n "s/^classes='\(.*\)'$/\1/p" "$here/check.sh")
stray=$(grep -Ev "^((typeinfo|typeinfo name|vtable) for )?$classes(::|\$)" "$bin/zaqprefixmgr.exports" || true)
if [ -n "$stray" ]; then
    printf 'DLL exports: exported by zaqprefixmgr.dll outside its classes:\n%s\n' "$stray" >&2
    exit 1
fi
exports "$bin/zaqservices.dll" | sort -u >"$bin/zaqservices.exports"
stray=$(grep -v 'Orv' "$bin/zaqservices.exports" || true)
if [ -n "$stray" ] || [ ! -s "$bin/zaqservices.exports" ]; then
    printf 'DLL exports: zaqservices.dll exports nothing, or outside its Orv classes:\n%s\n' "$stray" >&2
    exit 1
fi
echo "DLL exports: zaqprefixmgr.dll $(wc -l <"$bin/zaqprefixmgr.exports") names, all" \
    "$(grep -v '^#' "$here/exported-symbols.txt" | names | wc -l) operations of the Linux library among them;" \
    "zaqservices.dll $(wc -l <"$bin/zaqservices.exports") names, all of its Orv classes"
