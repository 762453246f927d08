#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Round-trip and error checks of zaqxml against an independent parser.

Every document of the corpus is rewritten in both modes, with the default
namespace switch set and unset; the output must parse (Python's expat) into
the same tree as the input, and every namespace declaration in it must be
needed. Malformed inputs must fail cleanly with one diagnostic line.

usage: roundtrip.py ZAQXML DATA_DIR
"""
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import xml.parsers.expat

XML_NS = "http://www.w3.org/XML/1998/namespace"
SWITCH = "VOSK_USE_EMPTY_PREFIX_FOR_DEFAULT_NS"

failures = []
checks = 0


def fail(message):
    failures.append(message)
    print("FAIL: " + message, file=sys.stderr)


def check(condition, message):
    global checks
    checks += 1
    if not condition:
        fail(message)
    return condition


def run(zaqxml, args, env_switch=False, stdin=None):
    env = dict(os.environ)
    env.pop(SWITCH, None)
    if env_switch:
        env[SWITCH] = ""
    return subprocess.run([zaqxml] + args, input=stdin, capture_output=True, env=env, timeout=300)


def tree(data):
    builder = ET.TreeBuilder(insert_comments=True, insert_pis=True)
    parser = ET.XMLParser(target=builder)
    parser.feed(data)
    return parser.close()


def same_tree(a, b):
    """Compares two element trees without recursion; returns a difference or None."""
    stack = [(a, b, a.tag if isinstance(a.tag, str) else "?")]
    while stack:
        x, y, path = stack.pop()
        if x.tag != y.tag:
            return "%s: tag %r != %r" % (path, x.tag, y.tag)
        if x.attrib != y.attrib:
            return "%s: attributes %r != %r" % (path, x.attrib, y.attrib)
        if (x.text or "") != (y.text or ""):
            return "%s: text %r != %r" % (path, x.text, y.text)
        if (x.tail or "") != (y.tail or ""):
            return "%s: tail %r != %r" % (path, x.tail, y.tail)
        if len(x) != len(y):
            return "%s: %d children != %d" % (path, len(x), len(y))
        for i, (cx, cy) in enumerate(zip(x, y)):
            name = cx.tag if isinstance(cx.tag, str) else "node"
            stack.append((cx, cy, "%s/%s[%d]" % (path, name, i)))
    return None


def declaration_problems(data):
    """Every declaration must be needed: no xml/xmlns declaration, no prefix
    bound to the empty URI, no re-declaration of a binding in force, no unused
    prefixed declaration, no xmlns="" where no default namespace is in force."""
    problems = []
    scopes = [{"xml": [XML_NS, None], "": ["", None]}]  # prefix -> [uri, declaring frame or None]
    frames = []

    def lookup(prefix):
        for scope in reversed(scopes):
            if prefix in scope:
                return scope[prefix]
        return None

    def start(name, attrs):
        scope = {}
        frame = {"name": name, "declared": {}, "used": set()}
        for key, value in attrs.items():
            if key == "xmlns" or key.startswith("xmlns:"):
                prefix = key[6:]
                if prefix in ("xml", "xmlns"):
                    problems.append("<%s> declares the reserved prefix %r" % (name, prefix))
                if prefix and value == "":
                    problems.append("<%s> binds %r to the empty URI" % (name, prefix))
                current = lookup(prefix)
                if current is not None and current[0] == value:
                    problems.append("<%s> re-declares %s=%r already in force" % (name, key, value))
                if prefix == "" and value == "" and ":" in name:
                    problems.append("<%s> carries xmlns=\"\" but does not need it" % name)
                scope[prefix] = [value, frame]
                frame["declared"][prefix] = value
        scopes.append(scope)
        frames.append(frame)
        used = [name.split(":", 1)[0]] if ":" in name else []
        used += [k.split(":", 1)[0] for k in attrs if ":" in k and not k.startswith("xmlns:")]
        for prefix in used:
            binding = lookup(prefix)
            if binding is None:
                problems.append("<%s> uses the undeclared prefix %r" % (name, prefix))
            elif binding[1] is not None:
                binding[1]["used"].add(prefix)

    def end(name):
        frame = frames.pop()
        scopes.pop()
        for prefix in frame["declared"]:
            if prefix and prefix not in frame["used"]:
                problems.append("<%s> declares %r without using it" % (frame["name"], prefix))

    parser = xml.parsers.expat.ParserCreate()
    parser.StartElementHandler = start
    parser.EndElementHandler = end
    parser.Parse(data, True)
    return problems


def roundtrip(zaqxml, path):
    with open(path, "rb") as f:
        original = f.read()
    expected = tree(original)
    for mode in ([], ["--generate"]):
        for switch in (False, True):
            label = "%s %s%s" % (os.path.basename(path), " ".join(mode) or "(input prefixes)",
                                 " with switch" if switch else "")
            result = run(zaqxml, mode + [path], env_switch=switch)
            if not check(result.returncode == 0, "%s: exit %d: %s" % (label, result.returncode,
                                                                         result.stderr.decode(errors="replace"))):
                continue
            try:
                got = tree(result.stdout)
            except ET.ParseError as e:
                fail("%s: output does not parse: %s" % (label, e))
                continue
            difference = same_tree(expected, got)
            check(difference is None, "%s: %s" % (label, difference))
            for problem in declaration_problems(result.stdout):
                fail("%s: %s" % (label, problem))
            check(b"xmlns:xmlns" not in result.stdout and b"xmlns:xml=" not in result.stdout,
                  "%s: reserved prefix declared" % label)


def malformed(zaqxml, path):
    name = os.path.basename(path)
    result = run(zaqxml, [path])
    lines = result.stderr.decode(errors="replace").splitlines()
    check(result.returncode == 2, "%s: exit %d, expected 2 (%s)" % (name, result.returncode, lines))
    check(len(lines) == 1 and re.match(r"^%s(:\d+:\d+)?: \S" % re.escape(path), lines[0] if lines else ""),
          "%s: expected one 'FILE:LINE:COLUMN: message' line, got %r" % (name, lines))
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.xml")
        with open(out, "w") as f:
            f.write("keep")
        result = run(zaqxml, ["-o", out, path])
        check(result.returncode == 2, "%s -o: exit %d" % (name, result.returncode))
        with open(out) as f:
            check(f.read() == "keep", "%s -o: the output file was touched" % name)
        check(os.listdir(tmp) == ["out.xml"], "%s -o: a temporary file was left behind" % name)


def deep_nesting(zaqxml, tmp):
    depth = 10000
    path = os.path.join(tmp, "deep.xml")
    with open(path, "w") as f:
        f.write('<d xmlns="urn:deep" xmlns:p="urn:p">' + "<d p:a='1'>" * depth + "</d>" * depth + "</d>")
    result = run(zaqxml, [path])
    if check(result.returncode == 0, "deep nesting: exit %d: %s" % (result.returncode, result.stderr[-500:])):
        events = 0
        for _event, _elem in ET.iterparse(__import__("io").BytesIO(result.stdout), events=("start",)):
            events += 1
        check(events == depth + 1, "deep nesting: %d elements came out" % events)
    with open(path, "w") as f:
        f.write("<d>" * depth)
    result = run(zaqxml, [path])
    check(result.returncode == 2, "deep truncated: exit %d" % result.returncode)


def usage(zaqxml, data):
    sample = run(zaqxml, [])
    check(sample.returncode == 0 and sample.stdout.startswith(b"<?xml"), "the bundled sample does not rewrite")
    check(declaration_problems(sample.stdout) == [], "sample: %s" % declaration_problems(sample.stdout))
    for args, needle in ((["--prefer", "1bad=urn:x"], "NCName"), (["--prefer", "xmlnsfoo=urn:x"], "xmlns"),
                         (["--prefer", "xml=urn:x"], "xml"), (["--prefer", "p="], "empty"),
                         (["--prefer", "p"], "PREFIX=URI"), (["--pool-size", "16"], "ZAQ2111"),
                         (["--pool-size", "x"], "whole number"), (["--bogus"], "unknown"),
                         (["-o", "a", "b", "c"], "one input")):
        result = run(zaqxml, args)
        err = result.stderr.decode(errors="replace")
        check(result.returncode == 1 and needle in err, "usage %s: exit %d, %r" % (args, result.returncode, err))
    check(run(zaqxml, ["--help"]).returncode == 0, "--help fails")
    check(SWITCH.encode() in run(zaqxml, ["--help"]).stdout, "--help does not document the switch")
    good = os.path.join(data, "roundtrip", "mixed-default.xml")
    bad = os.path.join(data, "malformed", "truncated.xml")
    result = run(zaqxml, [good, bad, good])
    check(result.returncode == 2 and result.stdout.count(b"<?xml") == 3 and result.stdout.count(b"</root>") == 2,
          "a bad input among good ones: exit %d" % result.returncode)
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.xml")
        result = run(zaqxml, ["-o", out, "--prefer", "o=urn:d1", "--stats", good])
        check(result.returncode == 0 and os.path.exists(out), "-o FILE: exit %d" % result.returncode)
        check(b"heap:" in result.stderr, "--stats prints nothing")
        with open(out, "rb") as f:
            written = f.read()
        check(same_tree(tree(written), tree(open(good, "rb").read())) is None, "-o FILE: wrong content")
        check(b"<o:root" in run(zaqxml, ["--generate", "--prefer", "o=urn:d1", good]).stdout,
              "--prefer is not used")
        stdin = run(zaqxml, ["-"], stdin=open(good, "rb").read())
        check(stdin.returncode == 0 and stdin.stdout == run(zaqxml, [good]).stdout, "standard input differs")
        deep_nesting(zaqxml, tmp)


def main():
    zaqxml, data = sys.argv[1], sys.argv[2]
    corpus = os.path.join(data, "roundtrip")
    for name in sorted(os.listdir(corpus)):
        roundtrip(zaqxml, os.path.join(corpus, name))
    bad = os.path.join(data, "malformed")
    for name in sorted(os.listdir(bad)):
        malformed(zaqxml, os.path.join(bad, name))
    usage(zaqxml, data)
    print("%d passed, %d failed" % (checks - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
