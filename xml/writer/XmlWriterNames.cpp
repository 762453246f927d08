// SPDX-License-Identifier: Apache-2.0
// XmlWriterNames.cpp - XmlWriter's start tags: each name's prefix from the
// prefix manager, the declarations of new bindings, and the tag written.
#include "XmlWriter.h"

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
    const std::u16string_view uri = view(iTagUri), hint = view(iTagHint);
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
                bind(view(iAttributes[i].uri), iAttributePrefixes[i]);
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
        const std::u16string_view attributeUri = view(iAttributes[i].uri);
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
    if (!holds(iPrefix, view(iTagUri)))
        return false;
    for (std::size_t i = 0; i < iAttributes.size(); ++i)
        if (!holds(iAttributePrefixes[i], view(iAttributes[i].uri)))
            return false;
    return true;
}

void XmlWriter::writeStartTag(bool empty) {
    const std::u16string_view uri = view(iTagUri), localName = view(iTagLocalName);
    resolveNames(false);
    bool anyNew = iElementNew;
    for (std::size_t i = 0; i < iAttributes.size(); ++i)
        anyNew = anyNew || iAttributeNew[i];
    if (anyNew && !namesHold()) {
        iPrefixes.removeLevel();
        ++iEpoch;
        resolveNames(true);
    }
    const XMLCh* space = nullptr;
    for (const PendingAttribute& attribute : iAttributes)
        if (view(attribute.uri) == XML_URI && view(attribute.localName) == u"space")
            space = view(attribute.value) == u"preserve" ? u"preserve" : u"default";

    iOut.put('<');
    const std::size_t nameFrom = iOpenNames.size();
    if (!empty) {
        if (!iPrefix.isEmpty()) {
            iOpenNames.append(iPrefix.view());
            iOpenNames.push_back(u':');
        }
        iOpenNames.append(localName);
    }
    writeName(iPrefix.view(), localName);
    for (const PendingDeclaration& declaration : iDeclarations)
        writeDeclaration(view(declaration.prefix), view(declaration.uri));
    if (iUndeclareDefault)
        iOut.put(" xmlns=\"\"");
    if (iElementNew)
        writeDeclaration(iPrefix.view(), uri);
    for (std::size_t i = 0; i < iAttributes.size(); ++i)
        if (iAttributeNew[i])
            writeDeclaration(iAttributePrefixes[i].view(), view(iAttributes[i].uri));
    for (std::size_t i = 0; i < iAttributes.size(); ++i) {
        iOut.put(' ');
        writeName(iAttributePrefixes[i].view(), view(iAttributes[i].localName));
        iOut.put("=\"");
        const std::u16string_view value = view(iAttributes[i].value);
        iOut.append(reinterpret_cast<const XMLCh*>(value.data()), value.size(), Escape::Attribute);
        iOut.put('"');
    }
    iTagPending = false;
    if (empty) {
        iOut.put("/>");
        iPrefixes.removeLevel();
        if (iTagBinds)
            ++iEpoch;
    } else {
        iOut.put('>');
        iOpen.push_back(OpenElement{nameFrom, iTagBinds});
        iIndent.open(space);
    }
}
