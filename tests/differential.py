#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""zaqxml against expat on generated and mutated documents, from a fixed seed.

Generated documents mix the namespace cases rewriters get wrong (prefixes
re-declared and shadowed, the default namespace undeclared, prefixes of the
generated form bound by the input, QNames in attribute values and text) with
attribute types from a DTD, CDATA, character references and entities. Each is
rewritten in every mode, and must parse to the tree expat reads from the
input, keep the namespaces in scope (but under --prune), and rewrite to the
same bytes a second time. Mutated documents (a byte deleted, inserted,
repeated or swapped) must be accepted where expat accepts them, and rejected
with exit status 2 where it does not, and accepted ones obey the same rules.

usage: differential.py ZAQXML [--count N] [--seed S]   (CTest runs a few
dozen; run it by hand with a larger count and other seeds)
"""
import argparse
import os
import random
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from roundtrip import EMULATOR, MODES, declaration_problems, qnames_resolve, run, same_tree, scopes, tree  # noqa: E402

PREFIXES = ["p", "q", "NS1", "NS2", "a"]
URIS = ["u", "v", "w", "urn:x", "http://example.org/ns"]
VALUES = ["", "x", " y  z ", "p:z", "NS1:q", "&#9;t", "a&#13;b", "&amp;&lt;&quot;", "\u00e9\u4e2d", "a\tb"]
TEXTS = ["t", " p:z ", "NS1:w", "a&#13;b", "&amp;", "<![CDATA[c]]d>&<]]>", "<!-- c -->", "<?pi d?>", "\u00e9"]
DTD = ('<!DOCTYPE {root} [<!ATTLIST e kinds NMTOKENS #IMPLIED choice (a|b|c) #IMPLIED id ID #IMPLIED>'
       '<!ENTITY s "<![CDATA[c&#13;d]]>"><!ENTITY t "p:z &#9;">]>')


def generate(rng):
    """A namespace-well-formed document, as text."""
    dtd = rng.random() < 0.3
    budget = [rng.randint(1, 25)]
    parts = []

    def element(scope, depth):
        budget[0] -= 1
        scope = dict(scope)
        declarations = []
        for _ in range(rng.choice((0, 0, 1, 1, 2))):
            prefix = rng.choice(PREFIXES + [""])
            uri = "" if prefix == "" and rng.random() < 0.2 else rng.choice(URIS)
            if any(p == prefix for p, _ in declarations):
                continue
            declarations.append((prefix, uri))
            scope[prefix] = uri
        bound = [p for p, u in scope.items() if p and u]
        prefix = rng.choice(bound) if bound and rng.random() < 0.6 else ""
        local = rng.choice(("e", "f", "z"))
        name = prefix + ":" + local if prefix else local
        attributes, expanded = [], set()
        for _ in range(rng.choice((0, 1, 1, 2, 3))):
            if dtd and name == "e" and rng.random() < 0.5:
                key = rng.choice(("kinds", "choice", "id"))
                value = {"kinds": " x  y &#9;z ", "choice": "  b ", "id": " i%d " % budget[0]}[key]
                ns = None
            else:
                aprefix = rng.choice(bound) if bound and rng.random() < 0.5 else ""
                key = (aprefix + ":" if aprefix else "") + rng.choice(("a", "b", "type"))
                ns = scope[aprefix] if aprefix else None
                value = rng.choice(VALUES)
            if (ns, key.split(":")[-1]) in expanded:
                continue
            expanded.add((ns, key.split(":")[-1]))
            attributes.append('%s="%s"' % (key, value))
        parts.append("<" + " ".join([name] + ['xmlns%s="%s"' % (":" + p if p else "", u) for p, u in declarations] +
                                    attributes))
        if depth > 6 or budget[0] <= 0 or rng.random() < 0.3:
            parts.append("/>")
            return
        parts.append(">")
        while budget[0] > 0 and rng.random() < 0.7:
            if rng.random() < 0.4:
                parts.append(rng.choice(TEXTS + (["&s;", "&t;"] if dtd else [])))
            else:
                element(scope, depth + 1)
        parts.append("</%s>" % name)

    element({"": ""}, 0)
    body = "".join(parts)
    root = body[1:].split(" ", 1)[0].split("/", 1)[0].split(">", 1)[0]
    return (DTD.format(root=root) if dtd else "") + body


def mutate(rng, document):
    data = bytearray(document.encode())
    at = rng.randrange(len(data))
    kind = rng.randrange(4)
    if kind == 0:
        del data[at]
    elif kind == 1:
        data[at:at] = rng.choice(b"<>&'\"=:/ x\t\r;#").to_bytes(1, "big")
    elif kind == 2:
        end = min(len(data), at + rng.randint(1, 12))
        data[at:at] = data[at:end]
    elif at + 1 < len(data):
        data[at], data[at + 1] = data[at + 1], data[at]
    return bytes(data)


def zaqxml_run(zaqxml, args, document):
    return run(zaqxml, args + ["-"], stdin=document)


def verify(zaqxml, document, modes, problems, label):
    """The rules every accepted document obeys, in `modes`."""
    expected = tree(document)
    before = scopes(document)
    for mode in modes:
        name = "%s %s" % (label, " ".join(mode) or "(default)")
        result = zaqxml_run(zaqxml, mode, document)
        if result.returncode != 0:
            problems.append("%s: exit %d: %s" % (name, result.returncode, result.stderr[-200:]))
            continue
        try:
            difference = same_tree(expected, tree(result.stdout))
        except ET.ParseError as e:
            difference = "the output does not parse: %s" % e
        if difference:
            problems.append("%s: %s" % (name, difference))
            continue
        if zaqxml_run(zaqxml, mode, result.stdout).stdout != result.stdout:
            problems.append("%s: a second run writes other bytes" % name)
        after = scopes(result.stdout)
        if "--prune" in mode:
            problems.extend("%s: %s" % (name, p) for p in declaration_problems(result.stdout))
        elif not qnames_resolve(before, after) or any(
                any(b.get(p) != u for p, u in a.items()) for a, b in zip(before["scopes"], after["scopes"])):
            problems.append("%s: namespaces in scope differ" % name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("zaqxml")
    parser.add_argument("--count", type=int, default=40)
    parser.add_argument("--seed", type=int, default=1)
    options = parser.parse_args()
    zaqxml = EMULATOR + [os.path.abspath(options.zaqxml)]
    if EMULATOR or "ASAN_OPTIONS" in os.environ:
        # Ten times slower there: a quarter of the documents, the same seed.
        options.count = max(10, options.count // 4)
    rng = random.Random(options.seed)
    problems, accepted, rejected = [], 0, 0
    for n in range(options.count):
        document = generate(rng).encode()
        try:
            tree(document)
        except ET.ParseError as e:
            problems.append("generated %d does not parse (a fault of this script): %s" % (n, e))
            continue
        verify(zaqxml, document, MODES, problems, "generated %d" % n)
        mutated = mutate(rng, document.decode())
        try:
            tree(mutated)
            expat = True
        except ET.ParseError:
            expat = False
        result = zaqxml_run(zaqxml, [], mutated)
        if expat and result.returncode == 0:
            accepted += 1
            verify(zaqxml, mutated, MODES[:1] + MODES[2:3], problems, "mutated %d" % n)
        elif not expat and result.returncode == 2:
            rejected += 1
        else:
            problems.append("mutated %d: expat %s, zaqxml exit %d %s: %r" % (
                n, "accepts" if expat else "rejects", result.returncode, result.stderr[-200:], mutated[:300]))
    for problem in problems[:40]:
        print("FAIL:", problem)
    print("seed %d: %d generated documents in %d modes, %d mutated (%d accepted, %d rejected as expat does): "
          "%d problems" % (options.seed, options.count, len(MODES), options.count, accepted, rejected,
                           len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
