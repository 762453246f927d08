#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Round-trip and error checks of zaqxml against an independent parser.

Every document of the corpus is rewritten in each namespace mode (default,
--prune, --generate, both), with the default namespace switch set and unset.
The output must parse (Python's expat) into the same tree as the input and
rewrite to itself. In the default mode and with --generate, every element
must have the input's namespaces in scope (so prefixes in attribute values
and text still resolve) and the default mode declares no more than the input;
under --prune every declaration must be needed, and a prefix in content that
is no longer bound is warned about. Malformed inputs must fail cleanly with
one diagnostic line.

usage: roundtrip.py ZAQXML DATA_DIR
"""
import base64
import hashlib
import os
import shutil
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import xml.parsers.expat

# Where the program cannot run natively (a 32-bit build on a kernel without
# 32-bit support), the build passes the emulator that runs it.
EMULATOR = os.environ.get("ZAQ_TEST_EMULATOR", "").split()
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
    if "ASAN_OPTIONS" in env:
        # Xerces-C is built without frame pointers: the fast unwinder can
        # lose the parser frame that tests/lsan.supp names.
        env["ASAN_OPTIONS"] += ":fast_unwind_on_malloc=0"
    if env_switch:
        env[SWITCH] = ""
    return subprocess.run(zaqxml + args, input=stdin, capture_output=True, env=env, timeout=300)


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


QNAME = re.compile(r"(?<![\w.:-])([A-Za-z_][\w.-]*):[A-Za-z_]")
MODES = ([], ["--prune"], ["--generate"], ["--prune", "--generate"], ["--hoist"])


def scopes(data):
    """The namespaces in scope at each element, in document order, the
    declarations made, and the QName prefixes used in attribute values and
    text with the namespace each resolves to there."""
    stack = [{"xml": XML_NS}]
    pending = {}
    result = {"scopes": [], "declarations": 0, "qnames": []}

    def note_qnames(text):
        for prefix in QNAME.findall(text):
            result["qnames"].append((len(result["scopes"]), prefix, stack[-1].get(prefix)))

    def start_ns(prefix, uri):
        pending[prefix or ""] = uri or ""
        result["declarations"] += 1

    def start(name, attrs):
        scope = dict(stack[-1])
        scope.update(pending)
        pending.clear()
        stack.append(scope)
        result["scopes"].append({p: u for p, u in scope.items() if u})
        for value in attrs.values():
            note_qnames(value)

    parser = xml.parsers.expat.ParserCreate(namespace_separator="\x01")  # in no XML 1.0 name or URI
    # A text node whole: expat reports an entity's replacement text apart
    # from the text around it, which a rewrite writes as one run ("t&t;"
    # with t = "p:z" is the text "tp:z", whose prefix is "tp").
    parser.buffer_text = True
    parser.buffer_size = 1 << 24
    parser.StartNamespaceDeclHandler = start_ns
    parser.StartElementHandler = start
    parser.EndElementHandler = lambda name: stack.pop()
    parser.CharacterDataHandler = note_qnames
    parser.Parse(data, True)
    return result


def qnames_resolve(before, after):
    """Whether each QName prefix in content that the input bound resolves to
    the same namespace in the output (same elements, same order)."""
    expected = [q for q in before["qnames"] if q[2]]
    got = {(q[0], q[1]): q[2] for q in after["qnames"]}
    return all(got.get((element, prefix)) == uri for element, prefix, uri in expected)


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


def roundtrip(zaqxml, path, extra=()):
    with open(path, "rb") as f:
        original = f.read()
    expected = tree(original) if b'version="1.1"' not in original[:40] else None
    before = scopes(original) if expected is not None else None
    for mode in MODES:
        for switch in (False, True):
            label = "%s %s%s" % (os.path.basename(path), " ".join(mode) or "(default)",
                                 " with switch" if switch else "")
            result = run(zaqxml, list(extra) + mode + [path], env_switch=switch)
            if not check(result.returncode == 0, "%s: exit %d: %s" % (label, result.returncode,
                                                                         result.stderr.decode(errors="replace"))):
                continue
            again = run(zaqxml, mode + ["-"], env_switch=switch, stdin=result.stdout)
            check(again.returncode == 0 and again.stdout == result.stdout, "%s: does not rewrite to itself" % label)
            check(b"xmlns:xmlns" not in result.stdout and b"xmlns:xml=" not in result.stdout,
                  "%s: reserved prefix declared" % label)
            if expected is None:
                check(result.stdout.startswith(b'<?xml version="1.1"'), "%s: XML 1.1 written as 1.0" % label)
                continue
            try:
                got = tree(result.stdout)
            except ET.ParseError as e:
                fail("%s: output does not parse: %s" % (label, e))
                continue
            difference = same_tree(expected, got)
            check(difference is None, "%s: %s" % (label, difference))
            after = scopes(result.stdout)
            resolved = qnames_resolve(before, after)
            if "--prune" in mode:
                for problem in declaration_problems(result.stdout):
                    fail("%s: %s" % (label, problem))
                check(resolved == (b"warning:" not in result.stderr),
                      "%s: QNames resolve: %s, but stderr says %r" % (label, resolved, result.stderr[-300:]))
            else:
                check(resolved, "%s: a QName prefix in content no longer resolves" % label)
                lost = [i for i, (a, b) in enumerate(zip(before["scopes"], after["scopes"]))
                        if any(b.get(p) != u for p, u in a.items())]
                check(not lost, "%s: element %s lost namespaces in scope" % (label, lost[:1]))
            if not mode or mode == ["--hoist"]:
                check(after["declarations"] <= before["declarations"],
                      "%s: %d declarations in, %d out" % (label, before["declarations"], after["declarations"]))
                if not switch and not mode:  # --hoist widens scopes, and keeps each binding (checked above)
                    check(after["scopes"] == before["scopes"], "%s: namespaces in scope differ" % label)


def malformed(zaqxml, path):
    name = os.path.basename(path)
    result = run(zaqxml, [path])
    lines = result.stderr.decode(errors="replace").splitlines()
    check(result.returncode == 2, "%s: exit %d, expected 2 (%s)" % (name, result.returncode, lines))
    check(result.stdout == b"", "%s: a fragment on standard output: %r" % (name, result.stdout[:80]))
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
    check(result.returncode == 2 and b"--max-depth" in result.stderr, "too deep: exit %d" % result.returncode)
    result = run(zaqxml, ["--max-depth", "10001", path])
    if check(result.returncode == 0, "deep nesting: exit %d: %s" % (result.returncode, result.stderr[-500:])):
        events = 0
        for _event, _elem in ET.iterparse(__import__("io").BytesIO(result.stdout), events=("start",)):
            events += 1
        check(events == depth + 1, "deep nesting: %d elements came out" % events)
    with open(path, "w") as f:
        f.write("<d>" * depth)
    result = run(zaqxml, [path])
    check(result.returncode == 2, "deep truncated: exit %d" % result.returncode)


def documentation(zaqxml, data):
    """The help is the source: the README holds it word for word, and every
    option it lists is in the man page and the bash completion."""
    source = os.path.dirname(os.path.dirname(os.path.abspath(data)))
    help_text = run(zaqxml, ["--help"]).stdout.decode()
    options = sorted(set(re.findall(r"^  (?:-\w, )?(--[a-z0-9-]+)", help_text, re.M)))
    check(len(options) > 15, "options found in --help: %r" % options)
    with open(os.path.join(source, "README.md")) as f:
        readme = f.read()
    missing = [line for line in help_text.splitlines() if line.strip() and line not in readme]
    check(not missing, "README.md lacks these --help lines: %r" % missing[:3])
    with open(os.path.join(source, "zaqxml", "zaqxml.1")) as f:
        manual = f.read().replace("\\-", "-")
    with open(os.path.join(source, "zaqxml", "zaqxml.bash-completion")) as f:
        completion = f.read()
    for option in options:
        check(re.search(r"(?<![\w-])%s(?![\w-])" % re.escape(option), manual), "the man page lacks %s" % option)
        check(option in ("--help", "--version") or re.search(r"(?<![\w-])%s(?![\w-])" % re.escape(option),
                                                             completion), "the completion lacks %s" % option)


FORMAT_CASES = [  # input, --format output after the XML declaration (as xmllint --format writes them)
    ("<a><b><c/></b><d>t</d></a>", "<a>\n  <b>\n    <c/>\n  </b>\n  <d>t</d>\n</a>\n"),
    ("<p>x <b>y</b> z</p>", "<p>x <b>y</b> z</p>\n"),
    ("<a>  </a>", "<a>  </a>\n"),
    ("<a>\n\t<b/>\n</a>", "<a>\n  <b/>\n</a>\n"),
    ("<a><!--c--><b/><?pi x?></a>", "<a>\n  <!--c-->\n  <b/>\n  <?pi x?>\n</a>\n"),
    ('<a><b xml:space="preserve"> <c/> </b><d> <e/> </d></a>',
     '<a>\n  <b xml:space="preserve"> <c/> </b>\n  <d>\n    <e/>\n  </d>\n</a>\n'),
]


def without_blanks(element):
    """The tree with the white space of element-only content removed, which
    is all that --format may change."""
    mixed = (element.text or "").strip() or any((child.tail or "").strip() for child in element)
    if not mixed and len(element):
        element.text = None
        for child in element:
            child.tail = None
    for child in element:
        without_blanks(child)
    return element


def formatting(zaqxml, data):
    for document, expected in FORMAT_CASES:
        result = run(zaqxml, ["--format", "-"], stdin=document.encode())
        check(result.stdout.decode().split("\n", 1)[-1] == expected, "--format %r: %r" % (document, result.stdout))
    corpus = os.path.join(data, "roundtrip")
    for name in sorted(os.listdir(corpus)):
        path = os.path.join(corpus, name)
        with open(path, "rb") as f:
            original = f.read()
        if b'version="1.1"' in original[:40]:
            continue
        once = run(zaqxml, ["--format", path]).stdout
        check(run(zaqxml, ["--format", "-"], stdin=once).stdout == once, "--format %s: not a fixed point" % name)
        difference = same_tree(without_blanks(tree(original)), without_blanks(tree(once)))
        check(difference is None, "--format %s: %s" % (name, difference))


# Where zaqxml departs from xmllint's canonical bytes, and why: libxml2
# turns the CR that a character reference put in an internal entity into a
# line feed when the entity is parsed, where XML 1.0 (2.11) normalises line
# ends of external entities only, and Canonical XML writes a CR in text as
# &#xD;.
CANONICAL_DEPARTURES = {"attribute-types.xml"}


def canonical(zaqxml, data):
    """The canonical forms beside xmllint's on the corpus and the examples,
    and --digest beside a digest of xmllint's bytes."""
    xmllint = shutil.which("xmllint")
    if not xmllint:
        print("canonical forms not compared: xmllint is not installed")
        return
    documents = [os.path.join(data, d, n) for d in ("roundtrip", "c14n")
                 for n in sorted(os.listdir(os.path.join(data, d))) if n.endswith((".xml", ".xsl", ".xsd", ".rng",
                                                                                   ".svg", ".wsdl"))]
    compared = 0
    for path in documents:
        for mode in ("--c14n", "--c14n11", "--exc-c14n"):
            theirs = subprocess.run([xmllint, "--nonet", mode, path], stdout=subprocess.PIPE,
                                    stderr=subprocess.DEVNULL)
            if theirs.returncode != 0 or os.path.basename(path) in CANONICAL_DEPARTURES:
                continue
            if b'version="1.1"' in open(path, "rb").read(64):
                continue  # refused: canonical forms are defined for XML 1.0 (hostile.py)
            ours = run(zaqxml, ["--load-external", mode, path])
            check(ours.stdout == theirs.stdout, "%s %s: not xmllint's bytes" % (mode, path))
            compared += 1
            if mode == "--exc-c14n":
                digest = run(zaqxml, ["--load-external", mode, "--digest", "sha256", path]).stdout
                expected = base64.b64encode(hashlib.sha256(theirs.stdout).digest()) + b"\n"
                check(digest == expected, "--digest sha256 %s: %r, not %r" % (path, digest, expected))
    check(compared >= 50, "only %d canonical forms compared with xmllint" % compared)


