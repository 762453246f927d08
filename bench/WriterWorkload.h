// SPDX-License-Identifier: Apache-2.0
// WriterWorkload.h - the benchmark document, written by XmlWriter and by each
// peer into the output it is given: a SOAP-like envelope whose entries are an
// element with an unqualified and a namespaced attribute, holding a child
// with text that needs escaping (two elements per entry). The peers are told
// the names and declarations; XmlWriter chooses them itself.
#ifndef ZAQ_BENCH_WRITER_WORKLOAD_H
#define ZAQ_BENCH_WRITER_WORKLOAD_H

#include "XmlWriter.h"

#include <libxml/xmlwriter.h>
#include <pugixml.hpp>
#include <tinyxml2.h>
#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/XMLFormatter.hpp>

#if ZAQ_HAVE_QT
#include <QIODevice>
#include <QXmlStreamWriter>
#endif

#include <cstdio>
#include <string>
#include <string_view>

namespace zaqbench {

inline const char* const SOAP = "http://schemas.xmlsoap.org/soap/envelope/";
inline const char* const ORDERS = "urn:example:orders:2026";
inline const char* const ITEMS = "urn:example:items";
inline const char* const TEXT = "Tea & biscuits <assorted>, 250 g";

/// The same number of elements, each a sibling in a URI that no ancestor
/// binds: every one declares it again, with the one prefix the writer
/// generated for it.
inline void withXmlWriterSiblings(zaq::XmlSink& sink, long entries) {
    using namespace std::string_view_literals;
    constexpr std::u16string_view fresh = u"urn:example:bound:on:no:ancestor"sv;
    zaq::XmlWriter w(sink);
    w.startElement(u""sv, u"root"sv);
    for (long k = 0; k < 2 * entries; ++k) {
        w.startElement(fresh, u"item"sv);
        w.attribute(fresh, u"n"sv, u"1"sv);
        w.endElement();
    }
    w.endDocument();
}

inline void withXmlWriter(zaq::XmlSink& sink, long entries) {
    using namespace std::string_view_literals; // lengths known where the strings are written, as for the peers
    constexpr std::u16string_view soap = u"http://schemas.xmlsoap.org/soap/envelope/"sv,
                                  orders = u"urn:example:orders:2026"sv, items = u"urn:example:items"sv;
    zaq::XmlWriter w(sink, zaq::XmlWriter::Options{zaq::XmlWriter::DefaultNamespace::Prefixed, false});
    w.setPreferredPrefix(soap, u"soap"sv);
    w.setPreferredPrefix(orders, u"o"sv);
    w.setPreferredPrefix(items, u"i"sv);
    w.startDocument();
    w.startElement(soap, u"Envelope"sv);
    w.declareNamespace(orders, u"o"sv);
    w.declareNamespace(items, u"i"sv);
    w.startElement(soap, u"Body"sv);
    for (long k = 0; k < entries; ++k) {
        w.startElement(orders, u"line"sv);
        w.attribute(u""sv, u"id"sv, u"L-0042"sv);
        w.attribute(items, u"sku"sv, u"TEA-250"sv);
        w.startElement(items, u"description"sv);
        w.text(u"Tea & biscuits <assorted>, 250 g"sv);
        w.endElement();
        w.endElement();
    }
    w.endElement();
    w.endElement();
    w.endDocument();
}

/// `out` is taken over (and freed) by the text writer.
inline void withLibXml2(xmlOutputBufferPtr out, long entries) {
    auto x = [](const char* s) { return reinterpret_cast<const xmlChar*>(s); };
    xmlTextWriterPtr w = xmlNewTextWriter(out);
    xmlTextWriterStartDocument(w, nullptr, "UTF-8", nullptr);
    xmlTextWriterStartElementNS(w, x("soap"), x("Envelope"), x(SOAP));
    xmlTextWriterWriteAttributeNS(w, x("xmlns"), x("o"), nullptr, x(ORDERS));
    xmlTextWriterWriteAttributeNS(w, x("xmlns"), x("i"), nullptr, x(ITEMS));
    xmlTextWriterStartElementNS(w, x("soap"), x("Body"), nullptr);
    for (long k = 0; k < entries; ++k) {
        xmlTextWriterStartElementNS(w, x("o"), x("line"), nullptr);
        xmlTextWriterWriteAttribute(w, x("id"), x("L-0042"));
        xmlTextWriterWriteAttributeNS(w, x("i"), x("sku"), nullptr, x("TEA-250"));
        xmlTextWriterStartElementNS(w, x("i"), x("description"), nullptr);
        xmlTextWriterWriteString(w, x(TEXT));
        xmlTextWriterEndElement(w);
        xmlTextWriterEndElement(w);
    }
    xmlTextWriterEndDocument(w);
    xmlFreeTextWriter(w);
}

inline void withXercesDom(xercesc::XMLFormatTarget& target, long entries) {
    using namespace xercesc;
    const std::u16string soap = u"http://schemas.xmlsoap.org/soap/envelope/", orders = u"urn:example:orders:2026",
                         items = u"urn:example:items";
    DOMImplementation* dom = DOMImplementationRegistry::getDOMImplementation(u"LS");
    DOMDocument* doc = dom->createDocument(soap.c_str(), u"soap:Envelope", nullptr);
    DOMElement* body = doc->createElementNS(soap.c_str(), u"soap:Body");
    DOMElement* envelope = doc->getDocumentElement();
    // Declared on the envelope, as the other writers are told to: the
    // serializer's fix-up then finds them in scope.
    envelope->setAttributeNS(u"http://www.w3.org/2000/xmlns/", u"xmlns:o", orders.c_str());
    envelope->setAttributeNS(u"http://www.w3.org/2000/xmlns/", u"xmlns:i", items.c_str());
    envelope->appendChild(body);
    for (long k = 0; k < entries; ++k) {
        DOMElement* line = doc->createElementNS(orders.c_str(), u"o:line");
        line->setAttribute(u"id", u"L-0042");
        line->setAttributeNS(items.c_str(), u"i:sku", u"TEA-250");
        DOMElement* description = doc->createElementNS(items.c_str(), u"i:description");
        description->appendChild(doc->createTextNode(u"Tea & biscuits <assorted>, 250 g"));
        line->appendChild(description);
        body->appendChild(line);
    }
    DOMLSSerializer* serializer = dom->createLSSerializer();
    DOMLSOutput* output = dom->createLSOutput();
    output->setByteStream(&target);
    output->setEncoding(u"UTF-8");
    serializer->write(doc, output);
    output->release();
    serializer->release();
    doc->release();
}

/// Into `file`, or into the printer's own buffer (null); its size.
inline std::size_t withTinyxml2(std::FILE* file, long entries) {
    tinyxml2::XMLPrinter p(file, true);
    p.PushHeader(false, true);
    p.OpenElement("soap:Envelope", true);
    p.PushAttribute("xmlns:soap", SOAP);
    p.PushAttribute("xmlns:o", ORDERS);
    p.PushAttribute("xmlns:i", ITEMS);
    p.OpenElement("soap:Body", true);
    for (long k = 0; k < entries; ++k) {
        p.OpenElement("o:line", true);
        p.PushAttribute("id", "L-0042");
        p.PushAttribute("i:sku", "TEA-250");
        p.OpenElement("i:description", true);
        p.PushText(TEXT);
        p.CloseElement(true);
        p.CloseElement(true);
    }
    p.CloseElement(true);
    p.CloseElement(true);
    return file != nullptr ? 0 : static_cast<std::size_t>(p.CStrSize() - 1);
}

inline void withPugixml(pugi::xml_writer& out, long entries) {
    pugi::xml_document doc;
    pugi::xml_node envelope = doc.append_child("soap:Envelope");
    envelope.append_attribute("xmlns:soap") = SOAP;
    envelope.append_attribute("xmlns:o") = ORDERS;
    envelope.append_attribute("xmlns:i") = ITEMS;
    pugi::xml_node body = envelope.append_child("soap:Body");
    for (long k = 0; k < entries; ++k) {
        pugi::xml_node line = body.append_child("o:line");
        line.append_attribute("id") = "L-0042";
        line.append_attribute("i:sku") = "TEA-250";
        line.append_child("i:description").text() = TEXT;
    }
    doc.save(out, "", pugi::format_raw);
}

#if ZAQ_HAVE_QT
inline void withQt(QIODevice& out, long entries) {
    QXmlStreamWriter w(&out);
    w.writeStartDocument();
    w.writeNamespace(SOAP, "soap");
    w.writeNamespace(ORDERS, "o");
    w.writeNamespace(ITEMS, "i");
    w.writeStartElement(SOAP, "Envelope");
    w.writeStartElement(SOAP, "Body");
    const QString orders = ORDERS, items = ITEMS, line = "line", description = "description", id = "id", sku = "sku",
                  idValue = "L-0042", skuValue = "TEA-250", text = TEXT;
    for (long k = 0; k < entries; ++k) {
        w.writeStartElement(orders, line);
        w.writeAttribute(id, idValue);
        w.writeAttribute(items, sku, skuValue);
        w.writeStartElement(items, description);
        w.writeCharacters(text);
        w.writeEndElement();
        w.writeEndElement();
    }
    w.writeEndDocument();
}
#endif

} // namespace zaqbench

#endif
