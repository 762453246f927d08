// SPDX-License-Identifier: Apache-2.0
// WriterScript.h - XmlWriter calls as data: run them, remember what they
// meant, and read the output back with Xerces-C to compare.
#ifndef ZAQ_TESTS_WRITER_SCRIPT_H
#define ZAQ_TESTS_WRITER_SCRIPT_H

#include "XmlWriter.h"

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/XMLString.hpp>

#include <memory>
#include <string>
#include <vector>

/// One call: S start (uri, local, hint), A attribute (uri, local, value),
/// N declareNamespace (prefix, uri), P addNamespace (uri, prefix), T text,
/// C cdata, M comment, I processing instruction (target, data), E end,
/// D startDocument (a: "1.1" for XML 1.1), Z endDocument.
struct WriterOp {
    char code = 0;
    std::u16string a{}, b{}, c{};
};

/// What a document means, as the script intends it and as a parser reads
/// it: "{uri}local" per element with " @{uri}local=value" per attribute,
/// and the character data in document order.
struct Meaning {
    std::vector<std::u16string> elements;
    std::u16string text;
    bool operator==(const Meaning& other) const { return elements == other.elements && text == other.text; }
};

/// Runs `op` on `w` and adds what it means to `meaning` (after the call, so
/// that a refused call adds nothing).
inline void runOp(XmlWriter& w, const WriterOp& op, Meaning& meaning) {
    switch (op.code) {
    case 'D':
        w.startDocument(op.a == u"1.1" ? XmlWriter::Version::Xml11 : XmlWriter::Version::Xml10);
        break;
    case 'S':
        w.startElement(op.a, op.b, op.c);
        meaning.elements.push_back(u"{" + op.a + u"}" + op.b);
        break;
    case 'A':
        w.attribute(op.a, op.b, op.c);
        meaning.elements.back() += u" @{" + op.a + u"}" + op.b + u"=" + op.c;
        break;
    case 'N':
        w.declareNamespace(op.a, op.b);
        break;
    case 'P':
        w.addNamespace(op.a, op.b);
        break;
    case 'T':
        w.text(op.a);
        if (w.depth() > 0)
            meaning.text += op.a;
        break;
    case 'C':
        w.cdata(op.a);
        meaning.text += op.a;
        break;
    case 'M':
        w.comment(op.a);
        break;
    case 'I':
        w.processingInstruction(op.a, op.b);
        break;
    case 'E':
        w.endElement();
        break;
    case 'Z':
        w.endDocument();
        break;
    }
}

/// Reads `xml` back with Xerces-C (namespaces on); false when it is not
/// namespace-well-formed.
inline bool readBack(const std::string& xml, Meaning& meaning) {
    struct Handler : xercesc::DefaultHandler {
        Meaning& iMeaning;
        explicit Handler(Meaning& m) : iMeaning(m) {}
        void startElement(const XMLCh* uri, const XMLCh* localName, const XMLCh*,
                          const xercesc::Attributes& attributes) override {
            std::u16string record = u"{" + std::u16string(uri) + u"}" + localName;
            for (XMLSize_t i = 0; i < attributes.getLength(); ++i) {
                const std::u16string qname = attributes.getQName(i);
                if (qname == u"xmlns" || qname.compare(0, 6, u"xmlns:") == 0)
                    continue;
                record += u" @{" + std::u16string(attributes.getURI(i)) + u"}" + attributes.getLocalName(i) + u"=" +
                          attributes.getValue(i);
            }
            iMeaning.elements.push_back(record);
        }
        void characters(const XMLCh* chars, const XMLSize_t length) override { iMeaning.text.append(chars, length); }
        void fatalError(const xercesc::SAXParseException& e) override { throw e; }
    } handler(meaning);
    std::unique_ptr<xercesc::SAX2XMLReader> reader(xercesc::XMLReaderFactory::createXMLReader());
    reader->setFeature(xercesc::XMLUni::fgSAX2CoreNameSpaces, true);
    reader->setFeature(xercesc::XMLUni::fgSAX2CoreNameSpacePrefixes, true);
    reader->setContentHandler(&handler);
    reader->setErrorHandler(&handler);
    xercesc::MemBufInputSource input(reinterpret_cast<const XMLByte*>(xml.data()), xml.size(), "written");
    try {
        reader->parse(input);
    } catch (const xercesc::SAXParseException&) {
        return false;
    }
    return true;
}

#endif
