// SPDX-License-Identifier: Apache-2.0
// XmlWriterNames.cpp - XmlWriter's start tags: each name's prefix from the
// prefix manager, the declarations of new bindings, and the tag written.
#include "XmlWriter.h"

#include "XmlChecks.h"

#include <cstdint>
#include <cstring>

using Escape = XmlTextOutput::Escape;

namespace {

const std::u16string_view XML_URI = XMLPrefixManager::XML_NAMESPACE_URI;

} // namespace

// The tag's names are resolved in the order a reader meets them: its own
// declarations, the element, then the attributes; each new binding the
// manager makes is declared on this tag. With `pin`, the prefixes that the
// previous pass found in force are first bound again on this level (and not
// declared: they mean what they meant), so that no new binding takes them.
bool XmlWriter::lookup(std::u16string_view uri, OrvWstring& prefix, bool allowDefault) {
    for (const Answer& answer : iAnswers)
        if (answer.epoch == iEpoch && answer.allowDefault == allowDefault && answer.uri == uri) {
            prefix = answer.prefix;
            return true;
        }
    if (!iPrefixes.getNamespacePrefix(uri, prefix, allowDefault)) {
        ++iEpoch;
        iTagBinds = true;
        return false;
    }
    Answer& answer = iAnswers[iNextAnswer++ % 4];
    answer.uri.assign(uri);
    answer.allowDefault = allowDefault;
    answer.prefix = prefix;
    answer.epoch = iEpoch;
    return true;
}

void XmlWriter::bind(std::u16string_view uri, const OrvWstring& prefix) {
    iPrefixes.addNamespaceAndPrefix(OrvWstring(uri), prefix);
    ++iEpoch;
    iTagBinds = true;
}

void XmlWriter::resolveNames(bool pin) {
    const std::u16string_view uri = tagUri(), hint = view(iTagHint);
    iPrefixes.addLevel();
    iTagBinds = false;
    for (const PendingDeclaration& declaration : iDeclarations)
        bind(view(declaration.uri), OrvWstring(view(declaration.prefix)));
    if (pin) {
        // Only what was in force before this tag: a name that found a
        // binding the previous pass made on this tag, for a name resolved
        // before it, is looked up again.
        auto madeBefore = [&](const OrvWstring& prefix, std::size_t attribute) {
            if (iElementNew && iPrefix == prefix)
                return true;
            for (std::size_t i = 0; i < attribute; ++i)
                if (iAttributeNew[i] && iAttributePrefixes[i] == prefix)
                    return true;
            return false;
        };
        if (!iElementNew && !iPrefix.isEmpty())
            bind(uri, iPrefix);
        for (std::size_t i = 0; i < iAttributes.size(); ++i)
            if (!iAttributeNew[i] && !iAttributePrefixes[i].isEmpty() && !madeBefore(iAttributePrefixes[i], i))
                bind(uriOf(iAttributes[i]), iAttributePrefixes[i]);
    }
    iUndeclareDefault = false;
    iElementNew = false;
    std::u16string_view declaredUri;
    if (uri.empty()) {
        iPrefix = OrvWstring();
        iUndeclareDefault = iPrefixes.isDefaultSpace();
        if (iUndeclareDefault)
            bind(u"", OrvWstring());
    } else if (!hint.empty() && (!declaredOnTag(hint, &declaredUri) || declaredUri == uri)) {
        iPrefix = OrvWstring(hint);
        iElementNew = !iPrefixes.getNamespaceUri(iPrefix, iScratchUri) || iScratchUri.view() != uri;
        if (iElementNew)
            bind(uri, iPrefix);
    } else {
        iElementNew = !lookup(uri, iPrefix, true);
    }
    iAttributePrefixes.resize(iAttributes.size());
    iAttributeNew.assign(iAttributes.size(), 0);
    for (std::size_t i = 0; i < iAttributes.size(); ++i) {
        const std::u16string_view attributeUri = uriOf(iAttributes[i]);
        if (attributeUri.empty())
            iAttributePrefixes[i] = OrvWstring();
        else
            iAttributeNew[i] = !lookup(attributeUri, iAttributePrefixes[i], false) ? 1 : 0;
    }
}