def usage(zaqxml, data):
    documentation(zaqxml, data)
    formatting(zaqxml, data)
    sample = run(zaqxml, ["--sample", "--prune"])
    check(sample.returncode == 0 and sample.stdout.startswith(b"<?xml"), "the bundled sample does not rewrite")
    check(declaration_problems(sample.stdout) == [], "sample: %s" % declaration_problems(sample.stdout))
    for args, needle in ((["--prefer", "1bad=urn:x"], "NCName"), (["--prefer", "xmlnsfoo=urn:x"], "xmlns"),
                         (["--prefer", "xml=urn:x"], "xml"), (["--prefer", "p="], "empty"),
                         (["--prefer", "p"], "PREFIX=URI"), (["--pool-size", "16"], "from 32 to"),
                         (["--keep-prefixes", "a"], "--prune"), ([""], "empty"), (["-o", ""], "file name"),
                         (["--prefer", "p\u00d7q=urn:x"], "NCName"),
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
    alone = run(zaqxml, [good]).stdout
    check(result.returncode == 2 and result.stdout == alone + alone,
          "a bad input among good ones: exit %d, and only the good ones written" % result.returncode)
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
        for args in (["-"], []):
            stdin = run(zaqxml, args, stdin=open(good, "rb").read())
            check(stdin.returncode == 0 and stdin.stdout == run(zaqxml, [good]).stdout, "standard input differs")
        external = os.path.join(data, "external")
        result = run(zaqxml, ["--load-external", os.path.join(external, "chapters.xml")])
        check(result.returncode == 0 and b"<title>Namespaces &amp; their scope</title>" in result.stdout and
              b'<chapter x:href="#one" status="draft">' in result.stdout and
              b'<!DOCTYPE book SYSTEM "book.dtd">' in result.stdout,
              "--load-external: exit %d, %r" % (result.returncode, result.stdout + result.stderr))
        result = run(zaqxml, [os.path.join(external, "chapters.xml")])
        check(result.returncode == 2 and b"--load-external" in result.stderr,
              "an external entity not read: exit %d, %r" % (result.returncode, result.stderr))
        result = run(zaqxml, ["--load-external", os.path.join(external, "remote-dtd.xml")])
        check(result.returncode == 0 and b"warning: skipped the external entity 'http:" in result.stderr,
              "a remote DTD: exit %d, %r" % (result.returncode, result.stderr))
        result = run(zaqxml, ["--prune", os.path.join(data, "roundtrip", "xslt-stylesheet.xsl")])
        check(result.stderr.count(b"warning:") == 1 and b"--keep-prefixes h" in result.stderr,
              "--prune warns once per lost prefix: %r" % result.stderr)
        result = run(zaqxml, ["--prune", "--keep-prefixes", "h,#default", os.path.join(data, "roundtrip",
                                                                                          "xslt-stylesheet.xsl")])
        check(result.returncode == 0 and b"warning" not in result.stderr and b'xmlns:h="' in result.stdout,
              "--keep-prefixes: %r" % result.stderr)
        deep_nesting(zaqxml, tmp)


def main():
    zaqxml, data = EMULATOR + [sys.argv[1]], sys.argv[2]
    corpus = os.path.join(data, "roundtrip")
    for name in sorted(os.listdir(corpus)):
        roundtrip(zaqxml, os.path.join(corpus, name))
    bad = os.path.join(data, "malformed")
    for name in sorted(os.listdir(bad)):
        malformed(zaqxml, os.path.join(bad, name))
    usage(zaqxml, data)
    canonical(zaqxml, data)
    print("%d passed, %d failed" % (checks - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
