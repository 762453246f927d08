// SPDX-License-Identifier: Apache-2.0
// ParserEvents.h - the one handler of the parser's events: checks each start
// tag and hands the document on as plain events, stamped with positions.
#ifndef ZAQXML_PARSER_EVENTS_H
#define ZAQXML_PARSER_EVENTS_H

#include "DeclaredTypes.h"
#include "Diagnostics.h"
#include "DocumentEvents.h"
#include "Limits.h"
#include "NameCounts.h"
#include "ParserMemory.h"
#include "ParserPosition.h"
#include "Validity.h"

#include <xercesc/framework/XMLDocumentHandler.hpp>
#include <xercesc/validators/DTD/DTDElementDecl.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/LexicalHandler.hpp>

#include <deque>
#include <memory>
#include <string>
#include <vector>

class ToolReader;
class PatternCheck;
class ChildList;

#if defined(__GNUC__)
#define ZAQXML_COLD [[gnu::cold, gnu::noinline]]
#else
#define ZAQXML_COLD
#endif

/// Takes the parser's events as the scanner reports them (`attach` installs
/// it as the reader's advanced document handler, with no SAX2 content
/// handler): names come as parts and namespaces as URI ids, so nothing is
/// mapped to SAX2 calls only to be taken apart again. It checks each start
/// tag against the limits (ElementChecks), normalises attribute values of
/// the DTD's declared types, and hands every event to a stage as plain
/// values (DocumentEvents). What an event brings about that needs a
/// position (a failure, a warning) is given the event's line and column as
/// it returns. The first error or fatal error ends the document. The lexical
/// handler is installed too: a reader with one reports the document type.
class ParserEvents : public xercesc::XMLDocumentHandler, public xercesc::LexicalHandler, public xercesc::ErrorHandler {
public:
    ParserEvents(DocumentEvents& stage, const Limits& limits, Diagnostics& diagnostics);

    /// Makes this the reader's handler of the document, its DTD events and
    /// its errors, with the attribute types its DTD declares.
    void attach(ToolReader& reader);
    /// Tracks the element path of the validity errors held in `validity`
    /// and prints them; from the first on the stage gets no more events
    /// (its output ends where the document was found invalid).
    /// `memory`'s bound on what validation keeps is checked at each event.
    /// `patterns` (null: none) checks the pattern facets taken over from the parser.
    /// `children` (null: none) keeps the parser's lists of children short.
    void validate(Validity* validity, const ParserMemory* memory, PatternCheck* patterns = nullptr,
                  ChildList* children = nullptr) {
        iValidity = validity;
        iMemory = memory;
        iPatterns = patterns;
        iChildren = children;
    }

    /// The stage does nothing with start tags: they are checked, not built
    /// for it.
    void discardStartTags() { iDiscardStartTags = true; }

    void XMLDecl(const XMLCh* version, const XMLCh* encoding, const XMLCh* standalone,
                 const XMLCh* autoEncoding) override;
    void startDocument() override;
    void endDocument() override;
    void resetDocument() override {}
    void startElement(const xercesc::XMLElementDecl& element, unsigned int uriId, const XMLCh* prefix,
                      const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes, XMLSize_t attributeCount, bool isEmpty,
                      bool isRoot) override;
    void endElement(const xercesc::XMLElementDecl&, unsigned int, bool, const XMLCh*) override;
    void docCharacters(const XMLCh* chars, XMLSize_t length, bool cdataSection) override;
    void ignorableWhitespace(const XMLCh* chars, XMLSize_t length, bool cdataSection) override;
    void docComment(const XMLCh* text) override;
    void docPI(const XMLCh* target, const XMLCh* data) override;
    void startEntityReference(const xercesc::XMLEntityDecl&) override { ++iInEntity; }
    void endEntityReference(const xercesc::XMLEntityDecl&) override { --iInEntity; }

    void startDTD(const XMLCh* name, const XMLCh* publicId, const XMLCh* systemId) override;
    void endDTD() override {}
    // Comments and CDATA come with the document events.
    void comment(const XMLCh*, XMLSize_t) override {}
    void startCDATA() override {}
    void endCDATA() override {}
    void startEntity(const XMLCh*) override {}
    void endEntity(const XMLCh*) override {}

