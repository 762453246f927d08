#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""zaqxml's validation beside a bare Xerces-C validating SAX2 parse
(tests/sax_validate) and xmllint --schema, on SOAP-like documents (an
envelope of orders, validated against an envelope schema that imports the
orders' one) of each size; then a batch of small documents in one run against
a process per document.

Every measurement alternates the tools run by run on one CPU and reports
medians of CPU seconds and the largest peak RSS; ratios are the medians of
the ratios within a round. Peak RSS is the process's whole (about 15 MiB of
it is the program and its libraries before any document).

With --instructions MB, it also counts the instructions each tool runs on
an envelope of that size under valgrind's callgrind: a figure the machine's
load does not move, where CPU seconds here swing by a third from run to run.

usage: validate.py BUILD_DIR [--sizes 50,200] [--runs 3] [--batch 10000] [--no-pin]
                   [--instructions MB]
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import speed  # noqa: E402

ORDERS_XSD = """<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" targetNamespace="urn:po" xmlns:p="urn:po"
    elementFormDefault="qualified">
  <xs:element name="orders"><xs:complexType><xs:sequence>
    <xs:element name="order" maxOccurs="unbounded"><xs:complexType><xs:sequence>
      <xs:element name="qty" type="xs:positiveInteger"/>
      <xs:element name="sku" type="p:sku"/>
      <xs:element name="note" type="xs:string" minOccurs="0"/>
    </xs:sequence><xs:attribute name="n" type="xs:int" use="required"/>
    <xs:attribute name="state"><xs:simpleType><xs:restriction base="xs:token">
      <xs:enumeration value="open"/><xs:enumeration value="shipped"/></xs:restriction></xs:simpleType>
    </xs:attribute></xs:complexType></xs:element>
  </xs:sequence></xs:complexType></xs:element>
  <xs:simpleType name="sku"><xs:restriction base="xs:string"><xs:pattern value="[A-Z]{3}-[0-9]+"/>
  </xs:restriction></xs:simpleType>
</xs:schema>
"""
ENVELOPE_XSD = """<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:env="urn:example:envelope"
    targetNamespace="urn:example:envelope" elementFormDefault="qualified">
  <xs:import namespace="urn:po" schemaLocation="orders.xsd"/>
  <xs:element name="Envelope"><xs:complexType><xs:sequence>
    <xs:element name="Header" minOccurs="0"><xs:complexType><xs:sequence>
      <xs:any namespace="##other" processContents="lax" minOccurs="0" maxOccurs="unbounded"/>
    </xs:sequence></xs:complexType></xs:element>
    <xs:element name="Body"><xs:complexType><xs:sequence>
      <xs:any namespace="urn:po" processContents="strict"/></xs:sequence></xs:complexType></xs:element>
  </xs:sequence></xs:complexType></xs:element>
</xs:schema>
"""
HEAD = ('<?xml version="1.0" encoding="UTF-8"?>\n<env:Envelope xmlns:env="urn:example:envelope" xmlns:p="urn:po">\n'
        '<env:Header><w:To xmlns:w="urn:example:addressing">urn:orders</w:To></env:Header>\n<env:Body>\n<p:orders>\n')
TAIL = "</p:orders>\n</env:Body>\n</env:Envelope>\n"


def order(i):
    return ('  <p:order n="%d" state="%s"><p:qty>%d</p:qty><p:sku>ABC-%d</p:sku><p:note>widget &amp; co %d'
            '</p:note></p:order>\n' % (i, "open" if i % 3 else "shipped", 1 + i % 9, i, i))


