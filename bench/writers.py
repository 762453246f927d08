#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""XmlWriter beside the writers Debian packages, each writing the same
document of ENTRIES * 2 + 2 elements in three namespaces to standard output
(/dev/null): CPU seconds (medians of alternating runs, ratios the medians of
the rounds' ratios), operator new calls per element, and peak RSS above the
same program writing an empty document. Before timing, every writer's output
of a smaller document is canonicalised by xmllint --c14n and must be the
same tree as XmlWriter's.

usage: writers.py BUILD_DIR [--elements 1000000] [--runs 5]
"""
import argparse
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import speed  # noqa: E402

WRITERS = ["XmlWriter", "libxml2", "xerces-dom", "tinyxml2", "pugixml", "qt5"]
STREAMING = {"libxml2", "tinyxml2", "qt5"}


def allocations(command):
    result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True, text=True)
    return int(result.stderr.split()[-1])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--elements", type=int, default=1000000)
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    peers = os.path.join(args.build, "bin", "writer_peers")
    entries = args.elements // 2
    present = [w for w in WRITERS
               if subprocess.run([peers, w, "0"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0]
    speed.PINNED_CPU = min(os.sched_getaffinity(0))

    xmllint = shutil.which("xmllint")
    if xmllint:
        def canonical(writer):
            out = subprocess.run([peers, writer, "1000"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                 check=True).stdout
            return subprocess.run([xmllint, "--c14n", "-"], input=out, stdout=subprocess.PIPE, check=True).stdout
        reference = canonical("XmlWriter")
        for writer in present:
            same = canonical(writer) == reference
            print("%-11s output: %s" % (writer, "the same tree as XmlWriter's (xmllint --c14n)" if same else
                                           "DIFFERENT TREE"))
            if not same:
                return 1

    tools = {w: [peers, w, str(entries)] for w in present}
    result = speed.alternate(tools, args.runs)
    empty = speed.alternate({w: [peers, w, "0"] for w in present}, 3)
    mine = result["XmlWriter"]
    print("%d elements, medians of %d alternating runs on one CPU:" % (entries * 2 + 2, args.runs))
    print("  %-11s %9s %15s %12s %14s" % ("writer", "CPU", "XmlWriter / it", "new/element", "peak RSS above"))
    for writer in present:
        r = result[writer]
        per_element = allocations([peers, writer, str(entries // 10)]) / (entries // 10 * 2 + 2)
        above = r.rss - empty[writer].rss
        print("  %-11s %8.3fs %15s %12.3f %11.1f MiB" % (
            writer, r.cpu, "" if writer == "XmlWriter" else "%.2f" % mine.ratio(r, speed.CPU), per_element, above))
    siblings = speed.alternate({"siblings": [peers, "XmlWriter-siblings", str(entries)]}, args.runs)["siblings"]
    per_element = allocations([peers, "XmlWriter-siblings", str(entries // 10)]) / (entries // 10 * 2 + 1)
    print("  %-11s %8.3fs %15s %12.3f %11.1f MiB   (%d siblings in a URI bound on no ancestor)" % (
        "XmlWriter", siblings.cpu, "", per_element, siblings.rss - empty["XmlWriter"].rss, entries * 2))
    fastest = min((result[w].cpu, w) for w in present if w in STREAMING)[1]
    print("XmlWriter time / fastest streaming peer's (%s): %.2f" % (fastest, mine.ratio(result[fastest], speed.CPU)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
