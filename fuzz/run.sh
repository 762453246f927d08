#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Runs each fuzz target for a fixed time on a scratch copy of its seed corpus
# and prints how many inputs it executed.
# usage: fuzz/run.sh BUILD_DIR SECONDS
set -euo pipefail
build=${1:?usage: fuzz/run.sh BUILD_DIR SECONDS}
seconds=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in prefix_manager memory_manager xml_writer zaqxml; do
    binary="$build/bin/fuzz_$target"
    if [ ! -x "$binary" ]; then
        echo "fuzz_$target: not built (ZAQ_BUILD_FUZZ with clang)" >&2
        exit 1
    fi
    cp -r "$here/corpus/$target" "$work/$target"
    dict=()
    if [ -f "$here/$target.dict" ]; then dict=(-dict="$here/$target.dict"); fi
    "$binary" -max_total_time="$seconds" "${dict[@]}" -print_final_stats=1 \
        "$work/$target" >"$work/$target.log" 2>&1 || {
        tail -n 40 "$work/$target.log"
        echo "fuzz_$target: FAILED" >&2
        exit 1
    }
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log")
    echo "fuzz_$target: ${runs:-?} inputs in ${seconds} s ($((${runs:-0} * 60 / seconds)) per minute), no failure"
done
