#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""zaqxml's checks of simple values against a bare Xerces-C validating parse
(sax_validate), on random simple types: restrictions with patterns, lengths
and enumerations over a few built-in types, lists, unions, unions of lists and
lists of unions, restrictions of those (QNames among them: a prefix bound
or not), each used by an element and an
attribute, with random values. zaqxml matches patterns and chooses a union's
member itself; the verdict, first error (line, column, words) and number of
errors must still be the parser's, for every document. The same documents
are checked again naming their schema (--schema-from-document): its patterns
are then taken over as the parser reads it, before the attributes of the
element that names it.

usage: value_fuzz.py ZAQXML SAX_VALIDATE [SEED [SCHEMAS]]"""
import os
import random
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import validation  # noqa: E402  (its verdict readers)

PATTERNS = ["[A-Z]+", "[a-z]+", "[0-9]+", "(ab)*", "a.c", "[a-c]{2,3}", "\\d+\\.\\d", "x*y?", "[A-Za-z0-9]{1,4}",
            "(a|b)+", ".*z"]
BASES = ["xs:string", "xs:token", "xs:integer", "xs:decimal", "xs:NMTOKEN", "xs:boolean", "xs:date", "xs:QName"]
VALUES = ["AB", "ab", "12", "1.5", "abc", "ABCD", "z", "xyz", "aac", "ab ab", "true", "2020-01-01", " 12 ", "a1", "",
          "abab", "AB 12", "A", "x", "1.0", "t:ab", "q:AB", "t:x y:z"]


def simple_type(rng, name, depth, defined):
    """Defines `name` (and the types it is made of) into `defined`."""
    kind = rng.random()
    if depth > 2 or kind < 0.5:
        base = rng.choice(BASES)
        facets = ""
        if rng.random() < 0.8:
            facets += '<xs:pattern value="%s"/>' % rng.choice(PATTERNS)
        if rng.random() < 0.3 and base in ("xs:string", "xs:token", "xs:NMTOKEN"):
            facets += '<xs:maxLength value="%d"/>' % rng.randint(1, 4)
        if rng.random() < 0.2:
            facets += '<xs:enumeration value="%s"/><xs:enumeration value="%s"/>' % (rng.choice(VALUES),
                                                                                   rng.choice(VALUES))
        defined.append('<xs:simpleType name="%s"><xs:restriction base="%s">%s</xs:restriction></xs:simpleType>' % (
            name, base, facets))
    elif kind < 0.75:
        members = []
        for i in range(rng.randint(2, 3)):
            simple_type(rng, "%s_%d" % (name, i), depth + 1, defined)
            members.append("t:%s_%d" % (name, i))
        if rng.random() < 0.3:
            members.append(rng.choice(BASES))
        defined.append('<xs:simpleType name="%s"><xs:union memberTypes="%s"/></xs:simpleType>' % (
            name, " ".join(members)))
    elif kind < 0.88:
        simple_type(rng, name + "_i", depth + 1, defined)
        defined.append('<xs:simpleType name="%s"><xs:list itemType="t:%s_i"/></xs:simpleType>' % (name, name))
    else:
        simple_type(rng, name + "_b", depth + 1, defined)
        facet = ('<xs:pattern value="%s"/>' % rng.choice(PATTERNS) if rng.random() < 0.7
                 else '<xs:enumeration value="%s"/>' % rng.choice(VALUES))
        defined.append('<xs:simpleType name="%s"><xs:restriction base="t:%s_b">%s</xs:restriction></xs:simpleType>' % (
            name, name, facet))

NAMING = ' xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:schemaLocation="urn:t %s"'


def main():
    zaqxml, bare = sys.argv[1], sys.argv[2]
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    schemas = int(sys.argv[4]) if len(sys.argv) > 4 else 40
    rng = random.Random(seed)
    work = tempfile.mkdtemp(prefix="zaq-values-")
    failures, documents = [], 0
    try:
        for case in range(schemas):
            defined = []
            simple_type(rng, "T", 0, defined)
            schema = os.path.join(work, "s%d.xsd" % case)
            with open(schema, "w") as f:
                f.write('<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" targetNamespace="urn:t" '
                        'xmlns:t="urn:t" elementFormDefault="qualified">' + "".join(defined) +
                        '<xs:element name="r"><xs:complexType><xs:sequence><xs:element name="v" type="t:T" '
                        'maxOccurs="unbounded"/></xs:sequence><xs:attribute name="a" type="t:T"/></xs:complexType>'
                        '</xs:element></xs:schema>')
            files, named = [], []
            for i in range(6):
                values = "".join("<v>%s</v>" % rng.choice(VALUES) for _ in range(rng.randint(1, 3)))
                attribute = ' a="%s"' % rng.choice(VALUES) if rng.random() < 0.4 else ""
                for kind, start, into in (("d", "", files), ("n", NAMING % schema, named)):
                    path = os.path.join(work, "%s%d_%d.xml" % (kind, case, i))
                    with open(path, "w") as f:
                        f.write('<r xmlns="urn:t" xmlns:t="urn:t"%s%s>%s</r>' % (start, attribute, values))
                    into.append(path)
            ours, status = validation.zaqxml_verdicts(zaqxml, ["--schema", schema], files)
            theirs = validation.bare_verdicts(bare, ["--schema", schema], files)
            if status == 5 or not theirs:
                # A schema one of them cannot use: both must refuse it.
                if (status == 5) != (not theirs):
                    failures.append("%s: zaqxml exit %d, Xerces-C %s" % (schema, status, theirs))
                continue
            ours.update(validation.zaqxml_verdicts(zaqxml, ["--schema-from-document"], named)[0])
            theirs.update(validation.bare_verdicts(bare, ["--schema-from-document"], named))
            for path in files + named:
                documents += 1
                if ours[path] != theirs.get(path):
                    with open(schema) as s, open(path) as d:
                        failures.append("%s\n  %s\n  zaqxml %s, Xerces-C %s" % (s.read(), d.read(), ours[path],
                                                                                theirs.get(path)))
        print("%d random schemas, %d documents: verdicts, first errors and counts as a bare Xerces-C parse gives "
              "them%s" % (schemas, documents, "" if failures else " (all)"))
    finally:
        shutil.rmtree(work)
    for failure in failures:
        print("FAIL " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
