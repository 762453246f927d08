#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""zaqxml's validation against a bare Xerces-C validating parse (sax_validate)
on a corpus: the DocBook 5 XSD with documents written for it and mutated
copies, an envelope schema importing an orders schema with instances and
their mutations, and DTD-validated documents. For every pair the verdict
(valid, invalid, malformed) and the line of the first error must be the
same; xmllint's verdicts are counted beside them, not required. Then what
users rely on around a verdict: exit statuses, the cap on messages, a schema
that cannot be used said once, an invalid document's output treated as a
failed one's in every destination, the schema read once for a batch, and a
valid document rewritten in every mode exactly as without validation.

usage: validation.py ZAQXML SAX_VALIDATE"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "data", "validation")
DOCBOOK = "/usr/share/xml/docbook/schema/xsd/5.0/docbook.xsd"
EMULATOR = os.environ.get("ZAQ_TEST_EMULATOR", "").split()

DB = ('<?xml version="1.0"?>\n<article xmlns="http://docbook.org/ns/docbook" '
      'xmlns:xlink="http://www.w3.org/1999/xlink" version="5.0">\n<title>%s</title>\n'
      '<section xml:id="s1"><title>One</title>\n<para>See <link linkend="s2">two</link> and '
      '<link xlink:href="http://example.org/">this</link>.</para>\n</section>\n'
      '<section xml:id="s2"><title>Two</title>\n<itemizedlist><listitem><para>a</para></listitem>'
      '</itemizedlist>\n<programlisting language="c">int x;</programlisting></section>\n</article>\n')
DB_MUTATIONS = [
    ("<title>%s</title>\n", ""),                                       # no title: still valid (info optional)?
    ("<para>See", "<para><bogus/>See"),                                # an undeclared element
    ('xml:id="s2"', 'xml:id="s1"'),                                    # an ID twice
    ('linkend="s2"', 'linkend="nowhere"'),                             # an IDREF to nothing
    ("<itemizedlist>", "<itemizedlist spacing=\"wide\">"),             # a value outside the enumeration
    ("<listitem><para>a</para></listitem>", ""),                       # an empty list
    ('<section xml:id="s2"><title>Two</title>', '<section xml:id="s2"><para>x</para><title>Two</title>'),
    ("</section>\n<section", "</section>\n<para>between</para>\n<section"),
    ('version="5.0"', 'version="5.0" role="a" unknown="1"'),          # an undeclared attribute
    ("<para>a</para>", "<para>a</para"),                               # not well-formed
]

ORDERS = ('<env:Envelope xmlns:env="urn:example:envelope" xmlns:p="urn:po">\n<env:Header><h:t xmlns:h="urn:h">1'
          '</h:t></env:Header>\n<env:Body>\n<p:orders>\n<p:order id="o1"><p:qty>2</p:qty><p:sku>ABC-1</p:sku>'
          '</p:order>\n<p:order id="o2" after="o1" state="shipped"><p:qty>1</p:qty><p:sku>ABC-2</p:sku>'
          '<p:note>n</p:note></p:order>\n</p:orders>\n</env:Body>\n</env:Envelope>\n')
ORDER_MUTATIONS = [
    ("<p:qty>2</p:qty>", "<p:qty>0</p:qty>"),
    ("<p:sku>ABC-2</p:sku>", "<p:sku>abc-2</p:sku>"),
    ("<p:sku>ABC-2</p:sku>", "<p:sku>ABC-1</p:sku>"),                  # unique
    ('after="o1"', 'after="o9"'),
    ('state="shipped"', 'state="lost"'),
    ('<p:order id="o1">', "<p:order>"),
    ("<p:note>n</p:note>", "<p:note>n</p:note><p:extra/>"),
    ("<p:qty>1</p:qty><p:sku>ABC-2</p:sku>", "<p:sku>ABC-2</p:sku><p:qty>1</p:qty>"),
    ("<env:Body>\n<p:orders>", "<env:Body>\n<q:orders xmlns:q=\"urn:other\"/><p:orders>"),
    ("</env:Body>", "</env:Body><env:Body/>"),
    ('<env:Header><h:t xmlns:h="urn:h">1</h:t></env:Header>', ""),  # the header is optional
    ("urn:example:envelope\"", "urn:example:envelope2\""),
]

