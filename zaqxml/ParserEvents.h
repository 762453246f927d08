// SPDX-License-Identifier: Apache-2.0
// ParserEvents.h - the base of zaqxml's handlers of the parser's own events.
#ifndef ZAQXML_PARSER_EVENTS_H
#define ZAQXML_PARSER_EVENTS_H

#include "Diagnostics.h"
#include "LocatorListener.h"

#include <xercesc/framework/XMLDocumentHandler.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/LexicalHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>

/// Takes the parser's events as the scanner reports them (`attach` installs
/// it as the reader's advanced document handler, with no SAX2 content
/// handler): names come as parts and namespaces as URI ids, so nothing is
/// mapped to SAX2 calls only to be taken apart again. Every event does
/// nothing until a handler overrides it; the first error or fatal error ends
/// the document. The lexical handler is installed too: a reader with one
/// reports the document type, which tells the entity policy what it reads.
/// Comments and CDATA come with the document events, so the lexical ones are
/// left empty.
class ParserEvents : public xercesc::XMLDocumentHandler, public xercesc::LexicalHandler, public xercesc::ErrorHandler {
public:
    explicit ParserEvents(Diagnostics& diagnostics) : iLocatorListener(diagnostics) {}

    /// Makes this the reader's handler of the document, its DTD events and
    /// its errors, and hands the reader's locator to the diagnostics.
    void attach(xercesc::SAX2XMLReader& reader) {
        iReader = &reader;
        iLocatorListener.attach(reader);
        reader.installAdvDocHandler(this);
        reader.setLexicalHandler(this);
        reader.setErrorHandler(this);
    }

    void XMLDecl(const XMLCh*, const XMLCh*, const XMLCh*, const XMLCh*) override {}
    void startDocument() override {}
    void endDocument() override {}
    void resetDocument() override {}
    void startElement(const xercesc::XMLElementDecl&, unsigned int, const XMLCh*,
                      const xercesc::RefVectorOf<xercesc::XMLAttr>&, XMLSize_t, bool, bool) override {}
    void endElement(const xercesc::XMLElementDecl&, unsigned int, bool, const XMLCh*) override {}
    void docCharacters(const XMLCh*, XMLSize_t, bool) override {}
    void ignorableWhitespace(const XMLCh*, XMLSize_t, bool) override {}
    void docComment(const XMLCh*) override {}
    void docPI(const XMLCh*, const XMLCh*) override {}
    void startEntityReference(const xercesc::XMLEntityDecl&) override {}
    void endEntityReference(const xercesc::XMLEntityDecl&) override {}

    void startDTD(const XMLCh*, const XMLCh*, const XMLCh*) override {}
    void endDTD() override {}
    void comment(const XMLCh*, XMLSize_t) override {}
    void startCDATA() override {}
    void endCDATA() override {}
    void startEntity(const XMLCh*) override {}
    void endEntity(const XMLCh*) override {}

    void warning(const xercesc::SAXParseException&) override {}
    void error(const xercesc::SAXParseException& e) override { throw e; }
    void fatalError(const xercesc::SAXParseException& e) override { throw e; }
    void resetErrors() override {}

protected:
    /// The reader attached, for its URI texts.
    xercesc::SAX2XMLReader* reader() const { return iReader; }

private:
    LocatorListener iLocatorListener;
    xercesc::SAX2XMLReader* iReader = nullptr;
};

#endif
