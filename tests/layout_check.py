#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Two rules of the source tree's layout.

The README's Layout names every source file of the library and the tool:
each header or source under services/, xml/ and zaqxml/ must be named there
by its file name or its stem (a class with its header and source is named
once).

zaqxml's output side never sees the parser: the stages and what they write
through include no Xerces-C header, directly or through the project's own
headers; ParserEvents alone turns the parser's events into theirs.

Fails with the names it lacks and the include chains that break the rule.

usage: layout_check.py SOURCE_DIR"""
import os
import re
import sys


# zaqxml's output side: the stages, the namespace policy, the messages and
# the sinks and files the output goes to.
OUTPUT_SIDE = ["XmlRewriter.cpp", "CanonicalStage.cpp", "NamespaceCollector.cpp", "NamespacePolicy.cpp",
               "Diagnostics.cpp", "DocumentEvents.h", "HoldingSink.cpp", "DigestSink.cpp", "OutputFile.cpp",
               "FileMetadata.cpp", "Batch.cpp"]
HEADER_DIRS = ["zaqxml", "xml/writer", "xml/prefixmgr", "services"]


def parser_includes(root):
    """The include chains from an output-side file to a Xerces-C header."""
    include = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
    broken = []
    for start in OUTPUT_SIDE:
        seen, stack = set(), [(os.path.join(root, "zaqxml", start), [start])]
        while stack:
            path, chain = stack.pop()
            if path in seen:
                continue
            seen.add(path)
            with open(path, encoding="utf-8") as f:
                text = f.read()
            for kind, name in include.findall(text):
                if name.startswith("xercesc/"):
                    broken.append(" -> ".join(chain + [name]))
                elif kind == '"':
                    for folder in HEADER_DIRS:
                        candidate = os.path.join(root, folder, name)
                        if os.path.exists(candidate):
                            stack.append((candidate, chain + [name]))
                            break
    return broken


def main():
    root = sys.argv[1]
    broken = parser_includes(root)
    for chain in broken:
        print("zaqxml's output side includes a Xerces-C header: %s" % chain)
    with open(os.path.join(root, "README.md"), encoding="utf-8") as f:
        readme = f.read()
    start = readme.index("\n## Layout\n")
    end = readme.index("\n## ", start + 1)
    layout = readme[start:end]
    named = set(re.findall(r"[A-Za-z_][A-Za-z0-9_.]*", layout))
    named |= {token.split(".")[0] for token in named}
    missing = []
    for folder in ("services", "xml", "zaqxml"):
        for directory, _, files in os.walk(os.path.join(root, folder)):
            for name in sorted(files):
                stem, extension = os.path.splitext(name)
                if extension in (".h", ".cpp") and name not in named and stem not in named:
                    missing.append(os.path.relpath(os.path.join(directory, name), root))
    for path in missing:
        print("README Layout does not name %s" % path)
    print("%d source files missing from the README's Layout" % len(missing) if missing else
          "the README's Layout names every source file")
    return 1 if missing or broken else 0


if __name__ == "__main__":
    sys.exit(main())