    void warning(const xercesc::SAXParseException&) override {}
    void error(const xercesc::SAXParseException& e) override { throw e; }
    void fatalError(const xercesc::SAXParseException& e) override { throw e; }
    void resetErrors() override {}

private:
    /// Runs `event` (a check, then the stage's event): a failure it
    /// throws from `Diagnostics::failureHere`, and the warnings it leaves,
    /// get the position the parser is at, which is the event's.
    template <typename Event> void deliver(Event&& event) {
        try {
            event();
        } catch (DocumentError& failure) {
            // Warnings the event gave before it failed come first.
            if (iDiagnostics.holdsWarnings())
                placeWarnings();
            place(failure);
            throw;
        }
        if (iDiagnostics.holdsWarnings())
            placeWarnings();
    }
    // Out of the events' way: they are rare, and inlined they would cost
    // every event a larger frame.
    ZAQXML_COLD void place(DocumentError& failure) const;
    ZAQXML_COLD void placeWarnings();
    /// Prints the validity errors held; whether the stage still takes events.
    bool stillValid() {
        if (iValidity == nullptr)
            return true;
        if (iMemory != nullptr && iMemory->overGrown())
            throw iDiagnostics.failureHere(iMemory->growthMessage());
        if (iValidity->holds())
            iValidity->report();
        return iValidity->errors() == 0;
    }
    std::u16string_view uriText(unsigned int uriId) {
        if (uriId < iUriTexts.size() && iUriTexts[uriId].data() != nullptr)
            return iUriTexts[uriId];
        return learnUri(uriId);
    }
    std::u16string_view learnUri(unsigned int uriId);
    /// Attribute `i`'s value normalised as the DTD (`declared`, the
    /// element's declaration there) declares its type.
    ZAQXML_COLD void applyDeclaredType(const xercesc::XMLElementDecl& declared, const xercesc::XMLAttr& attribute,
                                       std::size_t i);
    /// The start tag as a plain event. Of `attributes`, the first `fromParser`
    /// are the parser's and the rest the DTD's defaults added here; `dtd` is
    /// the element's declaration in the DTD when a schema's declaration
    /// replaced it.
    const StartTag& tag(const xercesc::XMLElementDecl& element, const xercesc::XMLElementDecl* dtd, unsigned int uriId,
                        const XMLCh* prefix, const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                        XMLSize_t attributeCount, XMLSize_t fromParser, bool isEmpty);
    /// The parser applies a schema's declaration of an element in place of
    /// the DTD's, defaults and all. The DTD's defaults belong to the document
    /// (every reader of the DTD applies them, and its xmlns defaults bound
    /// the names the parser resolved), so they are added as without the
    /// schema: `attributes`, then the DTD's defaults none of them writes, in
    /// iWithDefaults; returns the count.
    ZAQXML_COLD XMLSize_t withDtdDefaults(const xercesc::DTDElementDecl& declared,
                                          const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                                          XMLSize_t attributeCount);

    DocumentEvents& iStage;
    const Limits& iLimits;
    Diagnostics& iDiagnostics;
    NameCounts iNameCounts{iLimits.settings().maxNames, iLimits.settings().maxPrefixes};
    ToolReader* iReader = nullptr;
    const ParserPosition* iWhere = nullptr;
    Validity* iValidity = nullptr;
    const ParserMemory* iMemory = nullptr;
    PatternCheck* iPatterns = nullptr;
    ChildList* iChildren = nullptr;
    const xercesc::XMLElementDecl* iJustStarted = nullptr; // validated, the last event's element
    bool iDiscardStartTags = false;
    bool schemaDefault(const XMLCh* chars);
    const DeclaredTypes* iDeclaredTypes = nullptr;
    StartTag iTag; // the one being handed on
    std::vector<EventAttribute> iAttributes;
    std::deque<std::u16string> iNormalised;                         // values of declared types, one an attribute
    xercesc::RefVectorOf<xercesc::XMLAttr> iWithDefaults{8, false}; // see withDtdDefaults
    std::vector<std::unique_ptr<xercesc::XMLAttr>> iDtdDefaults;    // its own, reused
    std::u16string iRawName;                                        // the element's name as written
    std::vector<std::u16string_view> iUriTexts;                     // by URI id, while the document lasts
    unsigned long iDepth = 0;
    unsigned long iInEntity = 0; // depth of general entity references being expanded
};

#endif
