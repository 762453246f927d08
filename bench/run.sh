#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Prints every benchmark figure of the README from one build.
# usage: bench/run.sh BUILD_DIR [--quick]
set -euo pipefail
build=${1:?usage: bench/run.sh BUILD_DIR [--quick]}
quick=${2:-}
bin="$build/bin"
here=$(cd "$(dirname "$0")" && pwd)

echo "== OrvWstring beside std::u16string"
"$bin/bench_string" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2>/dev/null | grep -E '_median|^Benchmark'

echo
echo "== XMLPrefixManager beside Xalan-C XalanNamespacesStack"
"$bin/bench_prefix" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>/dev/null |
    grep -E '^(workload|answers|allocations|Benchmark)|_median'

echo
echo "== XmlWriter beside libxml2 xmlTextWriter, Xerces-C DOMLSSerializer, tinyxml2, pugixml"
echo "   (allocations count operator new only: libxml2 calls malloc, which is not counted)"
"$bin/bench_writer" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>/dev/null |
    grep -E '^Benchmark|_median'

echo
echo "== Whole documents: XmlWriter beside the peers (time, allocations, peak memory, same tree)"
python3 "$here/writers.py" "$build" ${quick:+--elements 100000 --runs 3}

echo
echo "== XmlWriter at the sizes that used to cost squares or grow with the stream, beside libxml2"
python3 "$here/writer_limits.py" "$build" ${quick:+--text-mib 32 --depth 100000 --names 20000}

echo
echo "== Canonical XML beside xmllint (time, memory, bytes, digest)"
python3 "$here/c14n.py" "$build" ${quick:+--sizes 10 --runs 1 --large 0}

echo
echo "== OrvXmlMemoryManager beside glibc, Xerces-C default, std::pmr pool, mimalloc"
"$bin/bench_memory" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2>/dev/null |
    grep -vE '^(\*\*\*|Load|CPU|  L[123]|Run|20[0-9][0-9]-|-{10})' | grep -vE '_(mean|stddev|cv)\b'

if command -v valgrind >/dev/null; then
    echo
    echo "== Instructions per parse (callgrind, deterministic): pooled manager / default manager"
    instructions() { # kind manager count
        valgrind --tool=callgrind --callgrind-out-file=/dev/null "$bin/bench_memory" --only "$1" "$2" "$3" 2>&1 |
            sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
    }
    for spec in small-sax:200 small-dom:200 large-sax:2 large-dom:2; do
        kind=${spec%:*}
        count=${spec#*:}
        base=$(instructions "$kind" orv 0)
        orv=$(($(instructions "$kind" orv "$count") - base))
        def=$(($(instructions "$kind" default "$count") - base))
        awk -v k="$kind" -v o="$orv" -v d="$def" -v n="$count" \
            'BEGIN { printf "  %-10s %12.0f vs %12.0f instructions per parse: ratio %.3f\n", k, o / n, d / n, o / d }'
    done
fi

echo
echo "== zaqxml beside a bare SAX2 parse and xmllint; pooled beside default manager, whole parses"
if [ "$quick" = "--quick" ]; then
    python3 "$here/speed.py" "$build" --sizes 10 --runs 3
else
    python3 "$here/speed.py" "$build"
fi

echo
echo "== zaqxml throughput and memory"
if [ "$quick" = "--quick" ]; then
    python3 "$here/throughput.py" "$build" --sizes 10 --stream-mb 64
else
    python3 "$here/throughput.py" "$build" --sizes 10,200 --stream-mb 1024
fi
