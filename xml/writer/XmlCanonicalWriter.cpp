// SPDX-License-Identifier: Apache-2.0
// XmlCanonicalWriter.cpp - which declarations and attributes each
// canonicalization method renders, sorted and escaped as it requires.
#include "XmlCanonicalWriterImpl.h"

#include "XMLPrefixManager.h"
#include "XmlBaseUri.h"
#include "XmlChecks.h"

#include <algorithm>

namespace zaq {

using Kind = XmlWriterError::Kind;
using Impl = detail::XmlCanonicalWriterImpl;

namespace {

const std::u16string_view XML_URI = XMLPrefixManager::XML_NAMESPACE_URI;

// UTF-16 code units in the order of the code points they encode: the
// surrogates (supplementary characters) after the rest of the BMP.
unsigned orderOf(char16_t c) { return c >= 0xD800 && c <= 0xDFFF ? c + 0x2000u : c >= 0xE000 ? c - 0x800u : c; }

int compareCodePoints(std::u16string_view a, std::u16string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i])
            return orderOf(a[i]) < orderOf(b[i]) ? -1 : 1;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

} // namespace

Impl::XmlCanonicalWriterImpl(XmlSink& sink, const Options& options) : iSink(sink), iOptions(options), iOut(sink) {
    iOut.setHexReferences(true);
}

Impl::~XmlCanonicalWriterImpl() {
    try {
        iOut.flush();
    } catch (...) {
        // a throwing sink: nothing can be reported from here
    }
}

void Impl::checkSink() {
    if (iOut.full() && !iOut.flush())
        throw XmlWriterError(Kind::Output, "the sink refused the output");
}

void Impl::flush() {
    if (!iOut.flush() || !iSink.flush())
        throw XmlWriterError(Kind::Output, "the sink refused the output");
}

void Impl::beginSubtree() {
    if (iWritingDepth == 0)
        iSubtreeNext = true;
}

void Impl::startElement(std::u16string_view prefix, std::u16string_view localName, std::u16string_view uri) {
    closeStartTag();
    ++iDepth;
    if (iSubtreeNext) {
        iWritingDepth = iDepth;
        iSubtreeNext = false;
    }
    iRootSeen = true;
    iPrefix.assign(prefix);
    iLocalName.assign(localName);
    iUri.assign(uri);
    iDeclared.clear();
    iAttributeCount = 0;
    iTagPending = true;
}

void Impl::namespaceDeclaration(std::u16string_view prefix, std::u16string_view uri) {
    if (!iTagPending)
        throw XmlWriterError(Kind::Order, "a namespace declaration with no start tag open");
    if (!uri.empty() && !xmlbase::hasScheme(uri))
        throw XmlWriterError(Kind::Namespace, "the relative namespace URI '" + OrvWstring(uri).toUtf8() +
                                                  "' cannot be canonicalised (Canonical XML 1.0 makes it an error)");
    iDeclared.push_back(Binding{std::u16string(prefix), std::u16string(uri), iDepth});
}

void Impl::attribute(std::u16string_view prefix, std::u16string_view localName, std::u16string_view uri,
                     std::u16string_view value) {
    if (!iTagPending)
        throw XmlWriterError(Kind::Order, "an attribute with no start tag open");
    if (iAttributeCount == iAttributes.size())
        iAttributes.emplace_back();
    Attribute& a = iAttributes[iAttributeCount++];
    a.prefix.assign(prefix);
    a.localName.assign(localName);
    a.uri.assign(uri);
    a.value.assign(value);
}

const std::u16string* Impl::inScope(std::u16string_view prefix) const {
    for (auto b = iScope.rbegin(); b != iScope.rend(); ++b)
        if (b->prefix == prefix)
            return &b->uri;
    return nullptr;
}

const std::u16string* Impl::rendered(std::u16string_view prefix) const {
    for (auto b = iRendered.rbegin(); b != iRendered.rend(); ++b)
        if (b->prefix == prefix)
            return &b->uri;
    return nullptr;
}

