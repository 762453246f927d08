// SPDX-License-Identifier: Apache-2.0
// writer_limits.cpp - the writer at the sizes where cost used to grow with
// the square of a call's size or with the length of a stream, for
// bench/writer_limits.py to time and measure: one start tag of N attributes
// or N declarations, one text call of N MiB (UTF-8), N nested elements.
// The same with libxml2's xmlTextWriter, the peer of the same run.
//
// usage: writer_limits WRITER CASE N   (WRITER: XmlWriter or libxml2;
//        CASE: attributes, declarations, text, input, depth)
#include "XmlWriter.h"

#include <libxml/xmlwriter.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string numbered(const char* stem, long k) { return stem + std::to_string(k); }

const xmlChar* x(const std::string& text) { return reinterpret_cast<const xmlChar*>(text.c_str()); }
const xmlChar* x(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

void withXmlWriter(const std::string& what, long n, const std::string& text) {
    zaq::XmlFileSink sink(stdout);
    zaq::XmlWriter w(sink);
    w.startElement("", "r");
    if (what == "attributes") {
        for (long k = 0; k < n; ++k)
            w.attribute("", numbered("a", k), "v");
    } else if (what == "declarations") {
        for (long k = 0; k < n; ++k)
            w.declareNamespace(numbered("urn:p", k), numbered("p", k));
    } else if (what == "text") {
        w.text(text);
    } else if (what == "depth") {
        for (long k = 0; k < n; ++k)
            w.startElement("", "e");
    }
    w.endDocument();
}

void withLibXml2(const std::string& what, long n, const std::string& text) {
    xmlTextWriterPtr w = xmlNewTextWriter(xmlOutputBufferCreateFile(stdout, nullptr));
    xmlTextWriterStartDocument(w, nullptr, "UTF-8", nullptr);
    xmlTextWriterStartElement(w, x("r"));
    if (what == "attributes") {
        for (long k = 0; k < n; ++k)
            xmlTextWriterWriteAttribute(w, x(numbered("a", k)), x("v"));
    } else if (what == "declarations") {
        for (long k = 0; k < n; ++k)
            xmlTextWriterWriteAttribute(w, x(numbered("xmlns:p", k)), x(numbered("urn:p", k)));
    } else if (what == "text") {
        xmlTextWriterWriteString(w, x(text));
    } else if (what == "depth") {
        for (long k = 0; k < n; ++k)
            xmlTextWriterStartElement(w, x("e"));
    }
    xmlTextWriterEndDocument(w);
    xmlFreeTextWriter(w);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: writer_limits WRITER CASE N\n");
        return 1;
    }
    const std::string writer = argv[1], what = argv[2];
    const long n = std::strtol(argv[3], nullptr, 10);
    const std::string text = what == "text" || what == "input" ? std::string(std::size_t(n) << 20, 'a') : "";
    if (what == "input")
        return text.size() == std::size_t(n) << 20 ? 0 : 1; // the argument's own memory, to subtract
    if (writer == "XmlWriter")
        withXmlWriter(what, n, text);
    else
        withLibXml2(what, n, text);
    return 0;
}