def generate(path, megabytes):
    target = megabytes * 1000 * 1000
    with open(path, "w") as f:
        f.write(HEAD)
        written, i = 0, 0
        while written < target:
            block = "".join(order(n) for n in range(i, i + 1000))
            f.write(block)
            written += len(block)
            i += 1000
        f.write(TAIL)
    return os.path.getsize(path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--sizes", default="50,200")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--batch", type=int, default=10000)
    parser.add_argument("--no-pin", action="store_true")
    parser.add_argument("--instructions", type=int, default=0, metavar="MB")
    args = parser.parse_args()
    if not args.no_pin:
        speed.PINNED_CPU = max(os.sched_getaffinity(0))
    bin_dir = os.path.join(args.build, "bin")
    zaqxml, bare = os.path.join(bin_dir, "zaqxml"), os.path.join(bin_dir, "sax_validate")
    xmllint = shutil.which("xmllint")
    tmp = tempfile.mkdtemp(prefix="zaq-validate-")
    try:
        with open(os.path.join(tmp, "orders.xsd"), "w") as f:
            f.write(ORDERS_XSD)
        schema = os.path.join(tmp, "envelope.xsd")
        with open(schema, "w") as f:
            f.write(ENVELOPE_XSD)
        print("CPU seconds (medians of %d runs, pinned to CPU %s), peak RSS" % (args.runs, speed.PINNED_CPU))
        for size in [int(s) for s in args.sizes.split(",")]:
            path = os.path.join(tmp, "envelope%d.xml" % size)
            mb = generate(path, size) / 1e6
            tools = {
                "bare validating parse": [bare, "--schema", schema, path],
                "zaqxml --noout --schema": [zaqxml, "--noout", "--schema", schema, path],
                "zaqxml --schema (rewrite)": [zaqxml, "--schema", schema, path],
                "zaqxml (rewrite)": [zaqxml, path],
            }
            if xmllint:
                tools["xmllint --schema"] = [xmllint, "--noout", "--schema", schema, path]
                tools["xmllint --stream --schema"] = [xmllint, "--noout", "--stream", "--schema", schema, path]
            results = speed.alternate(tools, args.runs)
            print("\n%.0f MB envelope of orders:" % mb)
            for name, result in results.items():
                print("  %-28s %7.2f s  %7.1f MiB" % (name, result.cpu, result.rss))
            ours = results["zaqxml --noout --schema"]
            print("  zaqxml --noout --schema / bare validating parse: %.2f (target <= 1.2)" %
                  ours.ratio(results["bare validating parse"], speed.CPU))
            print("  validating rewrite / plain rewrite: %.2f (aim <= 1.5)" %
                  results["zaqxml --schema (rewrite)"].ratio(results["zaqxml (rewrite)"], speed.CPU))
            if xmllint:
                print("  xmllint --schema / zaqxml --noout --schema: %.2f (target >= 2)" %
                      results["xmllint --schema"].ratio(ours, speed.CPU))
                print("  xmllint --stream --schema / zaqxml --noout --schema: %.2f" %
                      results["xmllint --stream --schema"].ratio(ours, speed.CPU))
            os.unlink(path)
        batch(args, tmp, zaqxml, schema)
        if args.instructions:
            instructions(args, tmp, zaqxml, bare, schema)
    finally:
        shutil.rmtree(tmp)


def batch(args, tmp, zaqxml, schema):
    """One run over many small documents against a process per document."""
    folder = os.path.join(tmp, "batch")
    os.mkdir(folder)
    files = []
    for i in range(args.batch):
        path = os.path.join(folder, "m%05d.xml" % i)
        with open(path, "w") as f:
            f.write(HEAD + order(i) + order(i + 1) + TAIL)
        files.append(path)
    speed.pin()
    start = time.process_time()
    one = speed.run([zaqxml, "--noout", "--schema", schema] + files)
    per_file_batch = one[1] / len(files)
    sample = files[:200]
    fresh = [speed.run([zaqxml, "--noout", "--schema", schema, f])[1] for f in sample]
    per_file_fresh = sum(fresh) / len(fresh)
    del start
    print("\nbatch of %d documents of %d bytes each:" % (len(files), os.path.getsize(files[0])))
    print("  one run: %.3f ms a document (%.2f s in all, %.1f MiB peak)" % (per_file_batch * 1e3, one[1], one[2]))
    print("  a process a document (%d sampled): %.2f ms a document" % (len(sample), per_file_fresh * 1e3))
    print("  ratio: %.0fx" % (per_file_fresh / per_file_batch))


def counted(command):
    """The instructions `command` runs, as callgrind counts them."""
    done = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"] + command,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, check=False)
    found = re.search(r"refs:\s+([\d,]+)", done.stderr)
    if found is None:
        sys.exit("no count from callgrind for %s:\n%s" % (command, done.stderr))
    return int(found.group(1).replace(",", ""))


def instructions(args, tmp, zaqxml, bare, schema):
    """Instructions run by the bare parse and by zaqxml on one envelope."""
    if shutil.which("valgrind") is None:
        sys.exit("--instructions needs valgrind")
    path = os.path.join(tmp, "counted.xml")
    mb = generate(path, args.instructions) / 1e6
    base = counted([bare, "--schema", schema, path])
    ours = counted([zaqxml, "--noout", "--schema", schema, path])
    plain = counted([zaqxml, path])
    rewrite = counted([zaqxml, "--schema", schema, path])
    print("\ninstructions on a %.0f MB envelope (callgrind):" % mb)
    print("  bare validating parse       %14d" % base)
    print("  zaqxml --noout --schema     %14d  (%.3f x the bare parse)" % (ours, ours / base))
    print("  zaqxml --schema (rewrite)   %14d  (%.3f x the plain rewrite)" % (rewrite, rewrite / plain))
    print("  zaqxml (rewrite)            %14d" % plain)


if __name__ == "__main__":
    main()