bool Impl::utilised(std::u16string_view prefix) const {
    if (prefix == iPrefix)
        return true;
    for (std::size_t i = 0; i < iAttributeCount; ++i)
        if (!iAttributes[i].prefix.empty() && iAttributes[i].prefix == prefix)
            return true;
    for (const std::u16string& listed : iOptions.inclusivePrefixes)
        if (listed == prefix || (prefix.empty() && listed == u"#default"))
            return true;
    return false;
}

// The xml: attributes an element at the top of a subtree takes from the
// ancestors that are not written: for 1.0 all of them, for 1.1 xml:lang and
// xml:space, and xml:base joined with the ancestors' values.
void Impl::inheritXmlAttributes() {
    const bool c14n11 = iOptions.method == Method::C14N11;
    auto own = [&](std::u16string_view local) -> Attribute* {
        for (std::size_t i = 0; i < iAttributeCount; ++i)
            if (iAttributes[i].uri == XML_URI && iAttributes[i].localName == local)
                return &iAttributes[i];
        return nullptr;
    };
    // The xml:base values of the ancestors left out, joined outermost
    // first; relative ones stay relative to the document's own base.
    std::u16string base;
    bool hasBase = false;
    for (const Binding& inherited : iXmlAttributes) { // outermost first
        if (inherited.depth >= iDepth)
            break;
        if (c14n11 && inherited.prefix == u"base") {
            base = hasBase ? xmlbase::join(base, inherited.uri) : inherited.uri;
            hasBase = true;
        }
    }
    for (auto b = iXmlAttributes.rbegin(); b != iXmlAttributes.rend(); ++b) {
        if (b->depth >= iDepth || own(b->prefix) != nullptr)
            continue;
        if (c14n11 && b->prefix != u"lang" && b->prefix != u"space")
            continue;
        bool nearer = false; // an ancestor closer by gave the same attribute
        for (auto c = iXmlAttributes.rbegin(); c != b; ++c)
            nearer = nearer || (c->depth < iDepth && c->prefix == b->prefix);
        if (!nearer)
            attribute(u"xml", b->prefix, XML_URI, b->uri);
    }
    if (c14n11 && hasBase) {
        // A join that comes back to the document's base needs no attribute.
        if (Attribute* mine = own(u"base"))
            mine->value = xmlbase::join(base, mine->value);
        else if (!(base = xmlbase::join(base, u"")).empty())
            attribute(u"xml", u"base", XML_URI, base);
    }
}

void Impl::closeStartTag() {
    if (!iTagPending)
        return;
    const bool top = iOptions.subtrees ? iDepth == iWritingDepth : iDepth == 1;
    if (top && iOptions.subtrees && iOptions.method != Method::Exclusive)
        inheritXmlAttributes(); // before this tag's own xml: attributes join the context
    iTagPending = false;
    // One at a time: a range insert instantiates a library template named by
    // this class's private type, which the export script would let out.
    for (const Binding& declared : iDeclared)
        iScope.push_back(declared);
    for (std::size_t i = 0; i < iAttributeCount; ++i)
        if (iAttributes[i].uri == XML_URI)
            iXmlAttributes.push_back(Binding{iAttributes[i].localName, iAttributes[i].value, iDepth});
    if (iWritingDepth == 0 && iOptions.subtrees)
        return;
    writeStartTag();
    checkSink();
}

