// SPDX-License-Identifier: Apache-2.0
// XmlWriterApi.cpp - XmlWriter's calls, each guarded so that an exception
// other than a refusal leaves the writer failed; and the calls that make up
// a start tag, checked and kept until the tag is written.
#include "XmlWriterImpl.h"

#include "XmlChecks.h"

#include <algorithm>

namespace zaq {

using Kind = XmlWriterError::Kind;
using Impl = detail::XmlWriterImpl;

namespace {

const std::u16string_view XML_URI = XMLPrefixManager::XML_NAMESPACE_URI;
const std::u16string_view XMLNS_URI = XMLPrefixManager::XMLNS_NAMESPACE_URI;

// Runs a call of the writer: a refusal changed nothing and leaves it as it
// was; any other exception leaves it failed.
template <class Call> void guarded(Impl& impl, Call&& call) {
    try {
        call();
    } catch (const XmlWriterError&) {
        if (!impl.takeRefusal())
            impl.markFailed();
        throw;
    } catch (...) {
        impl.markFailed();
        throw;
    }
}

} // namespace

Impl::Span Impl::keep(std::u16string_view text) {
    const Span span{iTag.size(), text.size()};
    iTag.append(text);
    return span;
}

void Impl::startElement(std::u16string_view uri, std::u16string_view localName, std::u16string_view prefixHint,
                        bool unprefixed) {
    checkOpen("startElement");
    if (depth() == 0 && iRootDone)
        refuse(Kind::Order, "a second document element " + xmlchecks::quoted(localName));
    // A name met before has passed these checks.
    const NameRef found = findName(false, uri, localName);
    if (found.stamp == 0) {
        checkName(localName, "element name");
        checkNamespaceName(uri);
        if (uri == XMLNS_URI)
            refuse(Kind::Namespace, "no element is in the xmlns namespace");
    }
    if (!prefixHint.empty())
        checkName(prefixHint, "prefix");
    beforeContent(true);
    ++iTagCount;
    iTag.clear();
    iAttributes.clear();
    iDeclarations.clear();
    iAttributeIndex.clear();
    iDeclarationIndex.clear();
    iTagName = found.stamp != 0 ? useName(found) : rememberName(found, false, uri, localName);
    if (iTagName.stamp == 0) {
        iTagUri = keep(uri);
        iTagLocalName = keep(localName);
    }
    iTagHint = prefixHint.empty() ? Span{} : keep(prefixHint);
    iTagUnprefixed = unprefixed;
    iTagPending = true;
    iRootDone = true;
    afterWrite();
}

void Impl::attribute(std::u16string_view uri, std::u16string_view localName, std::u16string_view value,
                     std::u16string_view prefixHint) {
    checkOpen("attribute");
    if (!iTagPending)
        refuse(Kind::Order, "attribute " + xmlchecks::quoted(localName) + " with no start tag open (after content?)");
    const NameRef found = findName(true, uri, localName);
    if (found.stamp == 0) {
        checkName(localName, "attribute name");
        checkNamespaceName(uri);
        if (uri == XMLNS_URI || (uri.empty() && localName == u"xmlns"))
            refuse(Kind::Namespace, "namespace declarations are made with declareNamespace");
    }
    checkCharacters(value, true, "attribute value");
    if (!prefixHint.empty())
        checkName(prefixHint, "prefix");
    const std::uint32_t hash = iAttributes.size() < SCAN ? 0 : hashName(uri, localName);
    if (onTag(uri, localName, hash))
        refuse(Kind::DuplicateAttribute, "attribute " + xmlchecks::quoted(localName) + " is already on the start tag");
    PendingAttribute pending{};
    pending.name = found.stamp != 0 ? useName(found) : rememberName(found, true, uri, localName);
    if (pending.name.stamp == 0) {
        pending.uri = keep(uri);
        pending.localName = keep(localName);
    }
    pending.value = keep(value);
    pending.hint = prefixHint.empty() ? Span{} : keep(prefixHint);
    pending.hash = hash;
    iAttributes.push_back(pending);
    if (iAttributes.size() > SCAN)
        indexAttribute(iAttributes.size() - 1);
}

void Impl::declareNamespace(std::u16string_view uri, std::u16string_view prefix) {
    checkOpen("declareNamespace");
    if (!iTagPending)
        refuse(Kind::Order, "namespace declaration with no start tag open (after content?)");
    if (prefix.find(u':') != std::u16string_view::npos)
        refuse(Kind::Name, "prefix " + xmlchecks::quoted(prefix) +
                               " is not a name without a colon (declareNamespace takes the URI first)");
    if (!prefix.empty())
        checkName(prefix, "prefix");
    checkNamespaceName(uri);
    switch (xmlchecks::reservedRule(prefix, uri)) {
    case xmlchecks::Reserved::XmlnsPrefix:
    case xmlchecks::Reserved::XmlnsNamespace:
        refuse(Kind::Namespace, "the xmlns prefix and namespace are never declared");
    case xmlchecks::Reserved::XmlPairing:
        refuse(Kind::Namespace, "the xml prefix is bound to " + xmlchecks::quoted(XML_URI) + ", and only it");
    case xmlchecks::Reserved::None:
        break;
    }
    if (!prefix.empty() && uri.empty() && !iXml11)
        refuse(Kind::Namespace,
               "the prefix " + xmlchecks::quoted(prefix) + " cannot be undeclared (bound to no namespace) in XML 1.0");
    if (prefix.empty() && !uri.empty() && tagUri().empty())
        refuse(Kind::Namespace, "an element in no namespace cannot declare a default namespace");
    if (declaredOnTag(prefix, nullptr))
        refuse(Kind::DuplicateAttribute, "the prefix " + xmlchecks::quoted(prefix) + " is already declared on the tag");
    const Span p = keep(prefix), u = keep(uri);
    iDeclarations.push_back(PendingDeclaration{p, u});
    if (iDeclarations.size() > SCAN)
        indexDeclaration(iDeclarations.size() - 1);
}

bool Impl::prefixInForce(std::u16string_view uri, std::string& prefix, bool allowDefault) const {
    // The open tag's names and content: an element in no namespace there
    // undeclares the default namespace in force (xmlns="").
    if (iTagPending && tagUri().empty())
        allowDefault = false;
    if (iTagPending) {
        // The tag's own declarations are in force for its names, the default one first.
        const PendingDeclaration* found = nullptr;
        for (const PendingDeclaration& declaration : iDeclarations)
            if (view(declaration.uri) == uri && (found == nullptr || declaration.prefix.length == 0) &&
                (allowDefault || declaration.prefix.length != 0))
                found = &declaration;
        if (found != nullptr) {
            prefix = OrvWstring(view(found->prefix)).toUtf8();
            return true;
        }
    }
    if (uri.empty())
        return false;
    OrvWstring answer;
    if (!iPrefixes.findNamespacePrefix(uri, answer, allowDefault))
        return false;
    std::u16string_view declared;
    if (iTagPending && !iDeclarations.empty() && declaredOnTag(answer.view(), &declared) && declared != uri) {
        // The open tag binds that prefix to another URI: an older binding
        // may still hold. Asked with the tag's declarations bound on a level
        // of their own, which is then closed, leaving the manager as it was.
        XMLPrefixManager& manager = const_cast<XMLPrefixManager&>(iPrefixes);
        manager.addLevel();
        struct Close {
            XMLPrefixManager& manager;
            ~Close() { manager.removeLevel(); }
        } close{manager};
        for (const PendingDeclaration& declaration : iDeclarations)
            manager.addNamespaceAndPrefix(OrvWstring(view(declaration.uri)), OrvWstring(view(declaration.prefix)));
        if (!manager.findNamespacePrefix(uri, answer, allowDefault))
            return false;
    }
    prefix = answer.toUtf8();
    return true;
}

bool Impl::prefixInForce(XmlString uri, std::string& prefix, bool allowDefault) const {
    if (uri.isUtf16())
        return prefixInForce(uri.utf16(), prefix, allowDefault);
    if (!xmlchecks::utf8ToUtf16(uri.utf8(), iQueryUri))
        throw XmlWriterError(Kind::Character, "malformed UTF-8");
    return prefixInForce(std::u16string_view(iQueryUri), prefix, allowDefault);
}

// Duplicates: a tag of a few attributes or declarations is searched in
// order; past SCAN, through an index, so that each check stays O(1).
std::uint32_t Impl::hashName(std::u16string_view uri, std::u16string_view localName) {
    std::uint32_t hash = 2166136261u;
    for (const char16_t c : localName)
        hash = (hash ^ c) * 16777619u;
    hash = (hash ^ 0xFFFFu) * 16777619u;
    for (const char16_t c : uri)
        hash = (hash ^ c) * 16777619u;
    return hash ^ (hash >> 15);
}

bool Impl::onTagIndexed(std::u16string_view uri, std::u16string_view localName, std::uint32_t hash) const {
    const std::size_t mask = iAttributeIndex.size() - 1;
    for (std::size_t slot = hash & mask; iAttributeIndex[slot] != 0; slot = (slot + 1) & mask) {
        const PendingAttribute& attribute = iAttributes[iAttributeIndex[slot] - 1];
        if (attribute.hash == hash && localNameOf(attribute) == localName && uriOf(attribute) == uri)
            return true;
    }
    return false;
}

namespace {

// Puts `index` into an open-addressed table of `size` slots (a power of two).
void place(std::vector<std::uint32_t>& table, std::uint32_t hash, std::size_t index) {
    const std::size_t mask = table.size() - 1;
    std::size_t slot = hash & mask;
    while (table[slot] != 0)
        slot = (slot + 1) & mask;
    table[slot] = static_cast<std::uint32_t>(index + 1);
}

} // namespace

void Impl::indexAttribute(std::size_t index) {
    if (iAttributes.size() <= SCAN)
        return;
    if (iAttributeIndex.size() < 2 * iAttributes.size()) {
        iAttributeIndex.assign(std::max<std::size_t>(64, iAttributeIndex.size() * 4), 0);
        for (std::size_t i = 0; i < iAttributes.size(); ++i) {
            PendingAttribute& attribute = iAttributes[i];
            if (i < SCAN)
                attribute.hash = hashName(uriOf(attribute), localNameOf(attribute));
            place(iAttributeIndex, attribute.hash, i);
        }
        return;
    }
    place(iAttributeIndex, iAttributes[index].hash, index);
}

void Impl::indexDeclaration(std::size_t index) {
    if (iDeclarations.size() <= SCAN)
        return;
    if (iDeclarationIndex.size() < 2 * iDeclarations.size()) {
        iDeclarationIndex.assign(std::max<std::size_t>(64, iDeclarationIndex.size() * 4), 0);
        for (std::size_t i = 0; i < iDeclarations.size(); ++i)
            place(iDeclarationIndex, hashName({}, view(iDeclarations[i].prefix)), i);
        return;
    }
    place(iDeclarationIndex, hashName({}, view(iDeclarations[index].prefix)), index);
}

bool Impl::declaredOnTag(std::u16string_view prefix, std::u16string_view* uri) const {
    const PendingDeclaration* found = nullptr;
    if (iDeclarationIndex.empty()) {
        for (const PendingDeclaration& declaration : iDeclarations)
            if (view(declaration.prefix) == prefix)
                found = &declaration;
    } else {
        const std::size_t mask = iDeclarationIndex.size() - 1;
        for (std::size_t slot = hashName({}, prefix) & mask; iDeclarationIndex[slot] != 0 && !found;
             slot = (slot + 1) & mask)
            if (view(iDeclarations[iDeclarationIndex[slot] - 1].prefix) == prefix)
                found = &iDeclarations[iDeclarationIndex[slot] - 1];
    }
    if (found && uri)
        *uri = view(found->uri);
    return found != nullptr;
}

XmlWriter::XmlWriter(XmlSink& sink) : XmlWriter(sink, Options()) {}

XmlWriter::XmlWriter(XmlSink& sink, const Options& options) : d(std::make_unique<Impl>(sink, options)) {}

XmlWriter::XmlWriter(XmlWriter&& other) noexcept = default;

XmlWriter& XmlWriter::operator=(XmlWriter&& other) noexcept {
    if (this != &other) {
        if (d)
            d->flushQuietly();
        d = std::move(other.d);
    }
    return *this;
}

XmlWriter::~XmlWriter() {
    if (d)
        d->flushQuietly();
}

Impl& XmlWriter::impl(const char* call) const {
    if (!d)
        throw XmlWriterError(Kind::Order, std::string(call) + " on a moved-from XmlWriter");
    return *d;
}

void XmlWriter::startDocument(Version version, Standalone standalone) {
    Impl& w = impl("startDocument");
    guarded(w, [&] { w.startDocument(version, standalone); });
}

void XmlWriter::endDocument() {
    Impl& w = impl("endDocument");
    guarded(w, [&] { w.endDocument(); });
}

void XmlWriter::startElement(XmlString uri, XmlString localName, XmlString prefixHint) {
    Impl& w = impl("startElement");
    guarded(w, [&] {
        w.startElement(w.utf16(uri, 0), w.utf16(localName, 1), w.utf16(prefixHint, 2), prefixHint.isUnprefixed());
    });
}

void XmlWriter::attribute(XmlString uri, XmlString localName, XmlString value, XmlString prefixHint) {
    Impl& w = impl("attribute");
    guarded(w, [&] { w.attribute(w.utf16(uri, 0), w.utf16(localName, 1), w.utf16(value, 2), w.utf16(prefixHint, 3)); });
}

void XmlWriter::declareNamespace(XmlString uri, XmlString prefix) {
    Impl& w = impl("declareNamespace");
    guarded(w, [&] { w.declareNamespace(w.utf16(uri, 0), w.utf16(prefix, 1)); });
}

void XmlWriter::setPreferredPrefix(XmlString uri, XmlString prefix) {
    Impl& w = impl("setPreferredPrefix");
    guarded(w, [&] { w.setPreferredPrefix(w.utf16(uri, 0), w.utf16(prefix, 1)); });
}

void XmlWriter::text(XmlString text) {
    Impl& w = impl("text");
    guarded(w, [&] { w.text(text); });
}

void XmlWriter::cdata(XmlString text) {
    Impl& w = impl("cdata");
    guarded(w, [&] { w.cdata(text); });
}

void XmlWriter::comment(XmlString text) {
    Impl& w = impl("comment");
    guarded(w, [&] { w.comment(text); });
}

void XmlWriter::processingInstruction(XmlString target, XmlString data) {
    Impl& w = impl("processingInstruction");
    guarded(w, [&] { w.processingInstruction(w.utf16(target, 0), data); });
}

void XmlWriter::endElement() {
    Impl& w = impl("endElement");
    guarded(w, [&] { w.endElement(); });
}

void XmlWriter::flush() {
    Impl& w = impl("flush");
    guarded(w, [&] { w.flush(); });
}

std::size_t XmlWriter::depth() const { return d ? d->depth() : 0; }

bool XmlWriter::failed() const { return d && d->failed(); }

bool XmlWriter::prefixInForce(XmlString uri, std::string& prefix, bool allowDefault) const {
    return impl("prefixInForce").prefixInForce(uri, prefix, allowDefault);
}

} // namespace zaq
