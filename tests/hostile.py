#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""zaqxml under hostile input and careless use: one table of cases, each with
the exit status and message it must give, within a time and memory bound
(generous: the suite also runs under the sanitizers; the real figures come
from bench/hostile.sh), then the -o file cases.

usage: hostile.py ZAQXML
"""
import os
import random
import resource
import stat
import subprocess
import sys
import tempfile
import time

failures = []
checks = 0


def check(condition, message):
    global checks
    checks += 1
    if not condition:
        failures.append(message)
        print("FAIL: " + message, file=sys.stderr)
    return condition


def entity_doc(uses, in_attribute):
    refs = "&e;" * uses
    body = '<r a="%s"/>' % refs if in_attribute else "<r>%s</r>" % refs
    return '<!DOCTYPE r [<!ENTITY e "%s">]>%s' % ("x" * 100000, body)


def defaults_doc():
    attributes = "".join('<!ATTLIST r a%d CDATA "v">' % i for i in range(5000))
    return "<!DOCTYPE d [%s]><d>%s</d>" % (attributes, "<r/>" * 20000)


# Where the program cannot run natively (a 32-bit build on a kernel without
# 32-bit support), the build passes the emulator that runs it.
EMULATOR = os.environ.get("ZAQ_TEST_EMULATOR", "").split()

def attributes_doc(namespaces, prolog):
    """A start tag declaring `namespaces` prefixes, and one attribute a in each."""
    return prolog + '<r %s/>' % " ".join('xmlns:p%d="urn:%d" p%d:a="1"' % (i, i, i) for i in range(namespaces // 2)) \
        if namespaces % 2 == 0 else attributes_doc(namespaces - 1, prolog).replace("<r ", '<r b="1" ', 1)


VALIDATION = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "validation")


def orders_doc(count):
    return '<p:orders xmlns:p="urn:po">' + "".join(
        '<p:order id="o%d"><p:qty>1</p:qty><p:sku>ABC-%d</p:sku></p:order>' % (i, i) for i in range(count)) + \
        "</p:orders>"


# name, document, arguments, exit status, text the diagnostics must hold[, seconds it may take[, MiB]]
CASES = [
    # Validation: the instance is not trusted, the schema is.
    # Pattern facets are matched by the tool in linear time: Xerces-C's
    # matcher took 1.5 s over 24 characters of (a|a)*b, and 8 s over 200 000
    # of (ab)*; a union's member is chosen by the tool too. A union with a
    # member only the parse can check (a QName) keeps the parser's matcher,
    # so a pattern it would backtrack on refuses the schema.
    ("10^6 characters against (a|a)*b, --schema", "<a>" + "a" * 1000000 + "</a>",
     ["--noout", "--schema", os.path.join(VALIDATION, "backtracking.xsd")], 3, b"invalid: value 'aaa", 0.5, 48),
    ("5x10^5 random a and b against [ab]*a[ab]{1000}, --schema",
     "<a>" + "".join(random.Random(7).choices("ab", k=498999)) + "a" + "b" * 1000 + "</a>",
     ["--noout", "--schema", os.path.join(VALIDATION, "states.xsd")], 0, b"", 2, 48),
    ("10^6 characters against a union member's (a|a)*b, --schema", "<r><a>" + "a" * 1000000 + "</a></r>",
     ["--noout", "--schema", os.path.join(VALIDATION, "members.xsd")], 3, b"invalid: value 'aaa", 0.5, 48),
    ("10^6 characters against a union member's (ab)*, --schema", "<r><ab>" + "ab" * 500000 + "</ab></r>",
     ["--noout", "--schema", os.path.join(VALIDATION, "members.xsd")], 0, b"", 1, 48),
    ("a backtracking pattern in a union with an ENTITY member, --schema",
     "<a>aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa</a>", ["--schema", os.path.join(VALIDATION, "union.xsd")], 5,
     b"--trust-patterns", 0.25),
    ("10^5 levels of lax xs:any", "<a>" * 100000 + "</a>" * 100000, ["--schema", os.path.join(VALIDATION, "lax.xsd")],
     2, b"--max-depth", 2),
    ("10^4 levels of lax xs:any", "<a>" * 10000 + "</a>" * 10000, ["--schema", os.path.join(VALIDATION, "lax.xsd")],
     0, b"", 5, 64),
    ("10^6 elements validated", "<a>" + '<a n="1"/>' * 1000000 + "</a>", ["--noout", "--schema",
                                                                         os.path.join(VALIDATION, "lax.xsd")],
     0, b"", 2.5, 40),
    # The parser keeps an element's children until its end tag, to check
    # them against its content model (8 bytes a child): the tool keeps its
    # list to the states the model passes through (57 MiB here before).
    ("3x10^6 children of one element, --schema",
     '<m:seq xmlns:m="urn:m">' + "<m:a/>" * 3000000 + "<m:b/></m:seq>",
     ["--noout", "--schema", os.path.join(VALIDATION, "models.xsd")], 0, b"", 2.5, 32),
    ("3x10^6 children of one element, --valid",
     "<!DOCTYPE r [<!ELEMENT r (a*)><!ELEMENT a EMPTY>]><r>" + "<a/>" * 3000000 + "</r>", ["--noout", "--valid"], 0,
     b"", 1.2, 32),
    ("4x10^5 IDs and unique values, --max-validation-memory 32", orders_doc(400000),
     ["--noout", "--max-validation-memory", "32", "--schema", os.path.join(VALIDATION, "orders.xsd")], 2,
     b"--max-validation-memory", 10, 128),
    ("a content model of 50 000 particles, --valid", "<!DOCTYPE r [<!ELEMENT r (%s)>]><r/>" % ",".join(["a"] * 50000),
     ["--valid"], 2, b"--max-content-model", 2),
    ("a choice of 20 000 names, --valid",
     "<!DOCTYPE r [<!ELEMENT r (%s)*>]><r/>" % "|".join("a%d" % i for i in range(20000)), ["--valid"], 2,
     b"--max-content-model", 2),
    ("a schema that is a FIFO", "<a/>", ["--schema", "fifo.ent"], 5, b"not a regular file", 5),
    ("a document naming a schema with a pattern that backtracks, --schema-from-document",
     '<a xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:noNamespaceSchemaLocation="%s">%s</a>' % (
         os.path.join(VALIDATION, "backtracking.xsd"), "a" * 40), ["--schema-from-document"], 2, b"--trust-patterns",
     5),
    ("10^6 characters against (a|b)*c, an import without a location", "<r>" + "ab" * 500000 + "c</r>",
     ["--noout", "--schema", os.path.join(VALIDATION, "alternation.xsd")], 0, b"", 0.5, 48),
    ("10^6 characters of (ab)* in a schema the document names, --schema-from-document",
     '<a xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:noNamespaceSchemaLocation="%s">%s</a>' % (
         os.path.join(VALIDATION, "quadratic.xsd"), "ab" * 500000), ["--noout", "--schema-from-document"], 0, b"",
     0.5, 48),
    ("10^6 characters of (ab)* in an attribute of the element naming the schema, --schema-from-document",
     '<a xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:noNamespaceSchemaLocation="%s" k="%s">ab</a>' % (
         os.path.join(VALIDATION, "quadratic.xsd"), "ab" * 500000), ["--noout", "--schema-from-document"], 0, b"",
     0.5, 48),
    ("10^6 characters of (ab)* in --schema's type, with --schema-from-document",
     '<a k="%s">%s</a>' % ("ab" * 500000, "ab" * 500000),
     ["--noout", "--schema", os.path.join(VALIDATION, "quadratic.xsd"), "--schema-from-document"], 0, b"", 0.5, 48),
    ("--schema's type given back to the parser for one document only (it names a union reaching it)",
     '<a k="%s">ab</a>' % ("ab" * 100000),
     ["--noout", "--schema", os.path.join(VALIDATION, "quadratic.xsd"), "--schema-from-document",
      os.path.join(VALIDATION, "entity-union.xml")], 0, b"", 0.5, 48),
    ("10^6 characters of (ab)* in a union with a QName member", '<a q="%s">ab</a>' % ("ab" * 500000),
     ["--noout", "--schema", os.path.join(VALIDATION, "quadratic.xsd")], 0, b"", 0.5, 48),
    # Patterns the parser still matches itself (quadratic in a value) take
    # values up to --max-matched-value characters.
    ("10^6 characters of a union with an ENTITY member in an attribute",
     '<a k="%s">ab</a>' % ("ab" * 500000), ["--noout", "--schema", os.path.join(VALIDATION, "kept.xsd")], 2,
     b"--max-matched-value", 0.5, 48),
    ("10^6 characters of a union with an ENTITY member as text", '<a k="ab">%s</a>' % ("ab" * 500000),
     ["--noout", "--schema", os.path.join(VALIDATION, "kept.xsd")], 2, b"--max-matched-value", 0.5, 48),
    ("6 000 characters of it, --max-matched-value 6000", '<a k="%s">ab</a>' % ("ab" * 3000),
     ["--noout", "--max-matched-value", "6000", "--schema", os.path.join(VALIDATION, "kept.xsd")], 0, b"", 0.5),
    ("an xsi:schemaLocation on the network, --schema-from-document",
     '<a xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:noNamespaceSchemaLocation="http://127.0.0.1:9/a.xsd"/>',
     ["--schema-from-document"], 2, b"only local files are read", 5),
    ("10^5 nested elements", "<a>" * 100000 + "</a>" * 100000, [], 2, b"--max-depth"),
    ("10^4 nested, raised limit", "<a>" * 10001 + "</a>" * 10001, ["--max-depth", "10001"], 0, b""),
    ("10^4 nested, --format", "<a>" * 10000 + "</a>" * 10000, ["--format"], 2, b"--format indenting deep nesting"),
    ("entity 40 000x in text", entity_doc(40000, False), [], 2, b"--max-expansion"),
    ("entity 2 000x in an attribute", entity_doc(2000, True), [], 2, b"--max-expansion"),
    ("5 000 default attributes x 20 000", defaults_doc(), [], 2, b"--max-expansion"),
    # Xerces-C's start tag scan is quadratic in the attributes (one scanner
    # compares every name, the other hashes one local name to one bucket):
    # the limit stops such a tag as it is read, and up to it a tag is quick.
    ("80 000 namespaced attributes",
     '<r xmlns:p="urn:p" %s/>' % " ".join('p:a%d="1"' % i for i in range(80000)), [], 2, b":1:118898: a start tag"),
    ("80 000 namespaced attributes, raised limit",
     '<r xmlns:p="urn:p" %s/>' % " ".join('p:a%d="1"' % i for i in range(80000)), ["--max-attributes", "80001"], 0, b"",
     2),
    ("10 000 attributes in UTF-16", attributes_doc(10000, "").encode("utf-16"), [], 0, b"", 2),
    ("10 001 attributes in UTF-16", attributes_doc(10001, "").encode("utf-16"), [], 2, b"--max-attributes"),
    ("5 000 namespaces, one local name, and a DTD", attributes_doc(5000, "<!DOCTYPE r>"), [], 0, b"", 2),
    ("a start tag of 50 attributes in an entity, --max-attributes 3",
     '<!DOCTYPE r [<!ENTITY e "%s">]><r>&e;</r>' % attributes_doc(50, "").replace('"', "'"), ["--max-attributes", "3"],
     2, b"--max-attributes"),
    ("a start tag of 20 000 namespaces in an entity",
     '<!DOCTYPE r [<!ENTITY e "%s">]><r>&e;</r>' % attributes_doc(40000, "").replace('"', "'"), [], 2,
     b"--max-attributes"),
    # The canonical forms and --hoist's first reading are held to the same bounds.
    ("entity 40 000x in text, --exc-c14n", entity_doc(40000, False), ["--exc-c14n"], 2, b"--max-expansion"),
    ("entity 2 000x in an attribute, --c14n", entity_doc(2000, True), ["--c14n"], 2, b"--max-expansion"),
    ("10^5 nested elements, --c14n11", "<a>" * 100000 + "</a>" * 100000, ["--c14n11"], 2, b"--max-depth"),
    ("entity 40 000x in text, --hoist", entity_doc(40000, False), ["--hoist"], 2, b"--max-expansion", 5),
    ("10^5 nested elements, --hoist", "<a>" * 100000 + "</a>" * 100000, ["--hoist"], 2, b"--max-depth"),
    ("10^5 prefixes of one namespace, --hoist",
     "<r>" + "".join('<p%d:s xmlns:p%d="urn:one"/>' % (i, i) for i in range(100000)) + "</r>",
     ["--hoist", "--max-prefixes", "100000", "--max-names", "100001"], 0, b"", 5),
    # Each distinct prefix and element name costs the parser (and the prefix
    # manager) memory until the document ends: the limits keep a document
    # of endless new ones under 64 MiB.
    *[("10^6 distinct prefixes, one namespace %s" % " ".join(mode),
       "<r>" + "".join('<e xmlns:p%d="urn:same"/>' % i for i in range(10**6)) + "</r>", mode, 2,
       b":1:1388922: more than 50000 distinct prefixes declared; --max-prefixes raises the limit", 5, 64)
      for mode in ([], ["--hoist"], ["--c14n"])],
    *[("10^6 distinct element names %s" % " ".join(mode), "<r>" + "".join("<n%d/>" % i for i in range(10**6)) + "</r>",
       mode, 2, b":1:438894: more than 50000 distinct element names; --max-names raises the limit", 5, 64)
      for mode in ([], ["--hoist"], ["--c14n"])],
    # A long name or prefix counts once more for every 64 characters.
    ("5 000 prefixes of 1 000 characters",
     "<r>" + "".join('<e xmlns:p%s%d="urn:x"/>' % ("x" * 1000, i) for i in range(5000)) + "</r>", [], 2,
     b"--max-prefixes raises the limit", 5, 64),
    ("5 000 element names of 1 000 characters",
     "<r>" + "".join("<n%s%d/>" % ("x" * 1000, i) for i in range(5000)) + "</r>", [], 2,
     b"--max-names raises the limit", 5, 64),
    ("200 namespace names of 10 000 characters",
     "<r>" + "".join('<e xmlns:p="urn:%s%d"/>' % ("x" * 10000, i) for i in range(200)) + "</r>", [], 2,
     b"--max-namespaces raises the limit", 5, 64),
    # What a DTD declares stays for the whole document: the parser's memory
    # while it reads one is bounded.
    *[("a DTD of %s" % name, "<!DOCTYPE r [%s]><r/>" % dtd, [], 2, b"--max-dtd-memory raises the limit", 5, 64)
      for name, dtd in (("a content model of 3x10^5 particles", "<!ELEMENT r (%s)>" % ",".join(["a"] * 300000)),
                        ("a choice of 3x10^5 names", "<!ELEMENT r (%s)*>" % "|".join("a%d" % i for i in range(300000))),
                        ("3x10^5 attribute lists", "".join("<!ATTLIST n%d a CDATA #IMPLIED>" % i for i in range(300000))),
                        ("3x10^5 entities", "".join('<!ENTITY e%d "x">' % i for i in range(300000))))],
    ("10^6 distinct prefixed names, each its own prefix",
     "<r>" + "".join('<p%d:e xmlns:p%d="urn:same"/>' % (i, i) for i in range(10**6)) + "</r>", [], 2,
     b"--max-names raises the limit", 5, 64),
    ("--select that matches nothing, --digest", "<r/>", ["--exc-c14n", "--select", "#nope", "--digest", "sha256"], 2,
     b"no element matches --select #nope"),
    ("an XML 1.1 document, --c14n", '<?xml version="1.1"?><r a="&#1;"/>', ["--c14n"], 2, b"XML 1.0 documents"),
    ("a relative namespace URI, --c14n", '<r xmlns:p="rel/x"><p:s/></r>', ["--c14n"], 2, b"relative namespace URI"),
    ("billion laughs", '<!DOCTYPE r [<!ENTITY a "aaaaaaaaaa">' +
     "".join('<!ENTITY %s "%s">' % (chr(98 + i), ("&%s;" % chr(97 + i)) * 10) for i in range(9)) +
     "]><r>&j;</r>", [], 2, b"entit"),
    ("invalid UTF-8 on line 5002", b"<r>\n" + b"<a>t</a>\n" * 5000 + b"<b>\xff</b></r>", [], 2,
     b":5002:4: the byte \\xFF"),
    ("invalid UTF-8 after CR, CR LF and an emoji", b"<r>\r\n\r\r\nab\xf0\x9f\x98\x80\xff</r>", [], 2, b":4:5:"),
    ("UTF-16LE without a byte order mark", '<?xml version="1.0" encoding="UTF-16"?><r/>'.encode("utf-16-le"), [], 0,
     b""),
    ("Latin-1 named after 250 spaces", ('<?xml version="1.0"%s encoding="ISO-8859-1"?><r>\u00e9</r>' % (" " * 250))
     .encode("latin-1"), [], 0, b""),
    ("NUL in an attribute value", b'<r a="x\x00y"/>', [], 2, b"NUL"),
    ("an undefined entity, external DTD not read", '<!DOCTYPE r SYSTEM "no.dtd"><r>&x;</r>', [], 2, b"'x'"),
    ("an entity in content that cannot be read", '<!DOCTYPE r [<!ENTITY e SYSTEM "http://x/e.xml">]><r>&e;</r>',
     ["--load-external"], 2, b"cannot read the external entity 'http://x/e.xml'"),
    ("an external entity that is a FIFO", '<!DOCTYPE r [<!ENTITY e SYSTEM "fifo.ent">]><r>&e;</r>',
     ["--load-external"], 2, b"fifo.ent: not a regular file", 5),
    ("an external DTD that is a FIFO", '<!DOCTYPE r SYSTEM "fifo.ent"><r/>', ["--load-external"], 0,
     b"not a regular file", 5),
    ("a system id with a terminal escape", '<!DOCTYPE r [<!ENTITY e SYSTEM "\x1b[7mX">]><r>&e;</r>',
     ["--load-external"], 2, b"'\\x1B[7mX'"),
    ("a control character in the DOCTYPE's system id", '<!DOCTYPE r SYSTEM "a\x01b"><r/>', [], 2,
     b"invalid character 0x1 in the DOCTYPE's system id"),
    ("a file: URL on another host", '<!DOCTYPE r [<!ENTITY e SYSTEM "file://remote.example/etc/hostname">]><r>&e;</r>',
     ["--load-external"], 2, b"on the host 'remote.example' is not a local file"),
    ("a file: URL with %00", '<!DOCTYPE r [<!ENTITY e SYSTEM "file:///etc/hostname%00.ent">]><r>&e;</r>',
     ["--load-external"], 2, b"NUL %-escape"),
    ("60 000 predefined entities, no DTD", "<r>" + "&amp;" * 60000 + "</r>", [], 0, b""),
    ("a DTD after the XML declaration, a comment and a PI",
     '<?xml version="1.0"?><!-- c --><?pi x?>\n<!DOCTYPE r SYSTEM "no.dtd"><r>&x;</r>', [], 2, b"'x'"),
    ("a DTD after 70 000 bytes of comment", "<!--" + "c" * 70000 + '--><!DOCTYPE r SYSTEM "no.dtd"><r>&x;</r>',
     [], 2, b"'x'"),
    ("a duplicate attribute after 100 others, through two prefixes",
     '<r xmlns:p="u" xmlns:q="u" p:z="1" ' + " ".join('a%d=""' % i for i in range(97)) + ' q:z="2"/>', [], 2,
     b"'z' is already specified"),
    ("a DTD that UTF-7 hides from a byte check",
     '<?xml version="1.0" encoding="UTF-7"?><?p +AD8APg-<!DOCTYPE r [<!ENTITY e "x">]><?q ?><r>&e;</r>', [], 0, b""),
    ("an EBCDIC document", '<?xml version="1.0" encoding="IBM037"?><r a="x">\u00e9</r>'.encode("cp037"), [], 0,
     b""),
    ("an element named xmlns:e", '<r xmlns:e="urn:e"><xmlns:e/></r>', [], 2, b"xmlns"),
    *[("a DTD default that repeats a written attribute through another prefix, %s" % (mode or ["default"])[0],
       '<!DOCTYPE r [<!ATTLIST v a:x CDATA "ax" xmlns:a CDATA "urn:a">]><r xmlns:p="urn:a"><v p:x="1"/></r>', mode, 2,
       b":1:96: the attribute 'p:x' and the DTD's default 'a:x' name one attribute")
      for mode in ([], ["--prune"], ["--generate"], ["--format"], ["--hoist"], ["--c14n"], ["--exc-c14n"])],
    ("a DTD default that repeats one of 40 written attributes",
     '<!DOCTYPE r [<!ATTLIST r a:x CDATA "ax" xmlns:a CDATA "urn:a">]><r xmlns:p="urn:a" %s p:x="1"/>' %
     " ".join('b%d="1"' % i for i in range(40)), [], 2, b"the attribute 'p:x' and the DTD's default 'a:x'"),
    ("two DTD defaults that are one attribute",
     '<!DOCTYPE r [<!ATTLIST r a:x CDATA "1" b:x CDATA "2" xmlns:a CDATA "urn:a" xmlns:b CDATA "urn:a">]><r/>', [], 2,
     b"name one attribute"),
    # A canonical form holds what the external DTD declares: read as
    # --load-external reads it; one that cannot be read fails the document.
    *[("an unreadable external DTD, %s" % mode, '<!DOCTYPE r SYSTEM "no.dtd"><r/>', [mode], 2,
       b":1:29: cannot read the external DTD part 'no.dtd'") for mode in ("--c14n", "--c14n11", "--exc-c14n")],
    ("an unreadable external DTD, --c14n --digest", '<!DOCTYPE r SYSTEM "http://x.invalid/r.dtd"><r/>',
     ["--c14n", "--digest", "sha256"], 2, b"--no-load-external reads no external DTD"),
    ("an unreadable external DTD, --c14n --no-load-external", '<!DOCTYPE r SYSTEM "no.dtd"><r/>',
     ["--c14n", "--no-load-external"], 0, b"was not read"),
    ("--no-load-external without a canonical form", "<r/>", ["--no-load-external"], 1, b"goes with --c14n"),
    # --format's held output is bounded with the indentation it may take;
    # PIs and comments are held to the expansion bound as they come.
    ("10^3 levels, 5x10^4 PIs in the deepest, --format", "<a>" * 1000 + "<?p xxxxxxxxxxxxxxxxxxxx?>" * 50000 +
     "</a>" * 1000, ["--format", "--max-expansion", "0"], 0, b"", 5, 64),
    ("3 000 levels, 3x10^4 PIs, --format --format-lookahead 1024", "<a>" * 3000 + "<?p?>" * 30000 + "</a>" * 3000,
     ["--format", "--format-lookahead", "1024"], 2, b"--max-expansion", 5, 64),
    # Content models are never checked, so never built into automata: one of
    # 50 000 particles overflowed the stack, a choice of 30 000 took 26 s
    # (20 000 names fit in --max-dtd-memory).
    ("a content model of 50 000 particles", "<!DOCTYPE r [<!ELEMENT r (%s)>]><r/>" % ",".join(["a"] * 50000),
     [], 0, b"", 2),
    ("a choice of 20 000 names", "<!DOCTYPE r [<!ELEMENT r (%s)*>]><r/>" % "|".join("a%d" % i for i in range(20000)),
     [], 0, b"", 2),
    # --select #ID names one element: a second one fails (signature wrapping).
    *[("two elements with the ID --select names, %s" % where, doc, ["--c14n", "--select", "#b1", "--id-attribute",
                                                                    "{urn:w}Id"], 2, b"a second element has the ID 'b1'")
      for where, doc in (("apart", "<r xmlns:w='urn:w'><x><b w:Id='b1'>evil</b></x><b w:Id='b1'>good</b></r>"),
                         ("nested", "<r xmlns:w='urn:w'><b w:Id='b1'><c Id='b1'/></b></r>"))],
    ("two elements of one DTD ID, one padded", "<!DOCTYPE r [<!ATTLIST e k ID #IMPLIED>]><r><e k='x'/><e k=' x '/></r>",
     ["--c14n", "--select", "#x"], 2, b"a second element has the ID 'x'"),
    # --format holds text in a mixed child within the lookahead too, and
    # white space past 64 KiB in content already written indented is layout.
    ("20 MB of text in a mixed child, --format --format-lookahead 1024", "<root>\n <x>" + "x" * 20000000 + "</x></root>",
     ["--format", "--format-lookahead", "1024"], 0, b"", 5, 64),
    ("100 kB of white space in indented content", "<r>" + "<e/>" * 300 + " " * 100000 + "<e/></r>",
     ["--format", "--format-lookahead", "1024"], 0, b""),
    *[("--id-attribute %r" % name, "<r/>", ["--c14n", "--select", "#x", "--id-attribute", name], 1,
       b"--id-attribute takes") for name in ("{urn:w}Id}", " Id", "{ urn:w}Id", "p:Id")],
    ("an empty input name", None, [""], 1, b"empty"),
    ("an empty document", "", [], 2, b"the document is empty"),
    ("more distinct namespaces than allowed",
     "<r>%s</r>" % "".join('<p:a xmlns:p="urn:%d"/>' % i for i in range(600)), ["--max-namespaces", "500"], 2,
     b"--max-namespaces"),
    ("standard input twice", None, ["-", "-"], 1, b"only once"),
    ("one --prefer prefix for two namespaces", "<r/>", ["--prefer", "q=urn:a", "--prefer", "q=urn:b"], 1,
     b"one prefix names one namespace"),
    ("--pool-size=2048", "<r/>", ["--pool-size=2048"], 0, b""),
    ("--pool-size 31", "<r/>", ["--pool-size", "31"], 1, b"from 32 to"),
    ("--pool-size too large", "<r/>", ["--pool-size", "10000000"], 1, b"from 32 to"),
    ("an ambiguous option prefix", "<r/>", ["--pr"], 1, b"'--pr' is ambiguous: --prune, --prefer"),
    ("-o=FILE", "<r/>", ["-o=out.xml"], 1, b"-o FILE or --output=FILE"),
    ("--prefer with a prefix from U+F900", "<r/>", ["--prefer", "\uf900p=urn:x"], 0, b""),
    ("--prefer with a non-NCName", "<r/>", ["--prefer", "p\u00d7q=urn:x"], 1, b"NCName"),
    ("a directory", None, ["/"], 2, b"is a directory"),
    ("a missing file", None, ["/nonexistent/x.xml"], 2, b"No such file"),
    ("-- ends the options", None, ["--", "--sample"], 2, b"--sample: cannot open"),
]


def run(zaqxml, args, stdin=None, timeout=120, env=None):
    """Runs zaqxml in a child that reports its own peak RSS."""
    probe = ("import resource, subprocess, sys\n"
             "r = subprocess.run(sys.argv[1:], stdin=sys.stdin, capture_output=True)\n"
             "sys.stdout.buffer.write(b'%d %d\\n' % (r.returncode, "
             "resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss))\n"
             "sys.stdout.buffer.write(r.stderr)\n")
    started = time.monotonic()
    out = subprocess.run([sys.executable, "-c", probe, *zaqxml] + args, input=stdin, capture_output=True,
                         timeout=timeout, env=env)
    seconds = time.monotonic() - started
    first, _, stderr = out.stdout.partition(b"\n")
    status, rss = (int(x) for x in first.split())
    return status, rss / 1024, seconds, stderr


def table(zaqxml):
    with tempfile.TemporaryDirectory() as tmp:
        os.mkfifo(os.path.join(tmp, "fifo.ent"))  # with no writer: opening it to read would block
        for name, document, args, status, needle, *bound in CASES:
            args = [os.path.join(tmp, a) if a == "fifo.ent" else a for a in args]  # the FIFO made above
            if document is not None:
                path = os.path.join(tmp, "case.xml")
                with open(path, "wb") as f:
                    f.write(document if isinstance(document, bytes) else document.encode())
                args = args + [path]
            # Xerces-C loses what it has built of a DTD when an error stops
            # the DTD's scan (tests/lsan.supp); the suppression's frame is
            # seen only with accurate stacks.
            env = None
            if "ASAN_OPTIONS" in os.environ and status == 2 and document is not None and \
                    (b"<!DOCTYPE" if isinstance(document, bytes) else "<!DOCTYPE") in document:
                env = dict(os.environ, ASAN_OPTIONS=os.environ["ASAN_OPTIONS"] + ":fast_unwind_on_malloc=0")
            got, mib, seconds, stderr = run(zaqxml, args, env=env)
            check(got == status and needle in stderr,
                  "%s: exit %d (expected %d), %r" % (name, got, status, stderr[-300:]))
            if EMULATOR:
                continue  # time and memory are the emulator's, not the program's
            # A case's own bound is its promise for an optimised build; under
            # the sanitizers (a debug build, several times slower) only the
            # general one is checked.
            optimised = "ASAN_OPTIONS" not in os.environ
            limit = bound[0] if bound and optimised else 60
            memory = bound[1] if len(bound) > 1 and optimised else 1024
            check(seconds < limit and mib < memory, "%s: %.1f s, %.0f MiB" % (name, seconds, mib))


def output_files(zaqxml):
    with tempfile.TemporaryDirectory() as tmp:
        source = os.path.join(tmp, "in.xml")
        with open(source, "w") as f:
            f.write("<r/>")

        def write(target, *extra):
            return subprocess.run([*zaqxml, "-o", target, *extra, source], capture_output=True).returncode

        old = os.umask(0o027)
        try:
            fresh = os.path.join(tmp, "new.xml")
            check(write(fresh) == 0 and stat.S_IMODE(os.stat(fresh).st_mode) == 0o640, "a new file: mode")
        finally:
            os.umask(old)
        kept = os.path.join(tmp, "kept.xml")
        with open(kept, "w") as f:
            f.write("old")
        os.chmod(kept, 0o604)
        check(write(kept) == 0 and stat.S_IMODE(os.stat(kept).st_mode) == 0o604, "a replaced file keeps its mode")
        link = os.path.join(tmp, "link.xml")
        os.symlink("kept.xml", link)
        os.chmod(kept, 0o644)
        check(write(link) == 0 and os.path.islink(link) and open(kept).read().startswith("<?xml"),
              "a symlink is followed and kept")
        loop = os.path.join(tmp, "loop")
        os.symlink("loop", loop)
        check(write(loop) == 2 and os.path.islink(loop), "a symlink loop is an error and stays a link")
        fifo = os.path.join(tmp, "fifo")
        os.mkfifo(fifo)
        reader = subprocess.Popen(["cat", fifo], stdout=subprocess.PIPE)
        check(write(fifo) == 0 and stat.S_ISFIFO(os.stat(fifo).st_mode), "a FIFO is written through")
        check(reader.communicate(timeout=30)[0].startswith(b"<?xml"), "the FIFO's reader gets the document")
        long_name = os.path.join(tmp, "a" * 250 + ".x")
        check(write(long_name) == 0 and os.path.exists(long_name), "a 252-character name")
        piped = subprocess.run([*zaqxml, "-o", "/dev/stdout", source], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        check(piped.returncode == 0 and piped.stdout.startswith(b"<?xml"),
              "-o /dev/stdout on a pipe is written through: %r" % piped.stderr)
        dash = subprocess.run([*zaqxml, "-o", "-", source], capture_output=True, cwd=tmp)
        check(dash.returncode == 0 and dash.stdout.startswith(b"<?xml") and not os.path.exists(
            os.path.join(tmp, "-")), "-o - is standard output")
        check(sorted(n for n in os.listdir(tmp) if n.startswith(".")) == [], "a temporary file was left behind")
        # Interrupted while the input is still open: the temporary file goes.
        slow = subprocess.Popen([*zaqxml, "-o", os.path.join(tmp, "sig.xml")], stdin=subprocess.PIPE)
        slow.stdin.write(b"<r>")
        slow.stdin.flush()
        deadline = time.monotonic() + 30
        while not any(n.startswith(".zaqxml") for n in os.listdir(tmp)) and time.monotonic() < deadline:
            time.sleep(0.05)
        slow.terminate()
        check(slow.wait(timeout=30) == -15, "SIGTERM: the process ends by the signal")
        check(not any(n.startswith(".zaqxml") or n == "sig.xml" for n in os.listdir(tmp)),
              "SIGTERM: the temporary file is removed")
        slow.stdin.close()
        full = subprocess.run([*zaqxml, "-o", "/dev/full", "--sample"], capture_output=True)
        check(full.returncode == 2 and b"No space" in full.stderr, "/dev/full: %r" % full.stderr)
        in_place(zaqxml, tmp)
        catalogs(zaqxml, tmp)
        catalogs_stay_local(zaqxml, tmp)


def catalogs(zaqxml, tmp):
    """A DTD named by public id and by an http: URL, found through a catalog."""
    with open(os.path.join(tmp, "book.dtd"), "w") as f:
        f.write('<!ENTITY mdash "&#x2014;"><!ATTLIST book status (draft|final) "draft">')
    catalog = os.path.join(tmp, "catalog.xml")
    with open(catalog, "w") as f:
        f.write('<catalog xmlns="urn:oasis:names:tc:entity:xmlns:xml:catalog">'
                '<public publicId="-//Example//DTD Book 1.0//EN" uri="book.dtd"/>'
                '<rewriteSystem systemIdStartString="http://example.org/dtd/" rewritePrefix="./"/></catalog>')
    env = dict(os.environ, XML_CATALOG_FILES=catalog)
    for doctype in ('PUBLIC "-//Example//DTD Book 1.0//EN" "http://elsewhere.example/book.dtd"',
                    'SYSTEM "http://example.org/dtd/book.dtd"'):
        source = os.path.join(tmp, "book.xml")
        with open(source, "w") as f:
            f.write("<!DOCTYPE book %s><book>a&mdash;b</book>" % doctype)
        found = subprocess.run([*zaqxml, "--load-external", source], capture_output=True, env=env)
        check(found.returncode == 0 and '<book status="draft">a\u2014b</book>'.encode() in found.stdout,
              "a catalog maps %s: %r" % (doctype, found.stderr))
        off = subprocess.run([*zaqxml, "--load-external", "--no-catalogs", source], capture_output=True, env=env)
        check(off.returncode == 2 and b"'mdash' not found" in off.stderr, "--no-catalogs: %r" % off.stderr)
    # A catalog that is a FIFO is left out (reading it would block); one with
    # terminal escapes in it is reported escaped.
    fifo, hostile = os.path.join(tmp, "catalog.fifo"), os.path.join(tmp, "escapes.cat")
    os.mkfifo(fifo)
    with open(hostile, "wb") as f:
        f.write(b"<<\x1b]0;title\x07\x1b[2J")
    for catalog, needle in ((fifo, b"not a regular file"), (hostile, b"warning")):
        result = subprocess.run([*zaqxml, "--load-external", source], capture_output=True, timeout=20,
                                env=dict(os.environ, XML_CATALOG_FILES=catalog))
        check(result.returncode == 2 and needle in result.stderr and b"\x1b" not in result.stderr,
              "a catalog %s: %r" % (catalog, result.stderr))


def catalogs_stay_local(zaqxml, tmp):
    """No catalog is ever fetched from the network, however it is reached,
    and none that is not a regular file is read; URI entries resolve
    system ids as xmllint resolves them."""
    import socket
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    listener.setblocking(False)
    url = "http://127.0.0.1:%d/" % listener.getsockname()[1]
    with open(os.path.join(tmp, "local.dtd"), "w") as f:
        f.write('<!ATTLIST r d CDATA "local">')
    fifo = os.path.join(tmp, "next.fifo")
    os.mkfifo(fifo)
    entries = {
        "nextCatalog": '<nextCatalog catalog="%snext.xml"/>' % url,
        "delegatePublic": '<delegatePublic publicIdStartString="-//Z" catalog="%sdp.xml"/>' % url,
        "delegateSystem": '<delegateSystem systemIdStartString="local" catalog="%sds.xml"/>' % url,
        "nextCatalog FIFO": '<nextCatalog catalog="next.fifo"/>',
    }
    source = os.path.join(tmp, "net.xml")
    with open(source, "w") as f:
        f.write('<!DOCTYPE r PUBLIC "-//Z//DTD R//EN" "local.dtd"><r/>')
    cases = [("XML_CATALOG_FILES=" + url, url + "c.xml", url)]
    for name, entry in entries.items():
        path = os.path.join(tmp, "net-%d.xml" % len(cases))
        with open(path, "w") as f:
            f.write('<catalog xmlns="urn:oasis:names:tc:entity:xmlns:xml:catalog">%s</catalog>' % entry)
        cases.append((name, path, "next.fifo" if "FIFO" in name else url))
    for name, catalog, needle in cases:
        try:
            result = subprocess.run([*zaqxml, "--load-external", source], capture_output=True, timeout=10,
                                    env=dict(os.environ, XML_CATALOG_FILES=catalog))
        except subprocess.TimeoutExpired:
            result = subprocess.CompletedProcess([], -1, b"", b"timed out after 10 s")
        try:
            listener.accept()[0].close()
            connected = True
        except BlockingIOError:
            connected = False
        check(not connected, "a catalog by %s: a connection was opened" % name)
        check(result.returncode == 0 and b'd="local"' in result.stdout and needle.encode() in result.stderr
              and result.stderr.count(b"left out") == 1, "a catalog by %s: %r" % (name, result.stderr))
    listener.close()
    # rewriteURI and uri entries map a system id, as xmllint --catalogs reads them.
    os.makedirs(os.path.join(tmp, "rw"), exist_ok=True)
    with open(os.path.join(tmp, "rw", "z.dtd"), "w") as f:
        f.write('<!ATTLIST r d CDATA "rewritten">')
    catalog = os.path.join(tmp, "uri.xml")
    with open(catalog, "w") as f:
        f.write('<catalog xmlns="urn:oasis:names:tc:entity:xmlns:xml:catalog">'
                '<rewriteURI uriStartString="http://ru.invalid/" rewritePrefix="rw/"/>'
                '<uri name="http://u.invalid/u.dtd" uri="rw/z.dtd"/></catalog>')
    for system in ("http://ru.invalid/z.dtd", "http://u.invalid/u.dtd"):
        with open(source, "w") as f:
            f.write('<!DOCTYPE r SYSTEM "%s"><r/>' % system)
        result = subprocess.run([*zaqxml, "--load-external", source], capture_output=True, timeout=20,
                                env=dict(os.environ, XML_CATALOG_FILES=catalog))
        check(result.returncode == 0 and b'd="rewritten"' in result.stdout,
              "a URI entry maps %s: %r" % (system, result.stderr))


def in_place(zaqxml, tmp):
    """-i on several files, one malformed; -i.bak; --noout."""
    original = b'<a:r xmlns:a="u"><a:c xmlns:a="u"/></a:r>'
    names = [os.path.join(tmp, n) for n in ("p1.xml", "p2.xml", "bad.xml")]
    for name in names:
        with open(name, "wb") as f:
            f.write(b"<r><b></r>" if name.endswith("bad.xml") else original)
    os.chmod(names[1], 0o640)
    result = subprocess.run([*zaqxml, "-i.bak", *names], capture_output=True)
    rewritten = [open(n, "rb").read() for n in names]
    check(result.returncode == 2 and b"bad.xml:1:9:" in result.stderr, "-i: one failed: %r" % result.stderr)
    check(rewritten[0] == rewritten[1] == b'<?xml version="1.0" encoding="UTF-8"?>\n<a:r xmlns:a="u"><a:c/></a:r>\n'
          and rewritten[2] == b"<r><b></r>", "-i: the good files rewritten, the bad one left: %r" % rewritten)
    check(stat.S_IMODE(os.stat(names[1]).st_mode) == 0o640, "-i keeps the mode")
    check(open(names[0] + ".bak", "rb").read() == original and not os.path.exists(names[2] + ".bak"),
          "-i.bak keeps the originals of the files rewritten")
    quiet = subprocess.run([*zaqxml, "--noout", names[0], names[2]], capture_output=True)
    check(quiet.returncode == 2 and quiet.stdout == b"" and b"bad.xml:1:9:" in quiet.stderr,
          "--noout: no output, the error reported: %r" % quiet.stderr)
    for args in (["-i"], ["-i", "-"], ["-i", "-o", "x", names[0]], ["--noout", "-o", "x", names[0]],
                 ["-i.bak", names[0], names[0] + ".bak"], ["-i.bak", names[0], os.path.join(tmp, ".", "p1.xml")]):
        check(subprocess.run([*zaqxml, *args], capture_output=True).returncode == 1, "usage error: %r" % args)
    check(open(names[0] + ".bak", "rb").read() == original, "-i: a backup that is also an input is left alone")
    fifo = os.path.join(tmp, "in-place.fifo")
    os.mkfifo(fifo)
    refused = subprocess.run([*zaqxml, "-i", fifo], capture_output=True, timeout=20)
    check(refused.returncode == 2 and b"not a regular file" in refused.stderr, "-i on a FIFO: %r" % refused.stderr)
    plain = os.path.join(tmp, "plain.xml")
    with open(plain, "wb") as f:
        f.write(b"<r/>")
    digest = subprocess.run([*zaqxml, "-i", "--c14n", "--digest", "sha256", plain], capture_output=True)
    check(digest.returncode == 1 and b"--digest" in digest.stderr and open(plain, "rb").read() == b"<r/>",
          "--digest with -i is a usage error and leaves the file: %r" % digest.stderr)
    in_place_metadata(zaqxml, tmp, original)


def acl_of(path):
    return subprocess.run(["getfacl", "-c", "-n", path], capture_output=True).stdout


def xattr_of(path, name):
    try:
        return os.getxattr(path, name)
    except OSError:
        return None


def in_place_metadata(zaqxml, tmp, original):
    """-i keeps ACLs and extended attributes; a backup copied to another
    filesystem is never readable by more than the original."""
    have_acl = subprocess.run(["sh", "-c", "command -v setfacl"], capture_output=True).returncode == 0
    target = os.path.join(tmp, "acl.xml")
    with open(target, "wb") as f:
        f.write(original)
    os.setxattr(target, "user.note", b"kept")
    if have_acl:
        subprocess.run(["setfacl", "-m", "u:nobody:rw,g::r", target], check=True)
    before_acl, before_mode = acl_of(target), stat.S_IMODE(os.stat(target).st_mode)
    result = subprocess.run([*zaqxml, "-i", target], capture_output=True)
    check(result.returncode == 0 and open(target, "rb").read() != original and
          xattr_of(target, "user.note") == b"kept" and stat.S_IMODE(os.stat(target).st_mode) == before_mode and
          (not have_acl or (acl_of(target) == before_acl and b"user:65534:rw-" in before_acl)),
          "-i keeps the ACL, the extended attributes and the mode: %r %r" % (result.stderr, acl_of(target)))
    # The private original on another filesystem (tmpfs): the backup is a
    # copy, created private and given the original's owner, mode and ACL.
    elsewhere = tempfile.mkdtemp(dir="/dev/shm") if os.path.isdir("/dev/shm") else None
    if elsewhere is None or os.stat(elsewhere).st_dev == os.stat(tmp).st_dev:
        print("no second filesystem: the backup-copy case is not run")
        return
    try:
        private = os.path.join(elsewhere, "private.xml")
        with open(private, "wb") as f:
            f.write(original)
        os.chmod(private, 0o600)
        os.setxattr(private, "user.note", b"private")
        owner = 65534 if os.geteuid() == 0 else os.geteuid()
        os.chown(private, owner, owner if os.geteuid() == 0 else os.getegid())
        link = os.path.join(tmp, "l.xml")
        os.symlink(private, link)
        old = os.umask(0o022)
        try:
            result = subprocess.run([*zaqxml, "-i.bak", link], capture_output=True)
        finally:
            os.umask(old)
        backup = os.stat(link + ".bak")
        check(result.returncode == 0 and stat.S_IMODE(backup.st_mode) == 0o600 and backup.st_uid == owner and
              open(link + ".bak", "rb").read() == original and xattr_of(link + ".bak", "user.note") == b"private"
              and os.path.islink(link) and stat.S_IMODE(os.stat(private).st_mode) == 0o600,
              "-i.bak across filesystems: backup mode %o, owner %d: %r" % (backup.st_mode, backup.st_uid, result.stderr))
        if os.geteuid() == 0:
            failed_rename_keeps_backup(zaqxml, tmp, elsewhere, original)
    finally:
        subprocess.run(["rm", "-rf", elsewhere])


def failed_rename_keeps_backup(zaqxml, tmp, elsewhere, original):
    """A rewrite that cannot be put in place (a sticky directory, a file of
    another owner) leaves the older backup as it was."""
    os.chmod(elsewhere, 0o755)  # reached by the unprivileged user
    os.chmod(tmp, 0o755)
    sticky = os.path.join(elsewhere, "sticky")
    os.mkdir(sticky)
    os.chmod(sticky, 0o1777)
    target = os.path.join(sticky, "g.xml")
    with open(target, "wb") as f:
        f.write(original)
    os.chown(target, 0, 65534)
    os.chmod(target, 0o660)
    links = os.path.join(tmp, "links")
    os.mkdir(links)
    os.chmod(links, 0o777)
    link = os.path.join(links, "g.xml")
    os.symlink(target, link)
    with open(link + ".bak", "wb") as f:
        f.write(b"PRECIOUS")
    os.chown(link + ".bak", 65534, 65534)
    result = subprocess.run([*zaqxml, "-i.bak", link], capture_output=True, user=65534, group=65534,
                            extra_groups=[65534])
    check(result.returncode == 2 and b"cannot write: Operation not permitted" in result.stderr and
          open(link + ".bak", "rb").read() == b"PRECIOUS" and
          open(target, "rb").read() == original and sorted(os.listdir(links)) == ["g.xml", "g.xml.bak"],
          "-i.bak whose rewrite cannot be put in place keeps the older backup: %r %r" %
          (result.stderr, sorted(os.listdir(links))))


def main():
    zaqxml = EMULATOR + [os.path.abspath(sys.argv[1])]
    if EMULATOR:
        print("under %s: time and memory bounds not checked" % " ".join(EMULATOR))
    table(zaqxml)
    output_files(zaqxml)
    print("%d passed, %d failed" % (checks - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
