#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""What zaqxml's namespace modes do to real documents, beside xmllint --nsclean.

For each document (by default the stylesheets, schemas, grammars and SVG
files under /usr/share): namespace declarations in and out, and whether every
prefix inside attribute values and text that the input binds (XSLT patterns,
type="tns:...", xsi:type) still resolves to the same namespace in the output.
Then the peak memory of --generate on 10^6 sibling elements that each declare
the same namespace.

usage: namespaces.py ZAQXML [FILE ...]
"""
import os
import resource
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from roundtrip import qnames_resolve, scopes  # noqa: E402

EXTENSIONS = (".xsl", ".xslt", ".xsd", ".rng", ".wsdl", ".svg")
LIMIT_PER_KIND = 120


def corpus():
    found = {}
    for root, _dirs, files in os.walk("/usr/share"):
        for name in sorted(files):
            ext = os.path.splitext(name)[1]
            if ext in EXTENSIONS and len(found.setdefault(ext, [])) < LIMIT_PER_KIND:
                found[ext].append(os.path.join(root, name))
    return [path for ext in EXTENSIONS for path in found.get(ext, [])]


def peak_rss_kib(command, stdin_path):
    """Peak RSS of one command, measured in a process of its own."""
    probe = ("import resource, subprocess, sys\n"
             "with open(sys.argv[1], 'rb') as f:\n"
             "    subprocess.run(sys.argv[2:], stdin=f, stdout=subprocess.DEVNULL, check=True)\n"
             "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n")
    out = subprocess.run([sys.executable, "-c", probe, stdin_path] + command, capture_output=True, check=True)
    return int(out.stdout)


def main():
    zaqxml = sys.argv[1]
    files = sys.argv[2:] or corpus()
    tools = {
        "zaqxml (default)": [zaqxml, "--load-external"],
        "zaqxml --prune": [zaqxml, "--load-external", "--prune"],
        "zaqxml --generate": [zaqxml, "--load-external", "--generate"],
        "zaqxml --hoist": [zaqxml, "--load-external", "--hoist"],
        "xmllint --nsclean": ["xmllint", "--nsclean"],
    }
    rows = {name: {"docs": 0, "in": 0, "out": 0, "resolve": 0, "not_more": 0, "failed": 0, "incomparable": 0} for name in tools}
    inputs = 0
    for path in files:
        try:
            with open(path, "rb") as f:
                before = scopes(f.read())
        except Exception:  # not well-formed to expat on its own (external entities): not counted
            continue
        inputs += 1
        for name, command in tools.items():
            row = rows[name]
            result = subprocess.run(command + [path], capture_output=True, timeout=120)
            try:
                if result.returncode != 0:
                    raise ValueError(result.returncode)
                after = scopes(result.stdout)
            except Exception:
                row["failed"] += 1
                continue
            row["docs"] += 1
            row["in"] += before["declarations"]
            row["out"] += after["declarations"]
            # Entities the input reads from elsewhere (DocBook's) can add
            # elements that expat, reading the file alone, does not see.
            comparable = len(after["scopes"]) == len(before["scopes"])
            row["resolve"] += comparable and qnames_resolve(before, after)
            row["incomparable"] += not comparable
            row["not_more"] += after["declarations"] <= before["declarations"]
    print("%d documents (%s)" % (inputs, ", ".join(EXTENSIONS)))
    print("%-20s %6s %8s %18s %16s %14s" % ("tool", "docs", "failed", "declarations", "QNames resolve",
                                             "decl. out<=in"))
    for name, row in rows.items():
        print("%-20s %6d %8d %8d -> %-7d %10d (%d*) %14d" %
              (name, row["docs"], row["failed"], row["in"], row["out"], row["resolve"], row["incomparable"],
               row["not_more"]))
    print("(*) documents whose external entities add elements that the reference parse does not see")

    with tempfile.TemporaryDirectory() as tmp:
        siblings = os.path.join(tmp, "siblings.xml")
        with open(siblings, "w") as f:
            f.write("<r>")
            chunk = '<p:s xmlns:p="urn:example:one"/>' * 1000
            for _ in range(1000):
                f.write(chunk)
            f.write("</r>")
        for args in ([], ["--generate"], ["--prune"], ["--prune", "--generate"], ["--hoist"]):
            print("10^6 siblings, one namespace, zaqxml %-20s peak RSS %6.1f MiB" %
                  (" ".join(args) or "(default)", peak_rss_kib([zaqxml] + args, siblings) / 1024))


if __name__ == "__main__":
    main()
