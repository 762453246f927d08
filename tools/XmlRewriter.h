// SPDX-License-Identifier: Apache-2.0
// XmlRewriter.h - SAX2 handler that writes a document back out with the
// namespace declarations its namespace policy decides.
#ifndef ZAQ_TOOLS_XML_REWRITER_H
#define ZAQ_TOOLS_XML_REWRITER_H

#include "InputPolicy.h"
#include "NamespacePolicy.h"
#include "XMLPrefixManager.h"
#include "XmlOutput.h"

#include <xercesc/framework/XMLDocumentHandler.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/// Streams a parsed document back out: the XML declaration (version and
/// standalone kept), the document type declaration without its internal
/// subset, then every element with the prefixes and declarations of the
/// namespace policy, and text, comments, PIs and CDATA as they came.
/// Install `declarationListener()` as the reader's advanced document handler
/// so that the XML declaration is seen.
class XmlRewriter : public xercesc::DefaultHandler {
public:
    struct Options {
        NamespacePolicy::Settings namespaces;
        bool loadExternal = false; ///< only for the wording of errors
        std::string name;          ///< the input's name in warnings
        InputSettings limits;
        const std::uint64_t* inputBytes = nullptr; ///< read so far, for the expansion bound
    };

    XmlRewriter(XMLPrefixManager& manager, Utf8Output& out, const Options& options);

    xercesc::XMLDocumentHandler& declarationListener() { return iDeclarationListener; }
    /// Where the parser's locator will be, for those that report a position
    /// from outside the handler.
    const xercesc::Locator* const* locatorSlot() const { return &iLocator; }

    void setDocumentLocator(const xercesc::Locator* locator) override { iLocator = locator; }
    void startDocument() override;
    void endDocument() override;
    void startPrefixMapping(const XMLCh* prefix, const XMLCh* uri) override;
    void startElement(const XMLCh* uri, const XMLCh* localname, const XMLCh* qname,
                      const xercesc::Attributes& attrs) override;
    void endElement(const XMLCh* uri, const XMLCh* localname, const XMLCh* qname) override;
    void characters(const XMLCh* chars, XMLSize_t length) override;
    void ignorableWhitespace(const XMLCh* chars, XMLSize_t length) override;
    void processingInstruction(const XMLCh* target, const XMLCh* data) override;
    void skippedEntity(const XMLCh* name) override;
    void comment(const XMLCh* chars, XMLSize_t length) override;
    void startCDATA() override;
    void endCDATA() override;
    void startDTD(const XMLCh* name, const XMLCh* publicId, const XMLCh* systemId) override;
    void endDTD() override;
    void fatalError(const xercesc::SAXParseException& e) override;
    void error(const xercesc::SAXParseException& e) override;

private:
    /// Hears the XML declaration, which SAX2 does not report.
    class DeclarationListener : public xercesc::XMLDocumentHandler {
    public:
        explicit DeclarationListener(XmlRewriter& rewriter) : iRewriter(rewriter) {}
        void XMLDecl(const XMLCh* version, const XMLCh* encoding, const XMLCh* standalone,
                     const XMLCh* autoEncoding) override;
        void docCharacters(const XMLCh*, XMLSize_t, bool) override {}
        void docComment(const XMLCh*) override {}
        void docPI(const XMLCh*, const XMLCh*) override {}
        void endDocument() override {}
        void endElement(const xercesc::XMLElementDecl&, unsigned int, bool, const XMLCh*) override {}
        void endEntityReference(const xercesc::XMLEntityDecl&) override {}
        void ignorableWhitespace(const XMLCh*, XMLSize_t, bool) override {}
        void resetDocument() override {}
        void startDocument() override {}
        void startElement(const xercesc::XMLElementDecl&, unsigned int, const XMLCh*,
                          const xercesc::RefVectorOf<xercesc::XMLAttr>&, XMLSize_t, bool, bool) override {}
        void startEntityReference(const xercesc::XMLEntityDecl&) override {}

    private:
        XmlRewriter& iRewriter;
    };

    void writeProlog();
    /// Throws DocumentError at the parser's current position.
    [[noreturn]] void fail(const std::string& message) const;
    /// Hands a full buffer to the file, within the expansion bound; stops
    /// the parse at the first failed write.
    void maybeFlush() {
        if (iOut.full())
            flushBuffer();
    }
    void flushBuffer();
    void closeStartTag();
    void writeName(const NamespacePolicy::Name& name);
    void warnLostPrefixes(const XMLCh* chars, std::size_t length);

    NamespacePolicy iPolicy;
    Utf8Output& iOut;
    Options iOptions;
    DeclarationListener iDeclarationListener;
    const xercesc::Locator* iLocator = nullptr;
    std::vector<NamespacePolicy::Name> iNames; // of the current start tag
    std::vector<std::string> iLost;
    std::string iNameArena; // written names of open elements
    std::vector<std::size_t> iNameStarts;
    std::string iVersion;
    std::string iStandalone;
    bool iPrologWritten = false;
    bool iTagOpen = false;
    bool iInCdata = false;
    bool iInDtd = false;
    unsigned long iDepth = 0;
};

#endif
