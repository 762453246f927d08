#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Compares the ABI of the built libraries with the baseline kept in abi/
# (libabigail's abidw/abidiff). The writers' private implementations
# (zaq::detail, abi/suppressions.abignore) may change freely; any other
# change, an addition included, fails: an intended one updates the baseline
# in the same commit. The build is the suite's (RelWithDebInfo, g++):
# usage: tools/abi-check.sh BUILD_DIR            (check)
#        tools/abi-check.sh BUILD_DIR --update   (write the baseline again)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
update=${2:-}
status=0
for library in libzaqservices libzaqprefixmgr; do
    object=$(readlink -f "$build/lib/$library.so")
    baseline=abi/$library.abi
    if [ "$update" = "--update" ]; then
        abidw --no-corpus-path --no-show-locs --no-comp-dir-path --out-file "$baseline" "$object"
        echo "abi-check: $baseline written from $object"
        continue
    fi
    report=$(mktemp)
    if abidiff --suppr abi/suppressions.abignore "$baseline" "$object" >"$report"; then
        echo "abi-check: $library matches $baseline"
    else
        echo "abi-check: $library differs from $baseline (update it with tools/abi-check.sh $build --update if the change is meant):" >&2
        cat "$report" >&2
        status=1
    fi
    rm -f "$report"
done
exit $status
