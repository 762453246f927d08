// SPDX-License-Identifier: Apache-2.0
// XmlWriter.cpp - events checked, start tags resolved through the prefix
// manager, then written by XmlTextOutput.
#include "XmlWriter.h"

#include "XmlChecks.h"

using Kind = XmlWriterError::Kind;
using Escape = XmlTextOutput::Escape;

namespace {

const std::u16string_view XML_URI = XMLPrefixManager::XML_NAMESPACE_URI;
const std::u16string_view XMLNS_URI = XMLPrefixManager::XMLNS_NAMESPACE_URI;

bool isXmlIgnoringCase(std::u16string_view name) {
    return name.size() == 3 && (name[0] | 0x20) == 'x' && (name[1] | 0x20) == 'm' && (name[2] | 0x20) == 'l';
}

} // namespace

XmlWriterError::~XmlWriterError() = default;

XmlWriter::XmlWriter(XmlSink& sink) : XmlWriter(sink, Options()) {}

XmlWriter::XmlWriter(XmlSink& sink, const Options& options)
    : iSink(sink), iPrefixes(nullptr, options.defaultNamespace), iOut(sink), iIndent(iOut, options.indent),
      iIndenting(options.indent) {}

XmlWriter::~XmlWriter() {
    try {
        iOut.flush();
    } catch (...) {
        // a throwing sink: nothing can be reported from here
    }
}

void XmlWriter::fail(Kind kind, const std::string& message) const { throw XmlWriterError(kind, message); }

void XmlWriter::failClosed(const char* what) const {
    if (iOut.failed())
        fail(Kind::Output, std::string(what) + ": the output has failed");
    fail(Kind::Order, std::string(what) + " after the end of the document");
}

void XmlWriter::checkName(std::u16string_view name, const char* what) const {
    if (!xmlchecks::isNCName(name, iXml11))
        fail(Kind::Name, std::string(what) + " " + xmlchecks::quoted(name) + " is not a name without a colon");
}

void XmlWriter::checkCharacters(std::u16string_view text, bool referencesAllowed, const char* what) const {
    const std::size_t at = xmlchecks::firstForbidden(text, iXml11, referencesAllowed);
    if (at != xmlchecks::NONE)
        fail(Kind::Character, std::string(what) + " holds a character XML " + (iXml11 ? "1.1" : "1.0") +
                                  " does not allow at offset " + std::to_string(at) + ": " +
                                  xmlchecks::quoted(text.substr(at, 1)));
}

XmlWriter::Span XmlWriter::keep(std::u16string_view text) {
    const Span span{iTag.size(), text.size()};
    iTag.append(text);
    return span;
}

bool XmlWriter::declaredOnTag(std::u16string_view prefix, std::u16string_view* uri) const {
    for (const PendingDeclaration& declaration : iDeclarations)
        if (view(declaration.prefix) == prefix) {
            if (uri)
                *uri = view(declaration.uri);
            return true;
        }
    return false;
}

void XmlWriter::afterWrite() {
    iStarted = true;
    iIndent.bound();
    if (iOut.full() && !iOut.flush())
        fail(Kind::Output, "the sink refused the output");
}

void XmlWriter::startDocument(Version version, Standalone standalone) {
    checkOpen("startDocument");
    if (iStarted)
        fail(Kind::Order, "startDocument must be the first call");
    iXml11 = version == Version::Xml11;
    iOut.setXml11(iXml11);
    for (unsigned slot = 0; slot < iKnownSlots; ++slot) // checked under the other version's rules
        iKnown[slot].stamp = 0;
    iOut.put(iXml11 ? "<?xml version=\"1.1\" encoding=\"UTF-8\"" : "<?xml version=\"1.0\" encoding=\"UTF-8\"");
    if (standalone != Standalone::Omit)
        iOut.put(standalone == Standalone::Yes ? " standalone=\"yes\"" : " standalone=\"no\"");
    iOut.put("?>\n");
    afterWrite();
}

