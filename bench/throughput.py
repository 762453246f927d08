#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Throughput of zaqxml beside xmllint --output and Xerces-C's DOM route, on
generated namespaced documents, and zaqxml's peak memory on a large document
streamed through standard input.

usage: throughput.py BUILD_DIR [--sizes 10,200] [--stream-mb 1024]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

RECORD = (
    '  <o:order id="{n}" x:flag="y" xml:lang="en"><!-- order {n} -->\n'
    '    <line qty="3" a:rel="item">widget &amp; co {n}</line>\n'
    '    <a:title type="text">Title &lt;{n}&gt;</a:title>\n'
    '    <x:ext xmlns:x="urn:example:ext:v2" x:v="2"><note xmlns="">plain</note></x:ext>\n'
    '  </o:order>\n'
)
HEAD = ('<?xml version="1.0" encoding="UTF-8"?>\n'
        '<o:orders xmlns:o="urn:example:orders" xmlns="urn:example:default" '
        'xmlns:a="http://www.w3.org/2005/Atom" xmlns:x="urn:example:ext">\n')
TAIL = '</o:orders>\n'


def chunk(records, start):
    return "".join(RECORD.format(n=start + i) for i in range(records)).encode()


def generate(path, megabytes):
    target = megabytes * 1024 * 1024
    with open(path, "wb") as f:
        f.write(HEAD.encode())
        written, n = 0, 0
        while written < target:
            data = chunk(2000, n)
            n += 2000
            f.write(data)
            written += len(data)
        f.write(TAIL.encode())
    return os.path.getsize(path)


def run(command, stdin=None):
    """Runs a command; returns (seconds, peak RSS in MiB, exit status)."""
    start = time.perf_counter()
    process = subprocess.Popen(command, stdin=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if stdin is None:
        _, status, usage = os.wait4(process.pid, 0)
    else:
        _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        sys.stderr.write(process.stderr.read().decode(errors="replace")[-2000:])
    return elapsed, usage.ru_maxrss / 1024.0, process.returncode


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--sizes", default="10,200")
    parser.add_argument("--stream-mb", type=int, default=1024)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    zaqxml = os.path.join(args.build, "bin", "zaqxml")
    dom = os.path.join(args.build, "bin", "xerces_dom_roundtrip")
    xmllint = shutil.which("xmllint")
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.xml")
        for size in [int(s) for s in args.sizes.split(",")]:
            path = os.path.join(tmp, "doc%d.xml" % size)
            nbytes = generate(path, size)
            mb = nbytes / 1e6
            tools = [("zaqxml", [zaqxml, "-o", out, path])]
            if xmllint:
                tools.append(("xmllint --output", [xmllint, "--output", out, path]))
            tools.append(("Xerces DOM + normalize + LSSerializer", [dom, path, out]))
            print("document of %.1f MB:" % mb)
            results = {}
            for name, command in tools:
                best, rss = None, 0.0
                for _ in range(args.repeat if size <= 50 else 1):
                    seconds, peak, status = run(command)
                    if status != 0:
                        print("  %-40s failed (exit %d)" % (name, status))
                        break
                    best = seconds if best is None else min(best, seconds)
                    rss = max(rss, peak)
                if best is not None:
                    results[name] = best
                    print("  %-40s %8.1f MB/s  %7.2f s  peak RSS %7.1f MiB" % (name, mb / best, best, rss))
            if "zaqxml" in results:
                for name, seconds in results.items():
                    if name != "zaqxml":
                        print("  zaqxml is %.2fx the speed of %s" % (seconds / results["zaqxml"], name))
            os.remove(path)
        if args.stream_mb:
            # Streamed through a pipe, never stored: memory must stay flat.
            print("document of %d MiB generated on the fly into zaqxml's standard input:" % args.stream_mb)
            start = time.perf_counter()
            process = subprocess.Popen([zaqxml, "-"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.PIPE)
            target = args.stream_mb * 1024 * 1024
            process.stdin.write(HEAD.encode())
            written, n = 0, 0
            block = chunk(2000, 0)
            while written < target:
                process.stdin.write(block)
                written += len(block)
                n += 2000
            process.stdin.write(TAIL.encode())
            process.stdin.close()
            _, status, usage = os.wait4(process.pid, 0)
            elapsed = time.perf_counter() - start
            code = os.waitstatus_to_exitcode(status)
            print("  zaqxml exit %d, %.1f s (%.1f MB/s including generation), peak RSS %.1f MiB" %
                  (code, elapsed, written / 1e6 / elapsed, usage.ru_maxrss / 1024.0))
            return 0 if code == 0 else 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
