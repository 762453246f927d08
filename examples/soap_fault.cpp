// SPDX-License-Identifier: Apache-2.0
// soap_fault.cpp - writes a SOAP 1.2 fault with zaq::XmlWriter: WS-Addressing
// headers that must be understood, and a fault code whose values are QNames
// (env:Sender, app:OutOfStock). A QName value names a prefix the parser
// resolves in scope, so the program declares the prefixes it needs and
// asks the writer which one is in force where the value is written.
//
// usage: soap_fault [RELATES-TO]    (writes to standard output)
#include <zaqprefixmgr/XmlWriter.h>

#include <iostream>
#include <string>

namespace {

// "prefix:local" for a QName value written now; the writer has bound `uri`
// on an ancestor (or the open tag declares it).
std::string qname(const zaq::XmlWriter& w, const char* uri, const char* local) {
    std::string prefix;
    if (!w.prefixInForce(uri, prefix))
        throw zaq::XmlWriterError(zaq::XmlWriterError::Kind::Namespace, std::string("no prefix in force for ") + uri);
    return prefix.empty() ? local : prefix + ":" + local;
}

} // namespace

int main(int argc, char** argv) {
    const std::string relatesTo = argc > 1 ? argv[1] : "urn:uuid:6b29fc40-ca47-1067-b31d-00dd010662da";
    const char* const env = "http://www.w3.org/2003/05/soap-envelope";
    const char* const wsa = "http://www.w3.org/2005/08/addressing";
    const char* const app = "urn:example:orders:faults";

    zaq::XmlStreamSink sink(std::cout);
    try {
        zaq::XmlWriter::Options options;
        options.indent = true;
        zaq::XmlWriter w(sink, options);
        w.setPreferredPrefix(env, "env");
        w.startDocument();
        w.startElement(env, "Envelope");
        w.declareNamespace(wsa, "wsa"); // once for the whole header
        w.declareNamespace(app, "app"); // for the QName value in the fault
        w.startElement(env, "Header");
        w.startElement(wsa, "Action");
        w.attribute(env, "mustUnderstand", "true");
        w.text("http://www.w3.org/2005/08/addressing/soap/fault");
        w.endElement();
        w.startElement(wsa, "RelatesTo");
        w.attribute(env, "mustUnderstand", "true");
        w.text(relatesTo); // escaped as needed: try a value with & or <
        w.endElement();
        w.endElement(); // Header

        w.startElement(env, "Body");
        w.startElement(env, "Fault");
        w.startElement(env, "Code");
        w.startElement(env, "Value");
        w.text(qname(w, env, "Sender"));
        w.endElement();
        w.startElement(env, "Subcode");
        w.startElement(env, "Value");
        w.text(qname(w, app, "OutOfStock"));
        w.endElement();
        w.endElement(); // Subcode
        w.endElement(); // Code
        w.startElement(env, "Reason");
        w.startElement(env, "Text");
        w.attribute(zaq::XML_NAMESPACE, "lang", "en");
        w.text("Item TEA-250 is out of stock");
        w.endDocument(); // closes Text, Reason, Fault, Body and Envelope, then flushes
    } catch (const zaq::XmlWriterError& e) {
        std::cerr << "soap_fault: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
