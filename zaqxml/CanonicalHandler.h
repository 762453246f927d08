// SPDX-License-Identifier: Apache-2.0
// CanonicalHandler.h - the parser's events written as canonical XML, of the
// whole document or of the subtrees --select names.
#ifndef ZAQXML_CANONICAL_HANDLER_H
#define ZAQXML_CANONICAL_HANDLER_H

#include "DeclaredTypes.h"
#include "Diagnostics.h"
#include "Limits.h"
#include "NameCounts.h"
#include "ParserEvents.h"
#include "HoldingSink.h"
#include "XmlCanonicalWriter.h"

#include <string>
#include <utility>
#include <vector>

/// Which subtrees --select writes: every element named `local` in the
/// namespace `uri` (empty: none), or with `id` as its ID; none of them set:
/// the whole document.
struct Selection {
    bool byId = false;
    std::u16string uri, local, id;
    std::string name; ///< as given, for messages
    /// More attributes that hold an ID, as {namespace, local name}: the
    /// wsu:Id of WS-Security, say (--id-attribute).
    std::vector<std::pair<std::u16string, std::u16string>> idAttributes;
    bool any() const { return byId || !local.empty(); }
    /// Parses local, {uri}local or #ID; false when NAME is none of them.
    static bool parse(const std::string& name, Selection& selection);
    /// Parses local or {uri}local into `uri` and `local`; false otherwise.
    static bool parseName(const std::string& name, std::u16string& uri, std::u16string& local);
};

/// Hands the parser's own events to an XmlCanonicalWriter: names with the
/// document's prefixes, declarations as written, attribute values
/// normalised by their declared types.
class CanonicalHandler : public ParserEvents {
public:
    /// Events go to `out`, whose bytes `counted` counts (for the expansion bound).
    CanonicalHandler(zaq::XmlCanonicalWriter& out, const HoldingSink& counted, const Selection& selection,
                     const Limits& limits, Diagnostics& diagnostics);

    void useDeclaredTypes(const DeclaredTypes* types) { iDeclaredTypes = types; }

    /// Canonical XML is defined on XML 1.0: its output has no declaration,
    /// so a 1.1 document's characters would be read back as 1.0 (or not at
    /// all). Such a document is refused.
    void XMLDecl(const XMLCh* version, const XMLCh*, const XMLCh*, const XMLCh*) override;
    void startDocument() override {
        iDepth = 0;
        iSelected = false;
        iNameCounts.clear();
    }
    /// A selection that matched nothing fails the document: an empty
    /// canonical form (or its digest) would pass for the subtree's.
    void endDocument() override;
    void startElement(const xercesc::XMLElementDecl& element, unsigned int uriId, const XMLCh* prefix,
                      const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes, XMLSize_t attributeCount, bool isEmpty,
                      bool isRoot) override;
    void endElement(const xercesc::XMLElementDecl& element, unsigned int uriId, bool isRoot,
                    const XMLCh* prefix) override;
    void docCharacters(const XMLCh* chars, XMLSize_t length, bool cdataSection) override;
    void ignorableWhitespace(const XMLCh* chars, XMLSize_t length, bool cdataSection) override;
    void docComment(const XMLCh* text) override;
    void docPI(const XMLCh* target, const XMLCh* data) override;

private:
    bool selects(const xercesc::XMLElementDecl& element, unsigned int uriId,
                 const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes, XMLSize_t attributeCount) const;
    /// Within the expansion bound of the input read so far.
    void checkOutput() const;
    std::u16string_view uriText(unsigned int uriId) const;

    zaq::XmlCanonicalWriter& iOut;
    const HoldingSink& iCounted;
    Selection iSelection;
    const Limits& iLimits;
    NameCounts iNameCounts{iLimits.settings().maxNames, iLimits.settings().maxPrefixes};
    Diagnostics& iDiagnostics;
    const DeclaredTypes* iDeclaredTypes = nullptr;
    unsigned long iDepth = 0;
    bool iSelected = false; // some element matched --select
    std::u16string iScratch;
};

#endif
