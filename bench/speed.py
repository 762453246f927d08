#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""zaqxml's speed beside a bare Xerces-C SAX2 parse and xmllint, and the
pooled memory manager's whole parses beside Xerces-C's default manager.

Generated documents of two shapes (many small elements with attributes;
fewer, large text nodes) at each size. Every measurement alternates the
tools run by run, so that the machine's drift hits them alike, and reports
medians: CPU seconds (user + system) and wall seconds, peak RSS, and the
ratios the targets are stated in, each the median of the ratios within a
round. Beside the bare parse with Xerces-C's default scanner (the measure),
the same parse with the well-formedness scanner, which zaqxml uses for a
document without a DTD.

usage: speed.py BUILD_DIR [--sizes 10,50,200] [--runs 5] [--no-pin]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from throughput import generate as generate_elements  # noqa: E402

PARAGRAPH = ("Namespaces in XML give element and attribute names a scope; a rewriter keeps what they mean "
             "while it chooses how they are written &amp; declared. ") * 12


def generate_text(path, megabytes):
    """Fewer, larger nodes: a few elements around kilobytes of text."""
    target = megabytes * 1024 * 1024
    with open(path, "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n'
                '<book xmlns="urn:example:book" xmlns:x="http://www.w3.org/1999/xlink">\n')
        written, n = 0, 0
        block = "".join('  <chapter n="%d" x:href="#c%d"><title>Chapter %d</title>\n    <p>%s</p>\n    <p>%s</p>\n'
                        '  </chapter>\n' % (i, i, i, PARAGRAPH, PARAGRAPH) for i in range(200))
        while written < target:
            f.write(block)
            written += len(block)
            n += 1
        f.write("</book>\n")
    return os.path.getsize(path)


# The CPU every measured program runs on. The machine's two CPUs do not run
# alike from one moment to the next (another guest's load, a migration
# halfway through a run), and a program that lands on the slower one for a
# run skews a ratio by far more than the differences measured here.
PINNED_CPU = None


def pin():
    if PINNED_CPU is not None:
        os.sched_setaffinity(0, {PINNED_CPU})


def run(command):
    """Wall and CPU seconds, peak RSS (MiB) and minor page faults of one
    command; output discarded."""
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, preexec_fn=pin)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    stderr = process.stderr.read()
    process.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError("%s failed: %s" % (" ".join(command), stderr.decode(errors="replace")[-300:]))
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0, usage.ru_minflt


class Result:
    """One tool's runs: medians, the largest peak RSS, and the samples of
    each round, for ratios taken round by round."""

    def __init__(self, samples):
        self.samples = samples
        self.wall = statistics.median(s[0] for s in samples)
        self.cpu = statistics.median(s[1] for s in samples)
        self.rss = max(s[2] for s in samples)
        self.faults = statistics.median(s[3] for s in samples)

    def ratio(self, other, field):
        """Median over the rounds of this tool's figure / the other's."""
        return statistics.median(a[field] / b[field] for a, b in zip(self.samples, other.samples))


WALL, CPU = 0, 1


def alternate(tools, runs):
    """Runs every tool once per round, rotating the order."""
    samples = {name: [] for name in tools}
    names = list(tools)
    for r in range(runs):
        order = names[r % len(names):] + names[:r % len(names)]
        for name in order:
            samples[name].append(run(tools[name]))
    return {name: Result(v) for name, v in samples.items()}


