// SPDX-License-Identifier: Apache-2.0
// soap_response.cpp - writes a SOAP 1.1 response with XmlWriter: an envelope,
// a WS-Addressing header that must be understood, and a body whose payload
// names an XML Schema type in an attribute value (xsi:type="xsd:decimal"),
// so the prefix that value uses is declared where it is written.
//
// usage: soap_response [ORDER-ID]    (writes to standard output)
#include <zaqprefixmgr/XmlWriter.h>

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    const std::string order = argc > 1 ? argv[1] : "A-42";
    const char* const soap = "http://schemas.xmlsoap.org/soap/envelope/";
    const char* const wsa = "http://www.w3.org/2005/08/addressing";
    const char* const orders = "urn:example:orders";
    const char* const xsi = "http://www.w3.org/2001/XMLSchema-instance";
    const char* const xsd = "http://www.w3.org/2001/XMLSchema";

    XmlStreamSink sink(std::cout);
    try {
        XmlWriter::Options options;
        options.indent = true;
        XmlWriter w(sink, options);
        // Preferred prefixes: each is declared on the first element that
        // needs it. Names in other namespaces would get NS1, NS2, ...
        w.addNamespace(soap, "soap");
        w.addNamespace(wsa, "wsa");
        w.addNamespace(xsi, "xsi");
        w.startDocument();
        w.startElement(soap, "Envelope");
        // A prefix used inside a value is invisible to the writer: declare
        // it yourself, here once for the whole document.
        w.declareNamespace("xsd", xsd);

        w.startElement(soap, "Header");
        w.declareNamespace("wsa", wsa); // once for both children, not on each
        w.startElement(wsa, "Action");
        w.attribute(soap, "mustUnderstand", "1");
        w.text("urn:example:orders/StatusResponse");
        w.endElement();
        w.startElement(wsa, "RelatesTo");
        w.text("uuid:6b29fc40-ca47-1067-b31d-00dd010662da");
        w.endElement();
        w.endElement(); // Header

        w.startElement(soap, "Body");
        w.startElement(orders, "StatusResponse");
        w.declareNamespace("", orders); // the payload in the default namespace
        w.startElement(orders, "order");
        w.attribute("", "id", order); // escaped as needed: try an id with & or "
        w.startElement(orders, "total");
        w.attribute(xsi, "type", "xsd:decimal");
        w.text("12.50");
        w.endElement();
        w.startElement(orders, "note");
        w.text("Tea & biscuits <assorted>; shipped 2026-12-10");
        w.endElement();
        w.endElement(); // order
        w.endElement(); // StatusResponse
        w.endElement(); // Body
        w.endElement(); // Envelope
        w.endDocument();
    } catch (const XmlWriterError& e) {
        std::cerr << "soap_response: " << e.what() << '\n';
        return 1;
    }
    return std::cout ? 0 : 1;
}
