#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""The README's Layout names every source file of the library and the tool:
each header or source under services/, xml/ and zaqxml/ must be named there
by its file name or its stem (a class with its header and source is named
once). Fails with the names it lacks.

usage: layout_check.py SOURCE_DIR"""
import os
import re
import sys


def main():
    root = sys.argv[1]
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
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
