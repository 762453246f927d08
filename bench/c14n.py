#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""zaqxml's canonical forms beside xmllint's: CPU time (medians of
alternating runs on one CPU, the ratio the median of the rounds' ratios) and
peak RSS on generated documents of two shapes, then one large document for
memory and for --digest sha256 beside a SHA-256 of xmllint's bytes.

usage: c14n.py BUILD_DIR [--sizes 50,200] [--runs 3] [--large 1024]
"""
import argparse
import base64
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import speed  # noqa: E402
from throughput import generate as generate_elements  # noqa: E402


def sha256_of(command):
    """The SHA-256 of a command's output, read a block at a time: this
    process must stay small, as a child's peak RSS counts what it was
    forked from."""
    digest = hashlib.sha256()
    with subprocess.Popen(command, stdout=subprocess.PIPE) as process:
        for block in iter(lambda: process.stdout.read(1 << 20), b""):
            digest.update(block)
    return digest.digest()


def peak_rss_mib(command):
    """Peak RSS of one run, its output discarded."""
    return speed.run(command)[2]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--sizes", default="50,200")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--large", type=int, default=1024, help="MB of the memory and digest document (0: none)")
    args = parser.parse_args()
    zaqxml = os.path.join(args.build, "bin", "zaqxml")
    xmllint = shutil.which("xmllint")
    if not xmllint:
        print("xmllint is not installed (libxml2-utils)")
        return 1
    speed.PINNED_CPU = min(os.sched_getaffinity(0))
    with tempfile.TemporaryDirectory() as tmp:
        for shape, generate in (("elements", generate_elements), ("text", speed.generate_text)):
            for size in [int(s) for s in args.sizes.split(",")]:
                path = os.path.join(tmp, "%s%d.xml" % (shape, size))
                mb = generate(path, size) / 1e6
                for mode in ("--exc-c14n", "--c14n"):
                    same = sha256_of([zaqxml, mode, path]) == sha256_of([xmllint, mode, path])
                    same = "same bytes" if same else "DIFFERENT BYTES"
                    result = speed.alternate({"zaqxml": [zaqxml, mode, path], "xmllint": [xmllint, mode, path]},
                                             args.runs)
                    z, x = result["zaqxml"], result["xmllint"]
                    print("%s %.1f MB %s: zaqxml %.2f s %.1f MiB, xmllint %.2f s %.1f MiB, speed ratio %.2f, %s" % (
                        shape, mb, mode, z.cpu, z.rss, x.cpu, x.rss, x.ratio(z, speed.CPU), same))
                os.remove(path)
        if args.large:
            path = os.path.join(tmp, "large.xml")
            mb = generate_elements(path, args.large) / 1e6
            for mode in ("--exc-c14n", "--c14n", "--c14n11"):
                print("elements %.1f MB %s: zaqxml peak RSS %.1f MiB" % (mb, mode, peak_rss_mib([zaqxml, mode, path])))
            ours = subprocess.run([zaqxml, "--exc-c14n", "--digest", "sha256", path], stdout=subprocess.PIPE,
                                  check=True).stdout.strip()
            theirs = base64.b64encode(sha256_of([xmllint, "--exc-c14n", path]))
            print("elements %.1f MB --exc-c14n --digest sha256: %s, xmllint's bytes hashed: %s (%s)" % (
                mb, ours.decode(), theirs.decode(), "same" if ours == theirs else "DIFFERENT"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
