// SPDX-License-Identifier: Apache-2.0
// XmlWriter.cpp - the public calls, each guarded so that an exception other
// than a refusal leaves the writer failed, and the events other than start
// tags: checked first, then written.
#include "XmlWriterImpl.h"

#include "XmlChecks.h"

namespace zaq {

using Kind = XmlWriterError::Kind;
using Escape = XmlTextOutput::Escape;
using Impl = detail::XmlWriterImpl;

namespace {

const std::u16string_view XML_URI = XMLPrefixManager::XML_NAMESPACE_URI;
const std::u16string_view XMLNS_URI = XMLPrefixManager::XMLNS_NAMESPACE_URI;

bool isXmlIgnoringCase(std::u16string_view name) {
    return name.size() == 3 && (name[0] | 0x20) == 'x' && (name[1] | 0x20) == 'm' && (name[2] | 0x20) == 'l';
}

XMLPrefixManager::DefaultNamespace managerPolicy(XmlWriter::DefaultNamespace policy) {
    switch (policy) {
    case XmlWriter::DefaultNamespace::Prefixed:
        return XMLPrefixManager::DefaultNamespace::Prefixed;
    case XmlWriter::DefaultNamespace::FromEnvironment:
        return XMLPrefixManager::DefaultNamespace::FromEnvironment;
    case XmlWriter::DefaultNamespace::Unprefixed:
        break;
    }
    return XMLPrefixManager::DefaultNamespace::Unprefixed;
}

// Outside the document element a parser keeps space, tab and LF as they
// are; a CR would come back as LF, and a reference is not allowed there.
std::size_t firstNotLayout(XmlString text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text.isUtf16() ? text.utf16()[i] : static_cast<unsigned char>(text.utf8()[i]);
        if (c != ' ' && c != '\t' && c != '\n')
            return i;
    }
    return xmlchecks::NONE;
}

} // namespace

XmlWriterError::~XmlWriterError() = default;

Impl::XmlWriterImpl(XmlSink& sink, const Options& options)
    : iSink(sink), iPrefixes(nullptr, managerPolicy(options.defaultNamespace)), iOut(sink),
      iIndent(iOut, options.indent), iIndenting(options.indent) {}

Impl::~XmlWriterImpl() = default;

void Impl::flushQuietly() noexcept {
    if (failed())
        return;
    try {
        iOut.flush();
    } catch (...) {
        // a throwing sink: nothing can be reported from here
    }
}

void Impl::refuse(Kind kind, const std::string& message) const {
    iRefusing = true;
    throw XmlWriterError(kind, message);
}

void Impl::failClosed(const char* what) const {
    if (failed())
        throw XmlWriterError(
            Kind::Output, std::string(what) + ": the writer has failed (its sink, or an exception in an earlier call)");
    refuse(Kind::Order, std::string(what) + " after the end of the document");
}

void Impl::checkName(std::u16string_view name, const char* what) const {
    if (!xmlchecks::isNCName(name, iXml11))
        refuse(Kind::Name, std::string(what) + " " + xmlchecks::quoted(name) + " is not a name without a colon");
}

void Impl::checkCharacters(std::u16string_view text, bool referencesAllowed, const char* what) const {
    const std::size_t at = xmlchecks::firstForbidden(text, iXml11, referencesAllowed);
    if (at != xmlchecks::NONE)
        refuseCharacter(text, at, 0, what);
}

void Impl::refuseCharacter(std::u16string_view text, std::size_t at, std::size_t offset, const char* what) const {
    refuse(Kind::Character, std::string(what) + " holds a character XML " + (iXml11 ? "1.1" : "1.0") +
                                " does not allow at offset " + std::to_string(offset + at) + ": " +
                                xmlchecks::quoted(text.substr(at, 1)));
}

void Impl::checkNamespaceName(std::u16string_view uri) const {
    checkCharacters(uri, true, "namespace URI");
    for (std::size_t i = 0; i < uri.size(); ++i) {
        const char16_t c = uri[i];
        if (c <= 0x20 || c == 0x7F || c == '<' || c == '>' || c == '"' || c == '{' || c == '}' || c == '|' ||
            c == '\\' || c == '^' || c == '`')
            refuse(Kind::Namespace, "namespace URI " + xmlchecks::quoted(uri) +
                                        " holds a character no IRI may hold at offset " + std::to_string(i));
    }
}

std::u16string_view Impl::converted(XmlString text, unsigned slot) {
    if (!xmlchecks::utf8ToUtf16(text.utf8(), iUtf16[slot]))
        refuse(Kind::Character, "malformed UTF-8");
    return iUtf16[slot];
}