DTD = ('<?xml version="1.0"?>\n<!DOCTYPE list [\n<!ELEMENT list (item+)>\n<!ELEMENT item (#PCDATA|b)*>\n'
       '<!ELEMENT b (#PCDATA)>\n<!ATTLIST item id ID #REQUIRED ref IDREF #IMPLIED kind (x|y) "x">\n]>\n'
       '<list>\n<item id="a">one <b>bold</b></item>\n<item id="b" ref="a" kind="y">two</item>\n</list>\n')
DTD_MUTATIONS = [
    ('id="b"', 'id="a"'), ('ref="a"', 'ref="z"'), ('kind="y"', 'kind="q"'), ("<b>bold</b>", "<c>x</c>"),
    ("<item id=\"a\">", "<item>"), ("<list>\n", "<list>\ntext\n"), ("<!ELEMENT b (#PCDATA)>\n", ""),
]


# Values each pattern facet of patterns.xsd is reached by, then copies that
# break one each: the tool matches these patterns in place of the parser.
PATTERNS = """<p:r xmlns:p="urn:p" xmlns:q="urn:q" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" k="OK" k2="AB">
<p:any p:code="AB"/><p:any xsi:type="p:c">XYZ</p:any>
<p:w p:code="CD"/><p:w q:x="whatever"/>
<p:l>  AB   CD  </p:l>
<p:u>12</p:u><p:u>AB</p:u>
<p:d>A<!-- a comment -->B</p:d><p:d><![CDATA[XY]]></p:d>
<p:nn>AB</p:nn><p:fx>FX</p:fx><p:df/><p:nl xsi:nil="true"/><p:dot>x</p:dot><p:fd>1.0</p:fd><p:aa>AA</p:aa>
<p:u2>ABC</p:u2><p:u2>abcd</p:u2><p:ur>ab</p:ur><p:ue>AB</p:ue><p:lu> AB 12  CD </p:lu><p:uu>12</p:uu><p:uu>ab</p:uu>
<p:le>1 1</p:le>
</p:r>
"""
NAMED_SCHEMAS = {
    "named-upa.xsd": '<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" targetNamespace="urn:t">'
                     '<xs:element name="r"><xs:complexType><xs:sequence><xs:element name="a" minOccurs="0"/>'
                     '<xs:element name="a"/></xs:sequence></xs:complexType></xs:element></xs:schema>',
    "named-c.xsd": '<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" targetNamespace="urn:c" xmlns:c="urn:c">'
                   '<xs:simpleType name="T"><xs:restriction base="xs:string"><xs:pattern value="(ab)*"/>'
                   '</xs:restriction></xs:simpleType><xs:element name="root"><xs:complexType><xs:sequence>'
                   '<xs:any processContents="lax" maxOccurs="unbounded"/></xs:sequence></xs:complexType>'
                   '</xs:element></xs:schema>',
    "named-uc.xsd": '<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" targetNamespace="urn:uc" '
                    'xmlns:c="urn:c"><xs:import namespace="urn:c"/><xs:element name="e"><xs:complexType>'
                    '<xs:attribute name="k" type="c:T"/></xs:complexType></xs:element></xs:schema>',
    "named-s.xsd": '<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" targetNamespace="urn:s" xmlns:s="urn:s" '
                   'xmlns:q="urn:q" elementFormDefault="qualified"><xs:import namespace="urn:q" '
                   'schemaLocation="named-q1.xsd"/><xs:import namespace="urn:q" schemaLocation="named-q2.xsd"/>'
                   '<xs:element name="r"><xs:complexType><xs:sequence><xs:element ref="q:one"/>'
                   '<xs:element ref="q:two"/></xs:sequence></xs:complexType></xs:element></xs:schema>',
    "named-q1.xsd": '<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" targetNamespace="urn:q">'
                    '<xs:element name="one"/></xs:schema>',
    "named-q2.xsd": '<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" targetNamespace="urn:q">'
                    '<xs:element name="two"/></xs:schema>',
    # A member type an IDREF union shares stays the parser's: a union
    # restricted by a pattern still checks its members first.
    "shared.xsd": '<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"><xs:simpleType name="upper">'
                  '<xs:restriction base="xs:string"><xs:pattern value="[A-Z]+"/></xs:restriction></xs:simpleType>'
                  '<xs:simpleType name="up"><xs:union memberTypes="xs:QName upper"/></xs:simpleType>'
                  '<xs:simpleType name="upp"><xs:restriction base="up"><xs:pattern value="[a-z]+:[a-z]+|[A-Z]{2,3}"/>'
                  '</xs:restriction></xs:simpleType><xs:simpleType name="uidp"><xs:union memberTypes="upper xs:IDREF"/>'
                  '</xs:simpleType><xs:element name="e" type="upp"/></xs:schema>',
}
CONTEXT_MUTATIONS = [
    ('c:cv="ABC"', 'c:cv="1x"'),                                              # neither an entity nor of p:c
    ('c:cv="XY"', 'c:cv="xy"'),
    ('c:cv="ABC"', 'c:cv="A B"'),
]
QNAMES = """<r xmlns:p="urn:p" a="p:x" b="p:x">
<q>p:x</q><q>p:y</q>
<u>p:x</u><u xmlns:zz="urn:z">zz:x</u><u>ABC</u>
<d/><d xmlns:p="urn:other"/><d>p:y</d>
<l>p:x ABC</l>
</r>
"""
QNAME_MUTATIONS = [
    ('a="p:x"', 'a="zz:A1"'),                                                 # pattern and prefix: the pattern's
    ('a="p:x"', 'a="zz:x"'),                                                  # the prefix only
    ('b="p:x"', 'b="zz:x"'),                                                  # no member: the prefix is not bound
    ('b="p:x"', 'b="ABC"'),
    ('<q>p:y</q>', '<q>zz:X1</q>'),
    ('<q>p:y</q>', '<q>p:Y</q>'),
    ('<u>p:x</u>', '<u>zz:x</u>'),
    ('<u xmlns:zz="urn:z">zz:x</u>', '<u xmlns:zz="urn:z">yy:x</u>'),
    ('<u>ABC</u>', '<u>abc def</u>'),
    ('<d/>', '<d xmlns:zz="urn:z"/>'),
    ('<r xmlns:p="urn:p"', '<r'),                                             # the default's prefix unbound
    ('<l>p:x ABC</l>', '<l>p:x zz:x ABC</l>'),
    ('<l>p:x ABC</l>', '<l>p:x abc</l>'),
]
PATTERN_MUTATIONS = [
    ('k="OK"', 'k="ok"'),
    ('k="OK"', 'k="%sa"' % ("A" * 3000)),                                     # the message cut as the parser's
    ('<p:any p:code="AB"/>', '<p:any p:code="A B"/>'),
    ('<p:w p:code="CD"/>', '<p:w\n  p:code="cd"/>'),
    ('  AB   CD  ', 'AB cd'),
    ('<p:u>AB</p:u>', '<p:u>ab</p:u>'),
    ('A<!-- a comment -->B', 'A<!-- a comment -->b'),
    ('<![CDATA[XY]]>', '<![CDATA[XYZW]]>'),
    ('<p:d><![CDATA[XY]]></p:d>', '<p:d><![CDATA[xyzw]]></p:d>'),             # pattern and length: one error
    ('k2="AB"', 'k2="abcd"'),                                                 # the same in an attribute
    ('>XYZ<', '>XYz<'),
    ('<p:nn>AB</p:nn>', '<p:nn xsi:nil="true">1</p:nn>'),                      # nil refused: content checked
    ('<p:fx>FX</p:fx>', '<p:fx>fx</p:fx>'),                                   # not the fixed value: one error
    ('<p:df/>', '<p:df xsi:type="p:a"/>'),                                    # the default against the xsi:type
    ('<p:d>A<!-- a comment -->B</p:d>', '<p:d>a<p:d/></p:d>'),                # a child: the value is not checked
    ('<p:dot>x</p:dot>', '<p:dot>&#x2028;</p:dot>'),                          # the parser's . takes no U+2028
    ('<p:fd>1.0</p:fd>', '<p:fd>1.00</p:fd>'),                                # the fixed value, written otherwise
    ('<p:aa>AA</p:aa>', '<p:aa>ab</p:aa>'),                                   # two patterns broken: the base's said
    ('<p:u2>ABC</p:u2>', '<p:u2>ABCD</p:u2>'),                                # no member: too long, not lower case
    ('<p:u2>ABC</p:u2>', '<p:u2>aBC</p:u2>'),                                 # the first member valid but its pattern
    ('k2="AB"', 'k2="AB" k3="Abc"'),                                          # a union-typed attribute
    ('<p:ur>ab</p:ur>', '<p:ur>abd</p:ur>'),                                  # a member takes it, the union's pattern not
    ('<p:ur>ab</p:ur>', '<p:ur>ABCD</p:ur>'),                                 # no member, then the union's pattern
    ('<p:ue>AB</p:ue>', '<p:ue>CD</p:ue>'),                                   # a member, not the enumeration
    ('<p:ue>AB</p:ue>', '<p:ue>cd</p:ue>'),                                   # no member (before the enumeration)
    (' AB 12  CD ', ' AB 12 cd '),                                            # a list item of no member
    ('<p:uu>ab</p:uu>', '<p:uu>aB</p:uu>'),                                   # a union of unions
    ('<p:d>A<!-- a comment -->B</p:d><p:d><![CDATA[XY]]></p:d>',
     '<p:d>a<!-- a comment -->B</p:d><p:d><![CDATA[xyzw]]></p:d>'),           # the second, pattern and length, past the cap
    ('k2="AB"', 'k2="AB" k4="x.y"'),                                          # the parser's words do not quote it
    ('k2="AB"', 'k2="AB" k5=""'),                                             # empty NMTOKEN: its own error only
    ('<p:le>1 1</p:le>', '<p:le>1 3</p:le>'),                                 # an item's enumeration before the list's pattern
    ('<p:le>1 1</p:le>', '<p:le>1 2</p:le>'),                                 # items valid, the list's pattern not
]