// Whether every prefixed name of the tag is bound to its own URI after the
// tag's new bindings: one of them may have rebound, on this level, a prefix
// in force that another name of the tag uses.
bool XmlWriter::namesHold() {
    auto holds = [this](const OrvWstring& prefix, std::u16string_view uri) {
        return prefix.isEmpty() || (iPrefixes.getNamespaceUri(prefix, iScratchUri) && iScratchUri.view() == uri);
    };
    if (!holds(iPrefix, tagUri()))
        return false;
    for (std::size_t i = 0; i < iAttributes.size(); ++i)
        if (!holds(iAttributePrefixes[i], uriOf(iAttributes[i])))
            return false;
    return true;
}

namespace {

// Names and URIs are short: compared four code units at a time, inline.
bool sameText(const std::u16string& a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    const char16_t *x = a.data(), *y = b.data();
    std::size_t left = b.size();
    for (; left >= 4; left -= 4, x += 4, y += 4) {
        std::uint64_t u, v;
        std::memcpy(&u, x, 8);
        std::memcpy(&v, y, 8);
        if (u != v)
            return false;
    }
    for (; left > 0; --left)
        if (*x++ != *y++)
            return false;
    return true;
}

// `out` becomes "prefix:localName" (or the local name alone) in UTF-8.
void qualifiedName(std::u16string_view prefix, std::u16string_view localName, std::string& out) {
    out.clear();
    xmlchecks::appendUtf8(prefix, out);
    if (!prefix.empty())
        out.push_back(':');
    xmlchecks::appendUtf8(localName, out);
}

} // namespace

// Names come round in the same order tag after tag, so the slot found after
// the previous one is tried first.
XmlWriter::NameRef XmlWriter::findName(bool attribute, std::u16string_view uri, std::u16string_view localName) {
    auto holds = [&](const KnownName& known) {
        return known.stamp != 0 && known.attribute == attribute && sameText(known.localName, localName) &&
               sameText(known.uri, uri);
    };
    unsigned slot = iKnown[iLastKnown].next;
    if (!holds(iKnown[slot])) {
        for (slot = 0; slot < KNOWN_NAMES && !holds(iKnown[slot]); ++slot) {
        }
        if (slot == KNOWN_NAMES)
            return NameRef{};
        iKnown[iLastKnown].next = slot;
    }
    iLastKnown = slot;
    return NameRef{slot, iKnown[slot].stamp};
}

// A slot for a name not met before, other than those the pending start tag
// uses; none (the name is then copied) when the tag uses them all.
XmlWriter::NameRef XmlWriter::rememberName(bool attribute, std::u16string_view uri, std::u16string_view localName) {
    for (unsigned tries = 0; tries < KNOWN_NAMES; ++tries) {
        const unsigned slot = iNextKnown++ % KNOWN_NAMES;
        KnownName& known = iKnown[slot];
        if (known.stamp != 0 && known.tag == iTagCount)
            continue;
        known.stamp = 0; // empty until both strings are in
        known.uri.assign(uri);
        known.localName.assign(localName);
        known.attribute = attribute;
        known.epoch = NO_EPOCH;
        known.stamp = ++iKnownStamp;
        return useName(NameRef{slot, known.stamp});
    }
    return NameRef{};
}

// The pending start tag uses the slot: it keeps its name until the tag is written.
XmlWriter::NameRef XmlWriter::useName(NameRef ref) {
    iKnown[ref.slot].tag = iTagCount;
    return ref;
}

// The slot while it still holds the name it was given for `ref`.
XmlWriter::KnownName* XmlWriter::known(NameRef ref) {
    KnownName& known = iKnown[ref.slot];
    return ref.stamp != 0 && known.stamp == ref.stamp ? &known : nullptr;
}