void XmlWriter::endDocument() {
    checkOpen("endDocument");
    if (depth() > 0)
        fail(Kind::Order, "endDocument with " + std::to_string(depth()) + " element(s) still open");
    if (!iRootDone)
        fail(Kind::Order, "endDocument before any document element");
    if (iTopNewLine)
        iOut.put('\n');
    iEnded = true;
    flush();
}

void XmlWriter::flush() {
    if (!iOut.flush() || !iSink.flush())
        fail(Kind::Output, "the sink refused the output");
}

// Closes the open start tag before content, and places a child (element,
// comment, PI) on its own line where the content is indented.
void XmlWriter::beforeContent(bool child) {
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

void XmlWriter::startElement(std::u16string_view uri, std::u16string_view localName, std::u16string_view prefixHint) {
    checkOpen("startElement");
    if (depth() == 0 && iRootDone)
        fail(Kind::Order, "a second document element " + xmlchecks::quoted(localName));
    // A name met before has passed these checks.
    const NameRef found = findName(false, uri, localName);
    if (found.stamp == 0) {
        checkName(localName, "element name");
        checkCharacters(uri, true, "namespace URI");
        if (uri == XMLNS_URI)
            fail(Kind::Namespace, "no element is in the xmlns namespace");
    }
    if (!prefixHint.empty()) {
        checkName(prefixHint, "prefix");
        if (uri.empty())
            fail(Kind::Namespace, "an element in no namespace takes no prefix");
        if (prefixHint == u"xmlns" || (prefixHint == u"xml") != (uri == XML_URI))
            fail(Kind::Namespace, "the prefix " + xmlchecks::quoted(prefixHint) + " is reserved");
    }
    beforeContent(true);
    ++iTagCount;
    iTag.clear();
    iAttributes.clear();
    iDeclarations.clear();
    iTagName = found.stamp != 0 ? useName(found) : rememberName(found, false, uri, localName);
    if (iTagName.stamp == 0) {
        iTagUri = keep(uri);
        iTagLocalName = keep(localName);
    }
    iTagHint = keep(prefixHint);
    iTagPending = true;
    iRootDone = true;
    afterWrite();
}

void XmlWriter::attribute(std::u16string_view uri, std::u16string_view localName, std::u16string_view value) {
    checkOpen("attribute");
    if (!iTagPending)
        fail(Kind::Order, "attribute " + xmlchecks::quoted(localName) + " with no start tag open (after content?)");
    const NameRef found = findName(true, uri, localName);
    if (found.stamp == 0) {
        checkName(localName, "attribute name");
        checkCharacters(uri, true, "namespace URI");
    }
    checkCharacters(value, true, "attribute value");
    if (found.stamp == 0 && (uri == XMLNS_URI || (uri.empty() && localName == u"xmlns")))
        fail(Kind::Namespace, "namespace declarations are made with declareNamespace");
    for (const PendingAttribute& attribute : iAttributes)
        if (localNameOf(attribute) == localName && uriOf(attribute) == uri)
            fail(Kind::DuplicateAttribute,
                 "attribute " + xmlchecks::quoted(localName) + " is already on the start tag");
    PendingAttribute pending{};
    pending.name = found.stamp != 0 ? useName(found) : rememberName(found, true, uri, localName);
    if (pending.name.stamp == 0) {
        pending.uri = keep(uri);
        pending.localName = keep(localName);
    }
    pending.value = keep(value);
    iAttributes.push_back(pending);
}

void XmlWriter::declareNamespace(std::u16string_view prefix, std::u16string_view uri) {
    checkOpen("declareNamespace");
    if (!iTagPending)
        fail(Kind::Order, "namespace declaration with no start tag open (after content?)");
    if (!prefix.empty())
        checkName(prefix, "prefix");
    checkCharacters(uri, true, "namespace URI");
    if (prefix == u"xmlns" || uri == XMLNS_URI)
        fail(Kind::Namespace, "the xmlns prefix and namespace are never declared");
    if ((prefix == u"xml") != (uri == XML_URI))
        fail(Kind::Namespace, "the xml prefix is bound to " + xmlchecks::quoted(XML_URI) + ", and only it");
    if (!prefix.empty() && uri.empty())
        fail(Kind::Namespace, "the prefix " + xmlchecks::quoted(prefix) + " cannot be bound to no namespace");
    if (prefix.empty() && !uri.empty() && tagUri().empty())
        fail(Kind::Namespace, "an element in no namespace cannot declare a default namespace");
    if (declaredOnTag(prefix, nullptr))
        fail(Kind::DuplicateAttribute, "the prefix " + xmlchecks::quoted(prefix) + " is already declared on the tag");
    const Span p = keep(prefix), u = keep(uri);
    iDeclarations.push_back(PendingDeclaration{p, u});
}

void XmlWriter::addNamespace(std::u16string_view uri, std::u16string_view prefix) {
    if (uri.empty())
        fail(Kind::Namespace, "no namespace has no preferred prefix");
    checkCharacters(uri, true, "namespace URI");
    if (!prefix.empty())
        checkName(prefix, "prefix");
    // The reserved namespaces keep their own prefixes, which the manager
    // binds on every root level.
    if (uri == XMLNS_URI || uri == XML_URI || prefix == u"xmlns" || prefix == u"xml")
        fail(Kind::Namespace, "the prefixes xml and xmlns and their namespaces are reserved");
    iPrefixes.addNamespace(OrvWstring(uri), OrvWstring(prefix));
}

void XmlWriter::text(std::u16string_view text) {
    checkOpen("text");
    checkCharacters(text, true, "text");
    if (depth() == 0 && !xmlchecks::isWhiteSpace(text))
        fail(Kind::Order, "text outside the document element");
    if (text.empty())
        return;
    if (iTagPending)
        writeStartTag(false);
    if (!iIndenting) {
        iOut.append(reinterpret_cast<const XMLCh*>(text.data()), text.size(), Escape::Text);
    } else if (depth() == 0 || !iIndent.hold(reinterpret_cast<const XMLCh*>(text.data()), text.size())) {
        iIndent.beforeText();
        iOut.append(reinterpret_cast<const XMLCh*>(text.data()), text.size(), Escape::Text);
    }
    afterWrite();
}

void XmlWriter::cdata(std::u16string_view text) {
    checkOpen("cdata");
    if (depth() == 0)
        fail(Kind::Order, "a CDATA section outside the document element");
    checkCharacters(text, true, "CDATA section");
    beforeContent(false);
    const XMLCh* chars = reinterpret_cast<const XMLCh*>(text.data());
    iOut.put("<![CDATA[");
    std::size_t from = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 3, u"]]>") == 0) {
            // "]]" ends this section, ">" starts the next.
            iOut.append(chars + from, i + 2 - from, Escape::None);
            iOut.put("]]><![CDATA[");
            from = i + 2;
        } else if (iOut.needsReference(chars[i])) {
            // A parser reads these back only from references, which a
            // section cannot hold: one goes between two sections.
            iOut.append(chars + from, i - from, Escape::None);
            iOut.put("]]>");
            iOut.append(chars + i, 1, Escape::Text);
            iOut.put("<![CDATA[");
            from = i + 1;
        }
    }
    iOut.append(chars + from, text.size() - from, Escape::None);
    iOut.put("]]>");
    afterWrite();
}