def run(command, **kw):
    return subprocess.run(EMULATOR + command, capture_output=True, text=True, **kw)


def zaqxml_verdicts(zaqxml, args, files):
    """Per file: (verdict, line of the first error[, its message, how many validity errors])."""
    result = run([zaqxml, "--noout", "--max-errors", "1"] + args + files)
    verdicts = {f: ("valid", 0) for f in files}
    for line in result.stderr.splitlines():
        more = re.match(r"(.*?): (\d+) more validity errors? not shown", line)
        if more and more.group(1) in verdicts:
            verdict, at, message, count = verdicts[more.group(1)]
            verdicts[more.group(1)] = (verdict, at, message, count + int(more.group(2)))
            continue
        m = re.match(r"(.*?)(?: \(entity .*\))?:(\d+):\d+: (invalid: )?(.*?)(?: \(at /.*\))?$", line)
        if not m:
            # A document that failed where no position applies (a schema it
            # names that cannot be used): not valid either.
            failed = re.match(r"(.*?): (?!warning)", line)
            if failed and verdicts.get(failed.group(1), ("",))[0] == "valid":
                verdicts[failed.group(1)] = ("failed", 0)
            continue
        if m.group(1) not in verdicts or verdicts[m.group(1)][0] != "valid":
            continue
        verdicts[m.group(1)] = ("invalid", int(m.group(2)), m.group(4), 1) if m.group(3) else (
            "malformed", int(m.group(2)))
    return verdicts, result.returncode