// After a start tag that made no binding, every name the manager answered
// keeps its answer for as long as the bindings in force stay as they are.
void XmlWriter::learnAnswers() {
    if (iTagBinds)
        return;
    if (iTagHint.length == 0)
        if (KnownName* element = known(iTagName)) {
            qualifiedName(iPrefix.view(), tagLocalName(), element->qname);
            element->epoch = iEpoch;
        }
    for (std::size_t i = 0; i < iAttributes.size(); ++i)
        if (KnownName* attribute = known(iAttributes[i].name)) {
            qualifiedName(iAttributePrefixes[i].view(), localNameOf(iAttributes[i]), attribute->qname);
            attribute->epoch = iEpoch;
        }
}

const XMLCh* XmlWriter::spaceOfTag() const {
    const XMLCh* space = nullptr;
    for (const PendingAttribute& attribute : iAttributes)
        if (uriOf(attribute) == XML_URI && localNameOf(attribute) == u"space")
            space = view(attribute.value) == u"preserve" ? u"preserve" : u"default";
    return space;
}

// A tag that declares nothing and names only what earlier tags named under
// the same bindings is written from their answers: nothing to look up, no
// name to convert.
bool XmlWriter::writeKnownStartTag(bool empty) {
    if (!iDeclarations.empty() || iTagHint.length != 0)
        return false;
    const KnownName* element = known(iTagName);
    if (element == nullptr || element->epoch != iEpoch)
        return false;
    for (const PendingAttribute& attribute : iAttributes) {
        const KnownName* name = known(attribute.name);
        if (name == nullptr || name->epoch != iEpoch)
            return false;
    }
    iPrefixes.addLevel();
    iTagBinds = false;
    iOut.put('<');
    iOut.put(element->qname.data(), element->qname.size());
    for (const PendingAttribute& attribute : iAttributes) {
        const std::string& qname = iKnown[attribute.name.slot].qname;
        iOut.put(' ');
        iOut.put(qname.data(), qname.size());
        iOut.put("=\"");
        const std::u16string_view value = view(attribute.value);
        iOut.append(reinterpret_cast<const XMLCh*>(value.data()), value.size(), Escape::Attribute);
        iOut.put('"');
    }
    finishStartTag(empty, element->qname);
    return true;
}

void XmlWriter::writeStartTag(bool empty) {
    if (writeKnownStartTag(empty))
        return;
    const std::u16string_view uri = tagUri(), localName = tagLocalName();
    resolveNames(false);
    bool anyNew = iElementNew;
    for (std::size_t i = 0; i < iAttributes.size(); ++i)
        anyNew = anyNew || iAttributeNew[i];
    if (anyNew && !namesHold()) {
        iPrefixes.removeLevel();
        ++iEpoch;
        resolveNames(true);
    }
    learnAnswers();

    qualifiedName(iPrefix.view(), localName, iQName);
    iOut.put('<');
    iOut.put(iQName.data(), iQName.size());
    for (const PendingDeclaration& declaration : iDeclarations)
        writeDeclaration(view(declaration.prefix), view(declaration.uri));
    if (iUndeclareDefault)
        iOut.put(" xmlns=\"\"");
    if (iElementNew)
        writeDeclaration(iPrefix.view(), uri);
    for (std::size_t i = 0; i < iAttributes.size(); ++i)
        if (iAttributeNew[i])
            writeDeclaration(iAttributePrefixes[i].view(), uriOf(iAttributes[i]));
    for (std::size_t i = 0; i < iAttributes.size(); ++i) {
        iOut.put(' ');
        writeName(iAttributePrefixes[i].view(), localNameOf(iAttributes[i]));
        iOut.put("=\"");
        const std::u16string_view value = view(iAttributes[i].value);
        iOut.append(reinterpret_cast<const XMLCh*>(value.data()), value.size(), Escape::Attribute);
        iOut.put('"');
    }
    finishStartTag(empty, iQName);
}

void XmlWriter::finishStartTag(bool empty, std::string_view qname) {
    iTagPending = false;
    if (empty) {
        iOut.put("/>");
        iPrefixes.removeLevel();
        if (iTagBinds)
            ++iEpoch;
    } else {
        iOut.put('>');
        iOpen.push_back(OpenElement{iOpenNames.size(), iTagBinds});
        iOpenNames.append(qname);
        if (iIndenting)
            iIndent.open(spaceOfTag());
    }
}