void XmlWriter::comment(std::u16string_view text) {
    checkOpen("comment");
    checkCharacters(text, false, "comment");
    if (text.find(u"--") != std::u16string_view::npos || (!text.empty() && text.back() == '-'))
        fail(Kind::Comment, "a comment cannot hold \"--\" or end with \"-\"");
    const bool top = depth() == 0;
    beforeContent(true);
    iOut.put("<!--");
    iOut.append(reinterpret_cast<const XMLCh*>(text.data()), text.size(), Escape::None);
    iOut.put("-->");
    iTopNewLine = top && iIndenting;
    afterWrite();
}

void XmlWriter::processingInstruction(std::u16string_view target, std::u16string_view data) {
    checkOpen("processingInstruction");
    checkName(target, "processing instruction target");
    if (isXmlIgnoringCase(target))
        fail(Kind::Instruction, "the processing instruction target " + xmlchecks::quoted(target) + " is reserved");
    checkCharacters(data, false, "processing instruction");
    if (data.find(u"?>") != std::u16string_view::npos)
        fail(Kind::Instruction, "processing instruction data cannot hold \"?>\"");
    const bool top = depth() == 0;
    beforeContent(true);
    iOut.put("<?");
    iOut.append(reinterpret_cast<const XMLCh*>(target.data()), target.size(), Escape::None);
    if (!data.empty()) {
        iOut.put(' ');
        iOut.append(reinterpret_cast<const XMLCh*>(data.data()), data.size(), Escape::None);
    }
    iOut.put("?>");
    iTopNewLine = top && iIndenting;
    afterWrite();
}

