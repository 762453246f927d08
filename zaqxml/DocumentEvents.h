// SPDX-License-Identifier: Apache-2.0
// DocumentEvents.h - a document as plain events: what ParserEvents makes of
// the parser's, for the stages that rewrite, canonicalise or collect.
#ifndef ZAQXML_DOCUMENT_EVENTS_H
#define ZAQXML_DOCUMENT_EVENTS_H

#include <cstddef>
#include <string_view>

/// Zero-terminated UTF-16 text as the parser keeps it: a writer copies it
/// in one pass, and its length is counted only when asked for.
struct TerminatedText {
    const char16_t* chars = u"";
    std::u16string_view view() const { return chars; }
};

/// A name as the document wrote it, with the namespace it is in.
struct EventName {
    std::u16string_view uri; ///< empty: no namespace
    /// The same number for the same namespace name throughout a document,
    /// so that a stage can keep what it learns of one.
    unsigned int uriId = 0;
    std::u16string_view prefix; ///< empty: none
    TerminatedText local;
};

/// An attribute of a start tag, or a namespace declaration.
struct EventAttribute {
    enum class Kind {
        Attribute,
        PrefixDeclaration, ///< xmlns:p; `name.local` is the prefix, `value` the namespace name
        DefaultDeclaration ///< xmlns; `value` is the namespace name
    };
    Kind kind = Kind::Attribute;
    EventName name;
    /// Normalised as the DTD's declared type says (tokens apart by single
    /// spaces); otherwise as the parser gives it.
    TerminatedText value;
    bool declaredId = false; ///< the DTD declares it of type ID
};

/// A start tag, checked against the limits already. Its views stay valid
/// until the event returns.
struct StartTag {
    EventName name;
    const EventAttribute* attributes = nullptr; ///< in the order written, the DTD's defaults last
    std::size_t attributeCount = 0;
    unsigned long depth = 0; ///< 1: the document element
    bool isEmpty = false;    ///< no endElement follows
};

/// Takes a document's events; each does nothing until a stage overrides it.
/// A stage stops the reading by throwing DocumentError; it finds the
/// position of the event in Diagnostics (failureHere), where ParserEvents
/// puts it before each event.
class DocumentEvents {
public:
    virtual ~DocumentEvents() = default;

    virtual void startDocument() {}
    virtual void endDocument() {}
    /// The XML declaration's version and standalone (empty: not given).
    virtual void xmlDeclaration(std::u16string_view /*version*/, std::u16string_view /*standalone*/) {}
    /// The document type declaration; the ids may be empty.
    virtual void doctype(std::u16string_view /*name*/, std::u16string_view /*publicId*/,
                         std::u16string_view /*systemId*/) {}
    virtual void startElement(const StartTag& /*tag*/) {}
    virtual void endElement() {}
    /// Character data: a CDATA section comes whole, in one event;
    /// `fromEntity` says it is the text of a general entity's expansion.
    virtual void text(std::u16string_view /*chars*/, bool /*cdata*/, bool /*fromEntity*/) {}
    virtual void comment(std::u16string_view /*text*/) {}
    virtual void processingInstruction(std::u16string_view /*target*/, std::u16string_view /*data*/) {}
};

#endif
