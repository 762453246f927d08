#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""XmlWriter where its cost used to grow with the square of a call or with
the length of a stream, beside libxml2's xmlTextWriter in the same run: CPU
seconds and peak RSS of one start tag of 10^5 attributes or declarations,
one text call of 256 MiB (peak above the argument's own memory), and 10^6
open levels (bytes per level). Output goes to /dev/null.

usage: writer_limits.py BUILD_DIR [--text-mib 256] [--depth 1000000] [--names 100000]"""
import argparse
import os
import subprocess
import sys


def measure(command):
    """CPU seconds and peak RSS (bytes) of one run."""
    with open(os.devnull, "wb") as sink:
        process = subprocess.Popen(command, stdout=sink)
        _, status, usage = os.wait4(process.pid, 0)
    if status != 0:
        raise SystemExit("%s failed" % " ".join(command))
    return usage.ru_utime + usage.ru_stime, usage.ru_maxrss * 1024


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--text-mib", type=int, default=256)
    parser.add_argument("--depth", type=int, default=1000000)
    parser.add_argument("--names", type=int, default=100000)
    args = parser.parse_args()
    program = os.path.join(args.build, "bin", "writer_limits")
    base = {w: measure([program, w, "depth", "0"])[1] for w in ("XmlWriter", "libxml2")}
    text_input = measure([program, "XmlWriter", "input", str(args.text_mib)])[1]
    print("%-44s %22s %22s" % ("case", "XmlWriter", "libxml2 xmlTextWriter"))
    for label, case, n in (("one start tag, %d attributes" % args.names, "attributes", args.names),
                           ("one start tag, %d declarations" % args.names, "declarations", args.names),
                           ("one text call of %d MiB" % args.text_mib, "text", args.text_mib),
                           ("%d open levels" % args.depth, "depth", args.depth)):
        cells = []
        for writer in ("XmlWriter", "libxml2"):
            cpu, rss = measure([program, writer, case, str(n)])
            if case == "text":
                extra = "+%.0f MiB peak" % ((rss - text_input) / 2 ** 20)
            elif case == "depth":
                extra = "%.0f B/level" % ((rss - base[writer]) / n)
            else:
                extra = "+%.1f MiB" % ((rss - base[writer]) / 2 ** 20)
            cells.append("%6.2fs %14s" % (cpu, extra))
        print("%-44s %22s %22s" % (label, cells[0], cells[1]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