void XmlWriter::endElement() {
    checkOpen("endElement");
    if (depth() == 0)
        fail(Kind::Order, "endElement with no element open");
    if (iTagPending) {
        writeStartTag(true);
    } else {
        if (iIndenting)
            iIndent.beforeEnd();
        const OpenElement& element = iOpen.back();
        iOut.put("</");
        iOut.put(iOpenNames.data() + element.nameFrom, iOpenNames.size() - element.nameFrom);
        iOut.put('>');
        iOpenNames.resize(element.nameFrom);
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

void XmlWriter::writeName(std::u16string_view prefix, std::u16string_view localName) {
    if (!prefix.empty()) {
        iOut.append(reinterpret_cast<const XMLCh*>(prefix.data()), prefix.size(), Escape::None);
        iOut.put(':');
    }
    iOut.append(reinterpret_cast<const XMLCh*>(localName.data()), localName.size(), Escape::None);
}

void XmlWriter::writeDeclaration(std::u16string_view prefix, std::u16string_view uri) {
    iOut.put(" xmlns");
    if (!prefix.empty()) {
        iOut.put(':');
        iOut.append(reinterpret_cast<const XMLCh*>(prefix.data()), prefix.size(), Escape::None);
    }
    iOut.put("=\"");
    iOut.append(reinterpret_cast<const XMLCh*>(uri.data()), uri.size(), Escape::Attribute);
    iOut.put('"');
}

const std::u16string& XmlWriter::utf16(std::string_view text, std::u16string& scratch) const {
    if (!xmlchecks::utf8ToUtf16(text, scratch))
        fail(Kind::Character, "malformed UTF-8");
    return scratch;
}

void XmlWriter::startElement(std::string_view uri, std::string_view localName, std::string_view prefixHint) {
    startElement(utf16(uri, iUtf16[0]), utf16(localName, iUtf16[1]), utf16(prefixHint, iUtf16[2]));
}
void XmlWriter::attribute(std::string_view uri, std::string_view localName, std::string_view value) {
    attribute(utf16(uri, iUtf16[0]), utf16(localName, iUtf16[1]), utf16(value, iUtf16[2]));
}
void XmlWriter::declareNamespace(std::string_view prefix, std::string_view uri) {
    declareNamespace(utf16(prefix, iUtf16[0]), utf16(uri, iUtf16[1]));
}
void XmlWriter::addNamespace(std::string_view uri, std::string_view prefix) {
    addNamespace(utf16(uri, iUtf16[0]), utf16(prefix, iUtf16[1]));
}
void XmlWriter::text(std::string_view text) { this->text(utf16(text, iUtf16[0])); }
void XmlWriter::cdata(std::string_view text) { cdata(utf16(text, iUtf16[0])); }
void XmlWriter::comment(std::string_view text) { comment(utf16(text, iUtf16[0])); }
void XmlWriter::processingInstruction(std::string_view target, std::string_view data) {
    processingInstruction(utf16(target, iUtf16[0]), utf16(data, iUtf16[1]));
}