def shortened(message):
    """A message as zaqxml prints it: past 340 bytes, the first and last 150."""
    data = message.encode("utf-8")
    if len(data) <= 340:
        return message

    def boundary(at):
        while at > 0 and data[at] & 0xC0 == 0x80:
            at -= 1
        return at
    head, tail = boundary(150), boundary(len(data) - 150)
    return (data[:head] + b"... (%d bytes) ..." % (tail - head) + data[tail:]).decode("utf-8")


def bare_verdicts(bare, args, files):
    result = run([bare] + args + files)
    verdicts = {}
    for line in result.stdout.splitlines():
        m = re.match(r"(.*?): valid$", line)
        if m:
            verdicts[m.group(1)] = ("valid", 0)
            continue
        m = re.match(r"(.*?):(\d+):\d+: (malformed: )?(.*?)(?: \((\d+) errors\))?$", line)
        if m:
            verdicts[m.group(1)] = ("malformed", int(m.group(2))) if m.group(3) else (
                "invalid", int(m.group(2)), shortened(m.group(4)), int(m.group(5) or 1))
    return verdicts


def xmllint_verdict(args, path):
    if not shutil.which("xmllint"):
        return None
    if args[0] not in ("--schema", "--valid"):
        return None
    lint = ["xmllint", "--noout", "--nonet"] + (["--schema", args[1]] if args[0] == "--schema" else ["--valid"])
    code = subprocess.run(lint + [path], capture_output=True).returncode
    return {0: "valid", 3: "invalid", 4: "invalid"}.get(code, "malformed")