void Impl::writeStartTag() {
    const bool exclusive = iOptions.method == Method::Exclusive;
    const bool top = iOptions.subtrees ? iDepth == iWritingDepth : iDepth == 1;
    // The candidates: for the inclusive methods, every binding in scope on
    // the top element and this tag's own below it; for exclusive, the
    // prefixes this tag uses and the listed ones.
    iRender.clear();
    auto consider = [&](const Binding& b) {
        if (b.prefix == u"xml")
            return;
        for (const Binding* other : iRender)
            if (other->prefix == b.prefix)
                return;
        const std::u16string* current = inScope(b.prefix);
        if (current == nullptr || current != &b.uri)
            return; // not the binding in force
        const std::u16string* done = rendered(b.prefix);
        if (b.prefix.empty() ? (done ? *done : std::u16string()) == b.uri : done != nullptr && *done == b.uri)
            return; // superfluous
        if (exclusive && !utilised(b.prefix))
            return;
        iRender.push_back(&b);
    };
    auto considerPrefix = [&](std::u16string_view prefix) {
        for (auto b = iScope.rbegin(); b != iScope.rend(); ++b)
            if (b->prefix == prefix) {
                consider(*b);
                return;
            }
    };
    if (exclusive) {
        // Only the prefixes the tag uses, and the listed ones, can render.
        considerPrefix(iPrefix);
        for (std::size_t i = 0; i < iAttributeCount; ++i)
            if (!iAttributes[i].prefix.empty())
                considerPrefix(iAttributes[i].prefix);
        for (const std::u16string& listed : iOptions.inclusivePrefixes)
            considerPrefix(listed == u"#default" ? std::u16string_view() : std::u16string_view(listed));
    } else if (top) {
        for (auto b = iScope.rbegin(); b != iScope.rend(); ++b)
            consider(*b);
    } else {
        for (auto b = iScope.rbegin(); b != iScope.rend() && b->depth == iDepth; ++b)
            consider(*b);
    }
    std::sort(iRender.begin(), iRender.end(),
              [](const Binding* a, const Binding* b) { return compareCodePoints(a->prefix, b->prefix) < 0; });
    iSorted.clear();
    for (std::size_t i = 0; i < iAttributeCount; ++i)
        iSorted.push_back(&iAttributes[i]);
    std::sort(iSorted.begin(), iSorted.end(), [](const Attribute* a, const Attribute* b) {
        const int byUri = compareCodePoints(a->uri, b->uri);
        return byUri != 0 ? byUri < 0 : compareCodePoints(a->localName, b->localName) < 0;
    });

    iMarkup.beginStartTag();
    iMarkup.name(iPrefix, iLocalName);
    iMarkup.pushName();
    for (const Binding* b : iRender) {
        iMarkup.namespaceDeclaration(b->prefix, b->uri);
        iRendered.push_back(Binding{b->prefix, b->uri, iDepth});
    }
    for (const Attribute* a : iSorted) {
        iMarkup.beginAttribute();
        iMarkup.name(a->prefix, a->localName);
        iMarkup.attributeValue(a->value);
    }
    iMarkup.endStartTag();
}

void Impl::endElement() {
    closeStartTag();
    if (iDepth == 0)
        throw XmlWriterError(Kind::Order, "endElement with no element open");
    const bool written = !iOptions.subtrees || iWritingDepth > 0;
    if (written)
        iMarkup.endTag();
    while (!iScope.empty() && iScope.back().depth == iDepth)
        iScope.pop_back();
    while (!iRendered.empty() && iRendered.back().depth == iDepth)
        iRendered.pop_back();
    while (!iXmlAttributes.empty() && iXmlAttributes.back().depth == iDepth)
        iXmlAttributes.pop_back();
    if (iWritingDepth == iDepth)
        iWritingDepth = 0;
    --iDepth;
    checkSink();
}

void Impl::text(std::u16string_view text) {
    closeStartTag();
    if (iDepth == 0 || (iOptions.subtrees && iWritingDepth == 0))
        return;
    iMarkup.text(text);
    checkSink();
}

// A comment or PI outside the document element takes a line end on the side
// away from it; in subtrees, nothing outside them is written.
void Impl::comment(std::u16string_view text) {
    closeStartTag();
    if (!iOptions.comments || (iOptions.subtrees && iWritingDepth == 0))
        return;
    const bool before = iDepth == 0 && !iRootSeen, after = iDepth == 0 && iRootSeen;
    if (after)
        iOut.put('\n');
    iMarkup.comment(text);
    if (before)
        iOut.put('\n');
    checkSink();
}

void Impl::processingInstruction(std::u16string_view target, std::u16string_view data) {
    closeStartTag();
    if (iOptions.subtrees && iWritingDepth == 0)
        return;
    const bool before = iDepth == 0 && !iRootSeen, after = iDepth == 0 && iRootSeen;
    if (after)
        iOut.put('\n');
    iMarkup.processingInstruction(target, data);
    if (before)
        iOut.put('\n');
    checkSink();
}

