#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""zaqxml --format beside xmllint --format: random documents without white
space between tags (elements, text, CDATA, comments, PIs, nested mixed and
element-only content) must come out the same after the XML declaration,
and the white space of mixed content must survive; then the lookahead bound.

usage: format_peer.py ZAQXML [COUNT]
"""
import random
import shutil
import subprocess
import sys

EMULATOR = __import__("os").environ.get("ZAQ_TEST_EMULATOR", "").split()


def element(rng, depth):
    name = rng.choice("abcde")
    if depth > 4 or rng.random() < 0.2:
        return "<%s/>" % name
    parts = []
    mixed = rng.random() < 0.4
    for _ in range(rng.randint(0, 4)):
        kind = rng.random()
        if kind < 0.55:
            parts.append(element(rng, depth + 1))
        elif kind < 0.65:
            parts.append("<!--c-->")
        elif kind < 0.7:
            parts.append("<?p d?>")
        elif mixed:
            parts.append(rng.choice(["t", " t ", "<![CDATA[x]]>", "&amp;"]))
    return "<%s>%s</%s>" % (name, "".join(parts), name)


def body(output):
    """After the XML declaration; adjacent CDATA sections joined, as libxml2
    joins them while parsing."""
    output = output.split(b"\n", 1)[1] if b"\n" in output else output
    return output.replace(b"]]><![CDATA[", b"")


def main():
    zaqxml = EMULATOR + [sys.argv[1]]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 400
    rng = random.Random(7)
    failures = checks = 0
    cases = ["<a><b/>text<c/></a>", "<a><b/><c/></a>", "<a><b><c/></b>t</a>", "<a><p>t <b><i/></b> t</p><q><r/></q></a>",
             "<a><b/><![CDATA[x]]><c/></a>", "<a><!--c--><b/>t</a>"]
    cases += [element(rng, 0) for _ in range(count)]
    for doc in cases:
        ours = subprocess.run(zaqxml + ["--format", "-"], input=doc.encode(), capture_output=True)
        peer = subprocess.run(["xmllint", "--format", "-"], input=doc.encode(), capture_output=True)
        checks += 1
        if ours.returncode != 0 or body(ours.stdout) != body(peer.stdout):
            failures += 1
            if failures <= 10:
                print("FAIL: %s\n  zaqxml:  %r\n  xmllint: %r" % (doc, ours.stdout + ours.stderr, peer.stdout))
    # Beyond the xmllint rule: the white space of mixed content and
    # xml:space="preserve" stay as they came, however late the text.
    kept = [("<a> <b/> t <c/> </a>", b"<a> <b/> t <c/> </a>"),
            ("<a><b/><c/><d>  <e/>  </d>late</a>", b"<a><b/><c/><d>  <e/>  </d>late</a>"),
            ('<a xml:space="preserve"><b/><c/></a>', b'<a xml:space="preserve"><b/><c/></a>'),
            ("<a><b/>&#13;<c/></a>", b"<a><b/>&#13;<c/></a>"),
            ('<!DOCTYPE r [<!ENTITY sp " ">]><r><a/>&sp;<b><c/></b></r>', b"<r><a/> <b><c/></b></r>")]
    for doc, expected in kept:
        ours = subprocess.run(zaqxml + ["--format", "-"], input=doc.encode(), capture_output=True)
        checks += 1
        if body(ours.stdout).strip() != expected:
            failures += 1
            print("FAIL: %s: %r" % (doc, ours.stdout))
    # Text after more element-only content than the lookahead holds: the
    # document fails rather than be written with white space added to it.
    late = "<r>" + "<e/>" * 100000 + "late</r>"
    for args, status in (([], 2), (["--format-lookahead", "16000000"], 0)):
        ours = subprocess.run(zaqxml + ["--format", *args, "-"], input=late.encode(), capture_output=True)
        checks += 1
        if ours.returncode != status or (status == 2 and b"--format-lookahead" not in ours.stderr) or \
                (status == 0 and b"<e/>late</r>" not in ours.stdout):
            failures += 1
            print("FAIL: late text %r: exit %d, %r" % (args, ours.returncode, ours.stderr))
    print("%d passed, %d failed" % (checks - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    if shutil.which("xmllint") is None:
        print("xmllint not found")
        sys.exit(1)
    sys.exit(main())