# One element of each kind of content model (models.xsd; a DTD of the same
# shapes), then copies with one element's children changed: long runs valid
# and broken early, late and at the end, so that the message (which names
# the failing child) and its place are compared as well.
A, B, C = "<m:a/>", "<m:b/>", "<m:c/>"
MODELS = [
    ("seq", A * 40 + B), ("rep", A * 40), ("few", A * 4 + B), ("many", A * 700 + B), ("least", A * 650),
    ("all", C + A), ("mixed", "t" + (A + "x" + B) * 20), ("empty", ""), ("text", "x"),
    ("subst", "<m:h/>" + "<m:s/><m:h/>" * 20 + B), ("other", '<o:x xmlns:o="urn:o"/>' * 30 + B),
    ("nested", (A + B + A) * 20 + C), ("choice", B), ("pair", A + B),
]
MODEL_MUTATIONS = [
    ("seq", A * 40 + C + B), ("seq", A * 40), ("seq", A * 40 + B + B), ("seq", C + A * 40 + B), ("seq", ""),
    ("rep", A * 40 + B + A * 10), ("rep", B + A * 40), ("few", A * 6), ("few", A * 2 + B), ("few", A * 5 + B + B),
    ("many", A * 3001 + B), ("many", A + B), ("many", A * 700 + C), ("least", A * 599), ("least", A * 599 + B), ("least", A * 651),
    ("least", A * 650 + B + A), ("all", A + A + C), ("all", A), ("all", B + C + A + B), ("mixed", (A + B) * 30 + C),
    ("empty", A * 5), ("text", "x" + A + "y" + A), ("subst", "<m:s/>" * 30 + B), ("subst", "<m:s/>" * 30 + A + B),
    ("subst", "<m:s/>" * 30), ("other", '<o:x xmlns:o="urn:o"/>' * 30 + A + B), ("other", "<x/>" * 30 + B),
    ("nested", (A + B) * 20 + B + B + C), ("nested", (A + B) * 20), ("choice", A + B), ("choice", A * 10),
    ("pair", A + B + B), ("pair", A + B + A + A),
]
DTD_MODELS = [("seq", A * 40 + B), ("rep", A * 40), ("mixed", "t" + (A + "x" + B) * 20), ("empty", ""),
              ("any", A + "x" + C), ("choice", B), ("nested", (A + B + A) * 20 + C)]
DTD_MODEL_MUTATIONS = [
    ("seq", A * 40 + C + B), ("seq", A * 40), ("seq", A * 40 + B + B), ("seq", ""), ("rep", A * 40 + B + A),
    ("mixed", (A + B) * 30 + C + A), ("empty", A * 5), ("choice", A * 10), ("nested", (A + B) * 20 + B + C),
    ("nested", (A + B) * 20),
]
DTD_DECLARATIONS = ('<!DOCTYPE m:r [\n<!ELEMENT m:r (m:seq, m:rep, m:mixed, m:empty, m:any, m:choice, m:nested)>\n'
                    '<!ATTLIST m:r xmlns:m CDATA #FIXED "urn:m">\n<!ELEMENT m:seq (m:a+, m:b)>\n'
                    '<!ELEMENT m:rep (m:a*)>\n<!ELEMENT m:mixed (#PCDATA|m:a|m:b)*>\n<!ELEMENT m:empty EMPTY>\n'
                    '<!ELEMENT m:any ANY>\n<!ELEMENT m:choice (m:a|m:b)>\n<!ELEMENT m:nested ((m:a, m:b?)+, m:c)>\n'
                    '<!ELEMENT m:a EMPTY>\n<!ELEMENT m:b EMPTY>\n<!ELEMENT m:c EMPTY>\n]>\n')


def models_document(models, change=None, doctype=""):
    lines = ['<?xml version="1.0"?>', doctype + '<m:r xmlns:m="urn:m">']
    for name, content in models:
        if change and change[0] == name:
            content = change[1]
        lines.append("<m:%s>%s</m:%s>" % (name, content, name))
    return "\n".join(lines) + "\n</m:r>\n"