def documents(args, tmp):
    bin_dir = os.path.join(args.build, "bin")
    zaqxml = os.path.join(bin_dir, "zaqxml")
    xmllint = shutil.which("xmllint")
    for shape, generate in (("elements", generate_elements), ("text", generate_text)):
        for size in [int(s) for s in args.sizes.split(",")]:
            path = os.path.join(tmp, "%s%d.xml" % (shape, size))
            mb = generate(path, size) / 1e6
            # Every writer writes to standard output, which is /dev/null here:
            # the cost of the disk is no part of the comparison.
            tools = {
                "bare SAX2 parse": [os.path.join(bin_dir, "sax_count"), path],
                "bare, WF scanner": [os.path.join(bin_dir, "sax_count"), "--wf", path],
                "zaqxml": [zaqxml, path],
                "zaqxml --prune": [zaqxml, "--prune", path],
                "zaqxml --generate": [zaqxml, "--generate", path],
            }
            if xmllint:
                tools["xmllint parse+write"] = [xmllint, path]
            # Short runs are the noisiest: more of them.
            runs = args.runs * 3 if size <= 10 else args.runs
            result = alternate(tools, runs)
            bare = result["bare SAX2 parse"]
            lint = result.get("xmllint parse+write")
            print("%s, %.1f MB (medians of %d alternating runs; ratios are medians of the rounds' ratios):" %
                  (shape, mb, runs))
            for name, r in result.items():
                extra = ""
                if name.startswith("zaqxml") or name.startswith("bare, "):
                    extra = "  CPU / bare parse %.2f" % r.ratio(bare, CPU)
                    if lint and name.startswith("zaqxml"):
                        extra += ", speed / xmllint %.2f" % lint.ratio(r, WALL)
                print("  %-20s %7.2f s wall %7.2f s CPU %7.1f MiB%s" % (name, r.wall, r.cpu, r.rss, extra))
            os.remove(path)


def pooled_pairs(args, tmp):
    bin_dir = os.path.join(args.build, "bin")
    memory = os.path.join(bin_dir, "bench_memory")
    perf = shutil.which("perf")
    if perf:
        probe = subprocess.run([perf, "stat", "-x,", "-e", "cycles", "true"], capture_output=True, text=True)
        if probe.returncode != 0 or "not supported" in probe.stderr:
            print("(perf stat cannot count cycles on this machine; CPU time stands in for them)")
    # Each pair differs by a few per cent at most, less than the machine's
    # drift between runs: many more runs (they are short).
    runs = args.runs * 8
    print("pooled / default memory manager, whole processes (medians of %d alternating runs):" % runs)
    for spec in ("small-sax:3000", "small-dom:1000", "large-sax:5", "large-dom:2"):
        kind, count = spec.split(":")
        result = alternate({m: [memory, "--only", kind, m, count] for m in ("orv", "default")}, runs)
        orv, default = result["orv"], result["default"]
        print("  %-10s x%-5s wall %.3f / %.3f s: %.3f; CPU %.3f / %.3f s: %.3f; page faults %d / %d" % (
            kind, count, orv.wall, default.wall, orv.ratio(default, WALL), orv.cpu, default.cpu,
            orv.ratio(default, CPU), orv.faults, default.faults))
    sax = os.path.join(bin_dir, "sax_count")
    path = os.path.join(tmp, "pairs.xml")
    generate_elements(path, 50)
    result = alternate({"pooled": [sax, "--pooled", path], "default": [sax, path]}, args.runs * 4)
    pooled, default = result["pooled"], result["default"]
    print("  sax_count on 50 MB (%d runs): wall %.3f / %.3f s: %.3f; CPU %.3f / %.3f s: %.3f" % (
        args.runs * 4, pooled.wall, default.wall, pooled.ratio(default, WALL), pooled.cpu, default.cpu,
        pooled.ratio(default, CPU)))
    os.remove(path)
    print("pooled / default memory manager, in one process (parses alternate round by round):")
    sys.stdout.flush()
    subprocess.run([memory, "--pairs", str(12 * args.runs + 1)], check=True, preexec_fn=pin)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--sizes", default="10,50,200")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--no-pin", action="store_true", help="let the programs run on any CPU")
    args = parser.parse_args()
    global PINNED_CPU
    if not args.no_pin and hasattr(os, "sched_setaffinity"):
        PINNED_CPU = min(os.sched_getaffinity(0))
    print("machine load (1, 5, 15 min): %.2f %.2f %.2f on %d cores%s" % (
        os.getloadavg() + (os.cpu_count(), "" if PINNED_CPU is None else "; every run on CPU %d" % PINNED_CPU)))
    with tempfile.TemporaryDirectory() as tmp:
        documents(args, tmp)
        pooled_pairs(args, tmp)
    return 0


if __name__ == "__main__":
    sys.exit(main())
