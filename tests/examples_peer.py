#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""The writer's example programs, read back by peers: xmllint (where it is
installed) must accept each output, and Python's expat-based SAX reader, with
namespaces on, must find the elements and QName values each program meant,
each QName resolved with the prefixes in scope where it stands.

usage: examples_peer.py SOAP_FAULT ATOM_FEED XML_SCHEMA   (the programs)"""
import os
import shutil
import subprocess
import sys
import xml.sax
import xml.sax.handler

XS = "http://www.w3.org/2001/XMLSchema"
ENV = "http://www.w3.org/2003/05/soap-envelope"
ATOM = "http://www.w3.org/2005/Atom"
XHTML = "http://www.w3.org/1999/xhtml"


class Reader(xml.sax.handler.ContentHandler):
    """Expanded names in document order, and QName values resolved in scope."""

    def __init__(self, qname_attributes):
        super().__init__()
        self.scope = [{"xml": "http://www.w3.org/XML/1998/namespace"}]
        self.pending = {}
        self.names = []
        self.resolved = []  # (element, value as {uri}local)
        self.qname_attributes = qname_attributes
        self.text = ""
        self.value_of = None

    def startPrefixMapping(self, prefix, uri):
        self.pending[prefix or ""] = uri

    def resolve(self, value):
        prefix, _, local = value.rpartition(":")
        return "{%s}%s" % (self.scope[-1].get(prefix, ""), local)

    def startElementNS(self, name, qname, attributes):
        scope = dict(self.scope[-1])
        scope.update(self.pending)
        self.pending = {}
        self.scope.append(scope)
        expanded = "{%s}%s" % (name[0] or "", name[1])
        self.names.append(expanded)
        for (uri, local), value in attributes.items():
            if local in self.qname_attributes and not uri:
                self.resolved.append((expanded, self.resolve(value)))
        self.text = ""

    def characters(self, content):
        self.text += content

    def endElementNS(self, name, qname):
        if (name[0], name[1]) == (ENV, "Value"):
            self.resolved.append(("{%s}Value" % ENV, self.resolve(self.text.strip())))
        self.scope.pop()


def read(output, qname_attributes=()):
    reader = Reader(qname_attributes)
    parser = xml.sax.make_parser()
    parser.setFeature(xml.sax.handler.feature_namespaces, True)
    parser.setContentHandler(reader)
    parser.feed(output)
    parser.close()
    return reader


def main():
    programs = dict(zip(("soap_fault", "atom_feed", "xml_schema"), sys.argv[1:4]))
    failures = 0

    def check(what, ok, detail=""):
        nonlocal failures
        if not ok:
            failures += 1
            print("FAIL: %s %s" % (what, detail))

    runs = {}
    for program, args in (("soap_fault", ["a&b<c"]), ("atom_feed", ["Tea & <biscuits>"]), ("xml_schema", [])):
        path = programs[program]
        emulator = os.environ.get("ZAQ_TEST_EMULATOR")
        run = subprocess.run(([emulator] if emulator else []) + [path] + args, capture_output=True)
        check(program + " exits 0", run.returncode == 0, run.stderr.decode(errors="replace"))
        runs[program] = run.stdout
        if shutil.which("xmllint"):
            peer = subprocess.run(["xmllint", "--noout", "-"], input=run.stdout, capture_output=True)
            check(program + " accepted by xmllint", peer.returncode == 0, peer.stderr.decode(errors="replace"))

    soap = read(runs["soap_fault"])
    check("soap_fault: the fault codes resolve", soap.resolved ==
          [("{%s}Value" % ENV, "{%s}Sender" % ENV), ("{%s}Value" % ENV, "{urn:example:orders:faults}OutOfStock")],
          soap.resolved)
    check("soap_fault: the header", "{http://www.w3.org/2005/08/addressing}RelatesTo" in soap.names, soap.names)

    atom = read(runs["atom_feed"])
    check("atom_feed: names", atom.names[:2] == ["{%s}feed" % ATOM, "{%s}title" % ATOM] and
          atom.names[-3:] == ["{%s}div" % XHTML, "{%s}p" % XHTML, "{%s}a" % XHTML], atom.names)
    check("atom_feed: the feed is unprefixed", runs["atom_feed"].count(b'<feed xmlns="%s"' % ATOM.encode()) == 1)

    schema = read(runs["xml_schema"], ("type", "for"))
    check("xml_schema: QName values resolve", schema.resolved == [
        ("{%s}element" % XS, "{urn:example:orders}Order"),
        ("{%s}element" % XS, "{%s}string" % XS),
        ("{%s}element" % XS, "{%s}decimal" % XS),
        ("{%s}attribute" % XS, "{%s}ID" % XS),
        ("{urn:example:tooling}hint", "{%s}string" % XS)], schema.resolved)
    print("%d failed" % failures if failures else "examples read back as meant")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