XmlCanonicalWriter::XmlCanonicalWriter(XmlSink& sink, const Options& options)
    : d(std::make_unique<Impl>(sink, options)) {}

XmlCanonicalWriter::XmlCanonicalWriter(XmlCanonicalWriter&& other) noexcept = default;

XmlCanonicalWriter& XmlCanonicalWriter::operator=(XmlCanonicalWriter&& other) noexcept {
    d = std::move(other.d); // the old Impl's destructor flushes
    return *this;
}

XmlCanonicalWriter::~XmlCanonicalWriter() = default;

detail::XmlCanonicalWriterImpl& XmlCanonicalWriter::impl(const char* call) const {
    if (!d)
        throw XmlWriterError(Kind::Order, std::string(call) + " on a moved-from XmlCanonicalWriter");
    return *d;
}

namespace {

std::u16string_view utf16(XmlString text, std::u16string& scratch) {
    if (text.isUtf16())
        return text.utf16();
    if (!xmlchecks::utf8ToUtf16(text.utf8(), scratch))
        throw XmlWriterError(Kind::Character, "malformed UTF-8");
    return scratch;
}

// The names a parser reports are names; a name out of its place (a URI
// given where a prefix goes) is refused before anything is written. A local
// name is only looked at for a colon: this runs for every name of a
// document, and a parser has checked the rest.
void checkName(std::u16string_view prefix, std::u16string_view localName, const char* what) {
    if (localName.empty() || localName.find(u':') != std::u16string_view::npos)
        throw XmlWriterError(Kind::Name,
                             std::string(what) + " " + xmlchecks::quoted(localName) + " is not a name without a colon");
    if (!prefix.empty() && !xmlchecks::isNCName(prefix, true))
        throw XmlWriterError(Kind::Name, "prefix " + xmlchecks::quoted(prefix) +
                                             " is not a name without a colon (the URI comes first)");
}

} // namespace

void XmlCanonicalWriter::startElement(XmlString uri, XmlString localName, XmlString prefix) {
    Impl& w = impl("startElement");
    const std::u16string_view p = utf16(prefix, w.iArguments[0]), l = utf16(localName, w.iArguments[1]);
    checkName(p, l, "element name");
    w.startElement(p, l, utf16(uri, w.iArguments[2]));
}

void XmlCanonicalWriter::namespaceDeclaration(XmlString uri, XmlString prefix) {
    Impl& w = impl("namespaceDeclaration");
    const std::u16string_view p = utf16(prefix, w.iArguments[0]);
    if (!p.empty())
        checkName({}, p, "declared prefix");
    w.namespaceDeclaration(p, utf16(uri, w.iArguments[1]));
}

void XmlCanonicalWriter::attribute(XmlString uri, XmlString localName, XmlString value, XmlString prefix) {
    Impl& w = impl("attribute");
    const std::u16string_view p = utf16(prefix, w.iArguments[0]), l = utf16(localName, w.iArguments[1]);
    checkName(p, l, "attribute name");
    w.attribute(p, l, utf16(uri, w.iArguments[2]), utf16(value, w.iArguments[3]));
}

void XmlCanonicalWriter::text(XmlString text) {
    Impl& w = impl("text");
    w.text(utf16(text, w.iArguments[0]));
}

void XmlCanonicalWriter::comment(XmlString text) {
    Impl& w = impl("comment");
    w.comment(utf16(text, w.iArguments[0]));
}

void XmlCanonicalWriter::processingInstruction(XmlString target, XmlString data) {
    Impl& w = impl("processingInstruction");
    w.processingInstruction(utf16(target, w.iArguments[0]), utf16(data, w.iArguments[1]));
}

void XmlCanonicalWriter::endElement() { impl("endElement").endElement(); }

void XmlCanonicalWriter::beginSubtree() { impl("beginSubtree").beginSubtree(); }

bool XmlCanonicalWriter::writing() const { return impl("writing").writing(); }

void XmlCanonicalWriter::flush() { impl("flush").flush(); }

} // namespace zaq