template <class Write> void Impl::inPieces(XmlString text, bool keepBrackets, Write&& write) {
    if (text.isUtf16()) {
        std::u16string_view rest = text.utf16();
        while (!rest.empty()) {
            std::size_t n = rest.size() < PIECE ? rest.size() : PIECE;
            if (n < rest.size()) {
                if (rest[n - 1] >= 0xD800 && rest[n - 1] <= 0xDBFF)
                    --n;
                for (int k = 0; keepBrackets && k < 2 && rest[n - 1] == ']'; ++k)
                    --n;
            }
            write(rest.substr(0, n));
            rest.remove_prefix(n);
        }
        return;
    }
    std::string_view rest = text.utf8();
    while (!rest.empty()) {
        std::size_t n = rest.size() < PIECE ? rest.size() : PIECE;
        if (n < rest.size()) {
            for (int k = 0; k < 3 && (static_cast<unsigned char>(rest[n]) & 0xC0) == 0x80; ++k)
                --n;
            for (int k = 0; keepBrackets && k < 2 && rest[n - 1] == ']'; ++k)
                --n;
        }
        if (!xmlchecks::utf8ToUtf16(rest.substr(0, n), iPiece))
            refuse(Kind::Character, "malformed UTF-8");
        write(std::u16string_view(iPiece));
        rest.remove_prefix(n);
    }
}

void Impl::checkText(XmlString text, bool referencesAllowed, const char* what) {
    if (text.isUtf16()) {
        checkCharacters(text.utf16(), referencesAllowed, what);
        return;
    }
    std::size_t offset = 0;
    inPieces(text, false, [&](std::u16string_view piece) {
        const std::size_t at = xmlchecks::firstForbidden(piece, iXml11, referencesAllowed);
        if (at != xmlchecks::NONE)
            refuseCharacter(piece, at, offset, what);
        offset += piece.size();
    });
}

// Buffers and indexes kept for the longest call so far are given back once
// they are much larger than a buffer's worth.
void Impl::releaseScratch() {
    for (std::u16string& scratch : iUtf16)
        if (scratch.capacity() > MOST_KEPT)
            std::u16string().swap(scratch);
    if (iPiece.capacity() > MOST_KEPT)
        std::u16string().swap(iPiece);
    if (iTag.capacity() > MOST_KEPT)
        std::u16string().swap(iTag);
}

void Impl::flushFull() {
    if (!iOut.flush())
        throw XmlWriterError(Kind::Output, "the sink refused the output");
}

void Impl::startDocument(Version version, Standalone standalone) {
    checkOpen("startDocument");
    if (iStarted)
        refuse(Kind::Order, "startDocument must be the first call");
    iXml11 = version == Version::Xml11;
    iOut.setXml11(iXml11);
    for (unsigned slot = 0; slot < iKnownSlots; ++slot) // checked under the other version's rules
        iKnown[slot].stamp = 0;
    iMarkup.declaration(iXml11, standalone == Standalone::Omit ? "" : standalone == Standalone::Yes ? "yes" : "no");
    afterWrite();
}

void Impl::endDocument() {
    checkOpen("endDocument");
    if (!iRootDone)
        refuse(Kind::Order, "endDocument before any document element");
    while (depth() > 0)
        endElement();
    if (iTopNewLine)
        iOut.put('\n');
    iEnded = true;
    flush();
    releaseScratch();
}

void Impl::flush() {
    if (failed())
        failClosed("flush");
    if (!iOut.flush() || !iSink.flush())
        throw XmlWriterError(Kind::Output, "the sink refused the output");
}

// Closes the open start tag before content, and places a child (element,
// comment, PI) on its own line where the content is indented.
void Impl::beforeContent(bool child) {
    if (iTagPending)
        writeStartTag(false);
    if (depth() == 0) {
        if (iTopNewLine)
            iOut.put('\n');
        iTopNewLine = false;
    } else if (!iIndenting) {
        // nothing to place
    } else if (child) {
        iIndent.beforeChild();
    } else {
        iIndent.beforeText();
    }
}

void Impl::setPreferredPrefix(std::u16string_view uri, std::u16string_view prefix) {
    checkOpen("setPreferredPrefix");
    if (uri.empty())
        refuse(Kind::Namespace, "no namespace has no preferred prefix");
    checkNamespaceName(uri);
    if (!prefix.empty())
        checkName(prefix, "prefix");
    // The reserved namespaces keep their own prefixes, bound on every root level.
    if (uri == XMLNS_URI || uri == XML_URI || prefix == u"xmlns" || prefix == u"xml")
        refuse(Kind::Namespace, "the prefixes xml and xmlns and their namespaces are reserved");
    uriEntry(uri)->second.preferred = OrvWstring(prefix);
}

