// SPDX-License-Identifier: Apache-2.0
// XmlRewriter.h - the parser handler that writes a document back out with the
// namespace declarations its namespace policy decides.
#ifndef ZAQXML_XML_REWRITER_H
#define ZAQXML_XML_REWRITER_H

#include "DeclaredTypes.h"
#include "Diagnostics.h"
#include "Limits.h"
#include "NameCounts.h"
#include "ParserEvents.h"
#include "NamespacePolicy.h"
#include "MarkupEmitter.h"
#include "XmlIndenter.h"
#include "XMLPrefixManager.h"
#include "XmlTextOutput.h"

#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/util/RefVectorOf.hpp>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

/// Streams a parsed document back out: the XML declaration (version and
/// standalone kept), the document type declaration without its internal
/// subset, then every element with the prefixes and declarations of the
/// namespace policy, and text, comments, PIs and CDATA as they came.
/// It takes the parser's own events (ParserEvents).
class XmlRewriter : public ParserEvents {
public:
    struct Options {
        NamespacePolicy::Settings namespaces;
        bool format = false; ///< reindent element-only content (XmlIndenter)
        std::size_t formatLookahead = zaq::XmlIndenter::DEFAULT_LOOKAHEAD; ///< output held to find mixed content
        /// Bindings declared on the document element besides its own
        /// (--hoist); inside, their declarations are then in force already.
        std::vector<std::pair<std::u16string, std::u16string>> hoisted;
    };

    /// Depth, attribute count and output size are bounded by `limits`;
    /// positions and warnings go through `diagnostics`, which is also given
    /// the parser's locator.
    XmlRewriter(XMLPrefixManager& manager, zaq::XmlTextOutput& out, const Options& options, const Limits& limits,
                Diagnostics& diagnostics);

    /// Attribute values of these declared types are written normalised as
    /// their type says (ToolReader::declaredTypes); null: none.
    void useDeclaredTypes(const DeclaredTypes* types) { iDeclaredTypes = types; }

    // The document.
    void XMLDecl(const XMLCh* version, const XMLCh* encoding, const XMLCh* standalone,
                 const XMLCh* autoEncoding) override;
    void startDocument() override;
    void endDocument() override;
    void startElement(const xercesc::XMLElementDecl& element, unsigned int uriId, const XMLCh* prefix,
                      const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes, XMLSize_t attributeCount, bool isEmpty,
                      bool isRoot) override;
    void endElement(const xercesc::XMLElementDecl& element, unsigned int uriId, bool isRoot,
                    const XMLCh* prefix) override;
    void docCharacters(const XMLCh* chars, XMLSize_t length, bool cdataSection) override;
    void startEntityReference(const xercesc::XMLEntityDecl&) override { ++iInEntity; }
    void endEntityReference(const xercesc::XMLEntityDecl&) override { --iInEntity; }
    void ignorableWhitespace(const XMLCh* chars, XMLSize_t length, bool cdataSection) override;
    void docComment(const XMLCh* text) override;
    void docPI(const XMLCh* target, const XMLCh* data) override;
    void startDTD(const XMLCh* name, const XMLCh* publicId, const XMLCh* systemId) override;

private:
    void writeProlog();
    /// Throws DocumentError at the parser's current position.
    [[noreturn]] void fail(const std::string& message) const;
    /// Hands a full buffer to the file, within the expansion bound; stops
    /// the parse at the first failed write.
    void maybeFlush() {
        iIndent.bound();
        if (iOut.full())
            flushBuffer();
    }
    void flushBuffer();
    void closeStartTag();
    void finishElement();
    void text(const XMLCh* chars, XMLSize_t length, bool cdataSection);
    /// The namespace name of a parser URI id; null for no namespace. Kept
    /// for the document, so that its address identifies it.
    const OrvWstring* uriOf(unsigned int uriId);
    void writeName(const NamespacePolicy::Name& name);
    void warnLostPrefixes(const XMLCh* chars, std::size_t length);

    NamespacePolicy iPolicy;
    zaq::XmlTextOutput& iOut;
    zaq::MarkupEmitter iMarkup{iOut};
    Options iOptions;
    const Limits& iLimits;
    NameCounts iNameCounts{iLimits.settings().maxNames, iLimits.settings().maxPrefixes};
    Diagnostics& iDiagnostics;
    zaq::XmlIndenter iIndent;
    std::vector<NamespacePolicy::Name> iNames;        // of the current start tag
    std::vector<const xercesc::XMLAttr*> iAttributes; // written, in order (declarations aside)
    std::vector<std::u16string> iRootPrefixes;        // declared by the document element itself
    const DeclaredTypes* iDeclaredTypes = nullptr;
    std::u16string iTokens; // a value of a tokenised or enumerated type, normalised
    std::vector<const OrvWstring*> iUriById;
    std::deque<OrvWstring> iUriTexts;
    std::vector<std::string> iLost;
    std::string iVersion;
    std::string iStandalone;
    bool iPrologWritten = false;
    bool iTagOpen = false;
    unsigned long iDepth = 0;
    unsigned long iInEntity = 0; // depth of general entity references being expanded
};

#endif
