// SPDX-License-Identifier: Apache-2.0
// xml_schema.cpp - writes an XML Schema with zaq::XmlWriter. Its type="..."
// values are QNames, resolved by the prefixes in scope where they stand: the
// program declares the target namespace's prefix itself and asks the writer
// for the prefix in force before it writes each value. An element of another
// vocabulary hinted to "xs" shows that the writer will not rebind a prefix
// the values use: it takes another one.
//
// usage: xml_schema    (writes to standard output)
#include <zaqprefixmgr/XmlWriter.h>

#include <iostream>
#include <string>

namespace {

const char* const XS = "http://www.w3.org/2001/XMLSchema";
const char* const TNS = "urn:example:orders";

std::string qname(const zaq::XmlWriter& w, const char* uri, const char* local) {
    std::string prefix;
    if (!w.prefixInForce(uri, prefix))
        throw zaq::XmlWriterError(zaq::XmlWriterError::Kind::Namespace, std::string("no prefix in force for ") + uri);
    return prefix.empty() ? local : prefix + ":" + local;
}

void element(zaq::XmlWriter& w, const char* name, const std::string& type, const char* maxOccurs = nullptr) {
    w.startElement(XS, "element");
    w.attribute("", "name", name);
    w.attribute("", "type", type);
    if (maxOccurs)
        w.attribute("", "maxOccurs", maxOccurs);
    w.endElement();
}

} // namespace

int main() {
    zaq::XmlStreamSink sink(std::cout);
    try {
        zaq::XmlWriter::Options options;
        options.indent = true;
        zaq::XmlWriter w(sink, options);
        w.setPreferredPrefix(XS, "xs");
        w.startDocument();
        w.startElement(XS, "schema");
        w.declareNamespace(TNS, "tns");
        w.attribute("", "targetNamespace", TNS);
        w.attribute("", "elementFormDefault", "qualified");
        element(w, "order", qname(w, TNS, "Order"));

        w.startElement(XS, "complexType");
        w.attribute("", "name", "Order");
        w.startElement(XS, "sequence");
        element(w, "item", qname(w, XS, "string"), "unbounded");
        element(w, "total", qname(w, XS, "decimal"));
        w.endElement(); // sequence
        w.startElement(XS, "attribute");
        w.attribute("", "name", "id");
        w.attribute("", "type", qname(w, XS, "ID"));
        w.attribute("", "use", "required");
        w.endElement();
        w.endElement(); // complexType

        w.startElement(XS, "annotation");
        w.startElement(XS, "appinfo");
        // "xs" is in force for XML Schema: the hint is passed over, and the
        // QName below still means xs:string.
        w.startElement("urn:example:tooling", "hint", "xs");
        w.attribute("", "for", qname(w, XS, "string"));
        w.endDocument();
    } catch (const zaq::XmlWriterError& e) {
        std::cerr << "xml_schema: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
