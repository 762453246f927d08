#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""The figures behind zaqxml's bounds: time and peak memory on the hostile
inputs at full size, and on a 200 MB generated document with the bounds on
and off (the output must be the same).

usage: bounds.py ZAQXML
"""
import filecmp
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
sys.path.insert(0, HERE)
from hostile import defaults_doc, entity_doc, run  # noqa: E402
from throughput import generate  # noqa: E402


def main():
    zaqxml = os.path.abspath(sys.argv[1])
    cases = [
        ("10^6 nested elements", "<a>" * 10**6 + "</a>" * 10**6, []),
        ("entity used 40 000x in text", entity_doc(40000, False), []),
        ("entity used 2 000x in an attribute", entity_doc(2000, True), []),
        ("5 000 default attributes x 20 000 elements", defaults_doc(), []),
        ("80 000 namespaced attributes on one element",
         '<r xmlns:p="urn:p" %s/>' % " ".join('p:a%d="1"' % i for i in range(80000)), []),
        ("10 000 attributes on one element: 5 000 namespaces, one local name",
         '<r %s/>' % " ".join('xmlns:p%d="urn:%d" p%d:a="1"' % (i, i, i) for i in range(5000)), []),
        ("10^6 siblings, each declaring a new prefix of one namespace",
         "<r>" + "".join('<e xmlns:p%d="urn:same"/>' % i for i in range(10**6)) + "</r>", []),
        ("the same, --max-prefixes 1000000", None, ["--max-prefixes", "1000000"]),
        ("10^6 distinct element names", "<r>" + "".join("<n%d/>" % i for i in range(10**6)) + "</r>", []),
        ("the same, --max-names 1000001", None, ["--max-names", "1000001"]),
        ("2x10^6 distinct element names, --max-names 2000001",
         "<r>" + "".join("<n%d/>" % i for i in range(2 * 10**6)) + "</r>", ["--max-names", "2000001"]),
    ]
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "case.xml")
        print("%-70s %5s %8s %10s" % ("input", "exit", "seconds", "peak RSS"))
        for name, document, args in cases:
            if document is not None:  # None: the previous document again
                with open(path, "w") as f:
                    f.write(document)
            status, mib, seconds, _ = run([zaqxml], args + [path], timeout=600)
            print("%-70s %5d %8.2f %6.1f MiB" % (name, status, seconds, mib))
        big = os.path.join(tmp, "big.xml")
        generate(big, 200)
        outputs = []
        for args in ([], ["--max-depth", "100000000", "--max-expansion", "0"]):
            out = os.path.join(tmp, "out%d.xml" % len(outputs))
            status, mib, seconds, _ = run([zaqxml], args + ["-o", out, big], timeout=600)
            outputs.append(out)
            print("%-70s %5d %8.2f %6.1f MiB" % ("200 MB document " + (" ".join(args) or "(bounds on)"),
                                                  status, seconds, mib))
        print("same output with the bounds on and off: %s" % filecmp.cmp(outputs[0], outputs[1], shallow=False))


if __name__ == "__main__":
    main()
