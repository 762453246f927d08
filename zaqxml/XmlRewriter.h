// SPDX-License-Identifier: Apache-2.0
// XmlRewriter.h - the rewriting stage: a document's events written back out
// with the prefixes and declarations its namespace policy decides.
#ifndef ZAQXML_XML_REWRITER_H
#define ZAQXML_XML_REWRITER_H

#include "Diagnostics.h"
#include "DocumentEvents.h"
#include "Limits.h"
#include "NamespacePolicy.h"
#include "MarkupEmitter.h"
#include "XmlIndenter.h"
#include "XMLPrefixManager.h"
#include "XmlTextOutput.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

/// Streams a parsed document back out: the XML declaration (version and
/// standalone kept), the document type declaration without its internal
/// subset, then every element with the prefixes and declarations of the
/// namespace policy, and text, comments, PIs and CDATA as they came.
/// It takes plain events (ParserEvents makes them of the parser's); the
/// markup is MarkupEmitter's.
class XmlRewriter : public DocumentEvents {
public:
    struct Options {
        NamespacePolicy::Settings namespaces;
        bool format = false; ///< reindent element-only content (XmlIndenter)
        std::size_t formatLookahead = zaq::XmlIndenter::DEFAULT_LOOKAHEAD; ///< output held to find mixed content
        /// Bindings declared on the document element besides its own
        /// (--hoist); inside, their declarations are then in force already.
        std::vector<std::pair<std::u16string, std::u16string>> hoisted;
    };

    /// The output's size is bounded by `limits`; errors and warnings go
    /// through `diagnostics`, at the position it has.
    XmlRewriter(XMLPrefixManager& manager, zaq::XmlTextOutput& out, const Options& options, const Limits& limits,
                Diagnostics& diagnostics);

    void startDocument() override;
    void endDocument() override;
    void xmlDeclaration(std::u16string_view version, std::u16string_view standalone) override;
    void doctype(std::u16string_view name, std::u16string_view publicId, std::u16string_view systemId) override;
    void startElement(const StartTag& tag) override;
    void endElement() override;
    void text(std::u16string_view chars, bool cdata, bool fromEntity) override;
    void comment(std::u16string_view text) override;
    void processingInstruction(std::u16string_view target, std::u16string_view data) override;

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
    /// Opens a child of the element written last (or a node outside the
    /// root): the prolog, the start tag left open, the indentation.
    void beforeChild();
    void finishElement();
    /// The namespace name of `name`; null for no namespace. Kept for the
    /// document, so that its address identifies it.
    const OrvWstring* uriOf(const EventName& name) {
        if (name.uriId < iUriById.size() && iUriById[name.uriId] != nullptr)
            return iUriById[name.uriId]->isEmpty() ? nullptr : iUriById[name.uriId];
        return learnUri(name);
    }
    const OrvWstring* learnUri(const EventName& name);
    void writeName(const NamespacePolicy::Name& name);
    void warnLostPrefixes(std::u16string_view chars);

    NamespacePolicy iPolicy;
    zaq::XmlTextOutput& iOut;
    zaq::MarkupEmitter iMarkup{iOut};
    Options iOptions;
    const Limits& iLimits;
    Diagnostics& iDiagnostics;
    zaq::XmlIndenter iIndent;
    std::vector<NamespacePolicy::Name> iNames;      // of the current start tag
    std::vector<const EventAttribute*> iAttributes; // written, in order (declarations aside)
    std::vector<std::u16string_view> iRootPrefixes; // declared by the document element itself
    std::u16string_view iSpace;                     // the tag's xml:space
    std::vector<const OrvWstring*> iUriById;
    std::deque<OrvWstring> iUriTexts;
    std::vector<std::string> iLost;
    std::string iVersion;
    std::string iStandalone;
    bool iPrologWritten = false;
    bool iTagOpen = false;
    unsigned long iDepth = 0;
};

#endif