def corpus(work):
    """(args, files) groups, the mutated copies written into `work`."""
    groups = []

    def write(name, text):
        path = os.path.join(work, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path

    def mutants(prefix, base, mutations):
        files = [write(prefix + "0.xml", base)]
        for i, (old, new) in enumerate(mutations, 1):
            assert old in base, old
            files.append(write("%s%d.xml" % (prefix, i), base.replace(old, new, 1)))
        return files

    if os.path.exists(DOCBOOK):
        base = DB % "Rewriting &amp; validating"
        groups.append((["--schema", DOCBOOK], mutants("db", base, [(o.replace("%s", "Rewriting &amp; validating"), n)
                                                                  for o, n in DB_MUTATIONS])))
    else:
        print("no DocBook 5 XSD at %s (Debian: docbook5-xml): its cases are skipped" % DOCBOOK)
    groups.append((["--schema", os.path.join(DATA, "envelope.xsd")], mutants("env", ORDERS, ORDER_MUTATIONS)))
    groups.append((["--schema", os.path.join(DATA, "patterns.xsd")], mutants("pat", PATTERNS, PATTERN_MUTATIONS)))
    # The same documents naming their schema: its patterns are taken over as
    # the parser reads it (the root's own attributes are the parser's).
    named = PATTERNS.replace('<p:r ', '<p:r xsi:schemaLocation="urn:p %s" ' % os.path.join(DATA, "patterns.xsd"), 1)
    groups.append((["--schema-from-document"], mutants("doc", named, PATTERN_MUTATIONS)))
    groups.append((["--schema", os.path.join(DATA, "qnames.xsd")], mutants("qn", QNAMES, QNAME_MUTATIONS)))
    # Schemas a document names, as its parse reads them: one against unique
    # particle attribution (the parse does not check the components as a
    # whole), one importing without a location a namespace the document
    # named before, one importing a namespace from two files (valid, and
    # without the second file's element).
    for name, text in NAMED_SCHEMAS.items():
        write(name, text)
    xsi = 'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:schemaLocation="%s %s"'
    upa_doc = '<t:r xmlns:t="urn:t" %s><a/></t:r>' % (xsi % ("urn:t", os.path.join(work, "named-upa.xsd")))
    two_levels = ('<c:root xmlns:c="urn:c" %s>\n<u:e xmlns:u="urn:uc" %s k="abab"/>\n</c:root>' % (
        xsi % ("urn:c", os.path.join(work, "named-c.xsd")), xsi % ("urn:uc", os.path.join(work, "named-uc.xsd"))))
    two_files = '<s:r xmlns:s="urn:s" xmlns:q="urn:q" %s><q:one/><q:two/></s:r>' % (
        xsi % ("urn:s", os.path.join(work, "named-s.xsd")))
    groups.append((["--schema-from-document"],
                   mutants("nupa", upa_doc, [("<a/>", "<a/><a/><a/>")]) +
                   mutants("nlev", two_levels, [('k="abab"', 'k="abx"'), ('k="abab"', 'k="%sx"' % ("ab" * 2000))]) +
                   mutants("nsq", two_files, [("<q:two/>", "")])))
    groups.append((["--schema", os.path.join(work, "shared.xsd")],
                   mutants("sh", '<e xmlns:p="urn:p">p:x</e>', [(">p:x<", ">:x<"), (">p:x<", ">q:X1<"), (">p:x<", ">AB<"),
                                                               (">p:x<", ">abc<"), (">p:x<", "><")])))
    groups.append((["--schema", os.path.join(work, "named-s.xsd")],
                   mutants("sq", '<s:r xmlns:s="urn:s" xmlns:q="urn:q"><q:one/><q:two/></s:r>', [("<q:one/>", "")])))
    # With --schema too: a schema the document names imports the run's
    # namespace without a location, and its union with an ENTITY member gives
    # a --schema type's pattern back to the parser for that document only
    # (the documents that do not name it, in the same run, come after).
    contextual = PATTERNS.replace(
        '<p:r ', '<p:r xmlns:c="urn:c" xsi:schemaLocation="urn:c %s" ' % os.path.join(DATA, "context.xsd"), 1).replace(
        '<p:w q:x="whatever"/>', '<p:w q:x="whatever"/><p:s c:cv="XY"/><p:s c:cv="ABC"/>', 1)
    groups.append((["--schema", os.path.join(DATA, "patterns.xsd"), "--schema-from-document"],
                   mutants("ctx", contextual, CONTEXT_MUTATIONS + PATTERN_MUTATIONS) +
                   mutants("pat2", PATTERNS, PATTERN_MUTATIONS[:6])))
    groups.append((["--valid"], mutants("dtd", DTD, DTD_MUTATIONS)))
    groups.append((["--schema", os.path.join(DATA, "models.xsd")],
                   [write("cm%d.xml" % i, models_document(MODELS, change))
                    for i, change in enumerate([None] + MODEL_MUTATIONS)]))
    groups.append((["--valid"], [write("cmd%d.xml" % i, models_document(DTD_MODELS, change, DTD_DECLARATIONS))
                                 for i, change in enumerate([None] + DTD_MODEL_MUTATIONS)]))
    return groups


def main():
    zaqxml, bare = sys.argv[1], sys.argv[2]
    failures, pairs, lint_same, lint_total, invalid = [], 0, 0, 0, 0
    work = tempfile.mkdtemp(prefix="zaq-validation-")
    try:
        for args, files in corpus(work):
            ours, _ = zaqxml_verdicts(zaqxml, args, files)
            theirs = bare_verdicts(bare, args, files)
            for path in files:
                pairs += 1
                invalid += ours[path][0] == "invalid"
                if ours[path] != theirs.get(path):
                    failures.append("%s %s: zaqxml %s, Xerces-C %s" % (" ".join(args), os.path.basename(path),
                                                                       ours[path], theirs.get(path)))
                lint = xmllint_verdict(args, path)
                if lint is not None:
                    lint_total += 1
                    lint_same += lint == ours[path][0]
                    if lint != ours[path][0]:
                        print("xmllint differs: %s %s: zaqxml %s, xmllint %s" % (
                            args[0], os.path.basename(path), ours[path][0], lint))
        print("%d pairs, %d invalid: verdicts, first error lines and error counts as a bare Xerces-C parse gives "
              "them%s" % (
            pairs, invalid, "" if failures else " (all)"))
        if lint_total:
            print("xmllint agrees on %d of %d verdicts" % (lint_same, lint_total))
        failures += behaviour(zaqxml, work, bare)
    finally:
        shutil.rmtree(work)
    for failure in failures:
        print("FAIL " + failure)
    print("%d failed" % len(failures))
    return 1 if failures else 0


def behaviour(zaqxml, work, bare=None):
    failures = []
    schema = ["--schema", os.path.join(DATA, "envelope.xsd")]
    good, bad = os.path.join(work, "env0.xml"), os.path.join(work, "env1.xml")

    def expect(what, condition):
        if not condition:
            failures.append(what)

    # Exit statuses: 0 valid, 3 invalid, 2 malformed wins over 3, 5 an unusable schema said once.
    expect("valid: 0", run([zaqxml, "--noout"] + schema + [good]).returncode == 0)
    expect("invalid: 3", run([zaqxml, "--noout"] + schema + [good, bad]).returncode == 3)
    expect("malformed wins: 2", run([zaqxml, "--noout", "--valid", os.path.join(work, "dtd1.xml"),
                                     os.path.join(work, "db10.xml") if os.path.exists(os.path.join(
                                         work, "db10.xml")) else "/nonexistent"]).returncode == 2)
    broken = os.path.join(work, "broken.xsd")
    with open(broken, "w") as f:
        f.write('<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"><xs:element name="a" type="nope"/>'
                '</xs:schema>')
    r = run([zaqxml, "--noout", "--schema", broken, good, bad, good])
    expect("unusable schema: 5, one message", r.returncode == 5 and len(r.stderr.splitlines()) == 1)
    # A schema no validator accepts (two particles a child could match, against
    # unique particle attribution) is refused as the bare parse refuses it.
    upa = os.path.join(work, "upa.xsd")
    with open(upa, "w") as f:
        f.write('<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"><xs:element name="r"><xs:complexType>'
                '<xs:sequence><xs:element name="a" minOccurs="0"/><xs:element name="a"/></xs:sequence>'
                '</xs:complexType></xs:element></xs:schema>')
    r = run([zaqxml, "--noout", "--schema", upa, good])
    peer = run([bare, "--schema", upa, good]) if bare else None
    expect("a schema against unique particle attribution: 5, as the bare parse",
           r.returncode == 5 and "unique particle attribution" in r.stderr and (peer is None or peer.returncode == 5))
    # A backtracking pattern the parser would still match (a union member's)
    # refuses the schema.
    r = run([zaqxml, "--noout", "--schema", os.path.join(DATA, "union.xsd"), good])
    expect("a backtracking pattern: 5, naming --trust-patterns", r.returncode == 5 and "--trust-patterns" in r.stderr)
    # The cap: --max-errors lines, then one saying how many more (30 orders
    # of three errors each: quantity, SKU, and the SKU again).
    many = os.path.join(work, "many.xml")
    with open(many, "w") as f:
        f.write(ORDERS.replace("<p:order id=\"o1\"><p:qty>2</p:qty><p:sku>ABC-1</p:sku></p:order>",
                               "".join('<p:order id="m%d"><p:qty>0</p:qty><p:sku>x</p:sku></p:order>' % i
                                       for i in range(30))))
    r = run([zaqxml, "--noout", "--max-errors", "5"] + schema + [many])
    lines = r.stderr.splitlines()
    expect("cap: 5 lines and a count", len(lines) == 6 and lines[-1].endswith(
        "85 more validity errors not shown; --max-errors raises the limit") and "(at /env:Envelope/env:Body/"
        "p:orders/p:order[2]/p:qty)" in lines[2])
    # An invalid document's output is a failed one's: nothing on standard
    # output, -o leaves no file, -i leaves the file as it was.
    r = run([zaqxml] + schema + [bad])
    expect("stdout: nothing for an invalid document", r.stdout == "" and r.returncode == 3)
    out = os.path.join(work, "out.xml")
    r = run([zaqxml, "-o", out] + schema + [bad])
    expect("-o: no file for an invalid document", not os.path.exists(out) and r.returncode == 3)
    copy = os.path.join(work, "copy.xml")
    shutil.copy(bad, copy)
    before = open(copy).read()
    r = run([zaqxml, "-i"] + schema + [copy])
    expect("-i: the file as it was", open(copy).read() == before and r.returncode == 3)
    # A batch reads the schemas once: as many opens of them for four
    # documents as for one.
    if shutil.which("strace") and not EMULATOR:
        def opens(documents):
            trace = os.path.join(work, "trace")
            subprocess.run(["strace", "-f", "-e", "trace=open,openat", "-o", trace, zaqxml, "--noout"] + schema +
                           documents, capture_output=True)
            return sum(line.count("orders.xsd") + line.count("envelope.xsd") for line in open(trace))
        once, four = opens([good]), opens([good, good, bad, good])
        expect("a batch reads the schemas once (%d opens for one document, %d for four)" % (once, four),
               once > 0 and once == four)
    # A valid document is written in every mode as without validation; so is
    # one with a DTD, whose defaults the parser drops for elements a schema
    # declares (its xmlns defaults bind the names, its types normalise).
    both = os.path.join(work, "dtd-and-schema.xml")
    with open(both, "w") as f:
        f.write('<!DOCTYPE r [\n<!ATTLIST r xmlns CDATA #FIXED "urn:x" xmlns:l CDATA "urn:l" l:type CDATA "simple"'
                ' id ID #IMPLIED ver CDATA "1.0">\n<!ATTLIST c t NMTOKENS #IMPLIED k CDATA "dflt">\n]>\n'
                '<r id="  a1 "><c t="  a   b ">x</c><c k="mine"/><l:c/></r>\n')
    anything = os.path.join(work, "anything.xsd")
    with open(anything, "w") as f:
        f.write('<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" targetNamespace="urn:x">'
                '<xs:element name="r"/></xs:schema>')
    for document, checking in ((good, schema), (both, ["--schema", anything])):
        for mode in ([], ["--prune"], ["--generate"], ["--format"], ["--hoist"], ["--c14n"], ["--exc-c14n"],
                     ["--c14n", "--digest", "sha256"], ["--c14n", "--select", "{urn:po}orders" if document == good
                                                         else "{urn:x}c"]):
            plain = run([zaqxml] + mode + [document])
            checked = run([zaqxml] + mode + checking + [document])
            expect("%s, mode %s: the same output validated" % (os.path.basename(document), " ".join(mode)),
                   plain.returncode == 0 and checked.returncode == 0 and plain.stdout == checked.stdout)
    return failures


if __name__ == "__main__":
    sys.exit(main())
