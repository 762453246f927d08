// SPDX-License-Identifier: Apache-2.0
// CanonicalStage.h - a document's events written as canonical XML, of the
// whole document or of the subtrees --select names.
#ifndef ZAQXML_CANONICAL_STAGE_H
#define ZAQXML_CANONICAL_STAGE_H

#include "Diagnostics.h"
#include "DocumentEvents.h"
#include "HoldingSink.h"
#include "Limits.h"
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

/// Hands a document's events to an XmlCanonicalWriter: names with the
/// document's prefixes, declarations as written, attribute values as
/// normalised by their declared types.
class CanonicalStage : public DocumentEvents {
public:
    /// Events go to `out`, whose bytes `counted` counts (for the expansion bound).
    CanonicalStage(zaq::XmlCanonicalWriter& out, const HoldingSink& counted, const Selection& selection,
                   const Limits& limits, Diagnostics& diagnostics);

    void startDocument() override { iSelected = false; }
    /// A selection that matched nothing fails the document: an empty
    /// canonical form (or its digest) would pass for the subtree's.
    void endDocument() override;
    /// Canonical XML is defined on XML 1.0: its output has no declaration,
    /// so a 1.1 document's characters would be read back as 1.0 (or not at
    /// all). Such a document is refused.
    void xmlDeclaration(std::u16string_view version, std::u16string_view standalone) override;
    void startElement(const StartTag& tag) override;
    void endElement() override;
    void text(std::u16string_view chars, bool cdata, bool fromEntity) override;
    void comment(std::u16string_view text) override { iOut.comment(text); }
    void processingInstruction(std::u16string_view target, std::u16string_view data) override {
        iOut.processingInstruction(target, data);
    }

private:
    bool selects(const StartTag& tag) const;
    /// Within the expansion bound of the input read so far.
    void checkOutput() const;

    zaq::XmlCanonicalWriter& iOut;
    const HoldingSink& iCounted;
    Selection iSelection;
    const Limits& iLimits;
    Diagnostics& iDiagnostics;
    bool iSelected = false; // some element matched --select
};

#endif