void Impl::text(XmlString text) {
    checkOpen("text");
    if (text.isUtf16() && !iIndenting && !text.empty() && text.size() <= PIECE && depth() > 0) {
        // The usual call, short text inside the document: one piece, no layout.
        const std::u16string_view units = text.utf16();
        checkCharacters(units, true, "text");
        if (iTagPending)
            writeStartTag(false);
        iMarkup.text(units);
        afterWrite();
        return;
    }
    if (!text.isUtf16() && text.size() <= PIECE)
        text = utf16(text, 0);
    checkText(text, true, "text");
    if (depth() == 0) {
        const std::size_t at = firstNotLayout(text);
        if (at != xmlchecks::NONE)
            refuse(Kind::Character, "outside the document element only space, tab and line feed may be written;"
                                    " text holds another character at offset " +
                                        std::to_string(at));
    }
    if (text.empty())
        return;
    if (iTagPending)
        writeStartTag(false);
    if (iIndenting) {
        if (depth() > 0 && text.isUtf16() && iIndent.hold(text.utf16().data(), text.size())) {
            afterWrite();
            return;
        }
        iIndent.beforeText();
    }
    inPieces(text, false, [this](std::u16string_view piece) {
        iMarkup.text(piece);
        afterWrite();
    });
    afterWrite();
}

void Impl::cdata(XmlString text) {
    checkOpen("cdata");
    if (depth() == 0)
        refuse(Kind::Order, "a CDATA section outside the document element");
    if (!text.isUtf16() && text.size() <= PIECE)
        text = utf16(text, 0);
    checkText(text, true, "CDATA section");
    beforeContent(false);
    MarkupEmitter::Cdata section;
    inPieces(text, true, [&](std::u16string_view piece) {
        iMarkup.cdata(piece, section);
        afterWrite();
    });
    iMarkup.endCdata(section);
    afterWrite();
}

void Impl::comment(XmlString text) {
    checkOpen("comment");
    if (!text.isUtf16() && text.size() <= PIECE)
        text = utf16(text, 0);
    checkText(text, false, "comment");
    const bool dashes = text.isUtf16() ? text.utf16().find(u"--") != std::u16string_view::npos
                                       : text.utf8().find("--") != std::string_view::npos;
    const bool lastDash = !text.empty() && (text.isUtf16() ? text.utf16().back() == '-' : text.utf8().back() == '-');
    if (dashes || lastDash)
        refuse(Kind::Comment, "a comment cannot hold \"--\" or end with \"-\"");
    const bool top = depth() == 0;
    beforeContent(true);
    iMarkup.beginComment();
    inPieces(text, false, [this](std::u16string_view piece) {
        iMarkup.raw(piece);
        afterWrite();
    });
    iMarkup.endComment();
    iTopNewLine = top && iIndenting;
    afterWrite();
}

void Impl::processingInstruction(std::u16string_view target, XmlString data) {
    checkOpen("processingInstruction");
    checkName(target, "processing instruction target");
    if (isXmlIgnoringCase(target))
        refuse(Kind::Instruction, "the processing instruction target " + xmlchecks::quoted(target) + " is reserved");
    if (!data.isUtf16() && data.size() <= PIECE)
        data = utf16(data, 1);
    checkText(data, false, "processing instruction");
    if (data.isUtf16() ? data.utf16().find(u"?>") != std::u16string_view::npos
                       : data.utf8().find("?>") != std::string_view::npos)
        refuse(Kind::Instruction, "processing instruction data cannot hold \"?>\"");
    const bool top = depth() == 0;
    beforeContent(true);
    iMarkup.beginInstruction(target);
    if (!data.empty()) {
        iMarkup.beginInstructionData();
        inPieces(data, false, [this](std::u16string_view piece) {
            iMarkup.raw(piece);
            afterWrite();
        });
    }
    iMarkup.endInstruction();
    iTopNewLine = top && iIndenting;
    afterWrite();
}

void Impl::endElement() {
    checkOpen("endElement");
    if (depth() == 0)
        refuse(Kind::Order, "endElement with no element open");
    if (iTagPending) {
        writeStartTag(true);
    } else {
        if (iIndenting)
            iIndent.beforeEnd();
        const OpenElement& element = iOpen.back();
        iMarkup.endTag();
        if (element.binds)
            ++iEpoch;
        iOpen.pop_back();
        if (iIndenting)
            iIndent.close();
        iPrefixes.removeLevel();
    }
    iTopNewLine = depth() == 0 && iIndenting;
    afterWrite();
}

} // namespace zaq
