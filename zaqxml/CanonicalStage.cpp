// SPDX-License-Identifier: Apache-2.0
// CanonicalStage.cpp - from a document's events to canonical XML.
#include "CanonicalStage.h"

#include "XMLPrefixManager.h"

bool Selection::parse(const std::string& name, Selection& selection) {
    selection = Selection();
    selection.name = name;
    const std::u16string wide(OrvWstring::fromUtf8(name).view());
    if (wide.empty())
        return false;
    if (wide[0] == u'#') {
        selection.byId = true;
        selection.id = wide.substr(1);
        return !selection.id.empty();
    }
    return parseName(name, selection.uri, selection.local);
}

bool Selection::parseName(const std::string& name, std::u16string& uri, std::u16string& local) {
    const std::u16string wide(OrvWstring::fromUtf8(name).view());
    uri.clear();
    if (!wide.empty() && wide[0] == u'{') {
        const std::size_t close = wide.find(u'}');
        if (close == std::u16string::npos || close + 1 == wide.size())
            return false;
        uri = wide.substr(1, close - 1);
        local = wide.substr(close + 1);
    } else {
        local = wide;
    }
    // A local name is an NCName, so holds none of these; nor does a namespace
    // name hold braces or white space.
    auto holdsAny = [](const std::u16string& text, std::u16string_view chars) {
        return text.find_first_of(chars) != std::u16string::npos;
    };
    return !local.empty() && !holdsAny(local, u":{} \t\r\n") && !holdsAny(uri, u"{} \t\r\n");
}

CanonicalStage::CanonicalStage(zaq::XmlCanonicalWriter& out, const HoldingSink& counted, const Selection& selection,
                               const Limits& limits, Diagnostics& diagnostics)
    : iOut(out), iCounted(counted), iSelection(selection), iLimits(limits), iDiagnostics(diagnostics) {}

bool CanonicalStage::selects(const StartTag& tag) const {
    if (!iSelection.byId)
        return tag.name.local.view() == iSelection.local && tag.name.uri == iSelection.uri;
    // xml:id, an attribute the DTD declares an ID, one named by
    // --id-attribute, or, as signature tools take it, an unqualified Id, ID
    // or id.
    // A value of type ID, xml:id's among them, is normalised as a token:
    // " x " names x, as in the canonical form. (The DTD's are already.)
    std::u16string scratch;
    for (std::size_t i = 0; i < tag.attributeCount; ++i) {
        const EventAttribute& a = tag.attributes[i];
        if (a.kind != EventAttribute::Kind::Attribute)
            continue;
        const std::u16string_view name = a.name.local.view();
        const bool xmlId = name == u"id" && a.name.uri == XMLPrefixManager::XML_NAMESPACE_URI;
        std::u16string_view value = a.value.view();
        if (xmlId) {
            scratch.clear();
            for (char16_t c : value)
                if (c != u' ' || (!scratch.empty() && scratch.back() != u' '))
                    scratch += c;
            if (!scratch.empty() && scratch.back() == u' ')
                scratch.pop_back();
            value = scratch;
        }
        if (value != iSelection.id)
            continue;
        if ((a.name.prefix.empty() && (name == u"Id" || name == u"ID" || name == u"id")) || xmlId || a.declaredId)
            return true;
        for (const auto& named : iSelection.idAttributes)
            if (name == named.second && a.name.uri == named.first)
                return true;
    }
    return false;
}

void CanonicalStage::checkOutput() const {
    if (!iLimits.allowsOutput(iCounted.written()))
        throw iDiagnostics.failureHere(iLimits.expansionMessage());
}

void CanonicalStage::startElement(const StartTag& tag) {
    try {
        // An ID names one element: a second one (inside the first or not)
        // makes the selection ambiguous, and a signature over it could be
        // moved to either (signature wrapping).
        const bool byId = iSelection.byId;
        if (iSelection.any() && (byId || !iOut.writing()) && selects(tag)) {
            if (byId && iSelected)
                throw iDiagnostics.failureHere("a second element has the ID '" + OrvWstring(iSelection.id).toUtf8() +
                                               "' that --select names: an ID must name one element");
            if (!iOut.writing())
                iOut.beginSubtree();
            iSelected = true;
        }
        iOut.startElement(tag.name.uri, tag.name.local.view(), tag.name.prefix);
        for (std::size_t i = 0; i < tag.attributeCount; ++i) {
            const EventAttribute& a = tag.attributes[i];
            switch (a.kind) {
            case EventAttribute::Kind::PrefixDeclaration:
                iOut.namespaceDeclaration(a.value.view(), a.name.local.view());
                break;
            case EventAttribute::Kind::DefaultDeclaration:
                iOut.namespaceDeclaration(a.value.view(), std::u16string_view());
                break;
            case EventAttribute::Kind::Attribute:
                iOut.attribute(a.name.uri, a.name.local.view(), a.value.view(), a.name.prefix);
                break;
            }
        }
        if (tag.isEmpty)
            iOut.endElement();
    } catch (const zaq::XmlWriterError& e) {
        throw iDiagnostics.failureHere(e.what());
    }
    checkOutput();
}

void CanonicalStage::xmlDeclaration(std::u16string_view version, std::u16string_view) {
    if (!version.empty() && version != u"1.0")
        throw iDiagnostics.failureHere("a canonical form is defined for XML 1.0 documents, not version " +
                                       OrvWstring(version).toUtf8());
}

void CanonicalStage::endDocument() {
    if (iSelection.any() && !iSelected)
        throw DocumentError("no element matches --select " + iSelection.name);
}

void CanonicalStage::endElement() {
    iOut.endElement();
    checkOutput();
}

void CanonicalStage::text(std::u16string_view chars, bool, bool) {
    iOut.text(chars);
    checkOutput();
}
