// SPDX-License-Identifier: Apache-2.0
// CanonicalHandler.cpp - from the parser's events to canonical XML.
#include "CanonicalHandler.h"

#include "ElementChecks.h"
#include "XMLPrefixManager.h"

#include <xercesc/util/XMLString.hpp>

namespace {

std::u16string_view viewOf(const XMLCh* text) {
    return text == nullptr ? std::u16string_view() : std::u16string_view(text, xercesc::XMLString::stringLen(text));
}

} // namespace

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

CanonicalHandler::CanonicalHandler(zaq::XmlCanonicalWriter& out, const HoldingSink& counted, const Selection& selection,
                                   const Limits& limits, Diagnostics& diagnostics)
    : ParserEvents(diagnostics), iOut(out), iCounted(counted), iSelection(selection), iLimits(limits),
      iDiagnostics(diagnostics) {}

std::u16string_view CanonicalHandler::uriText(unsigned int uriId) const { return viewOf(reader()->getURIText(uriId)); }

bool CanonicalHandler::selects(const xercesc::XMLElementDecl& element, unsigned int uriId,
                               const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                               XMLSize_t attributeCount) const {
    if (!iSelection.byId)
        return viewOf(element.getElementName()->getLocalPart()) == iSelection.local && uriText(uriId) == iSelection.uri;
    // xml:id, an attribute the DTD declares an ID, one named by
    // --id-attribute, or, as signature tools take it, an unqualified Id, ID
    // or id.
    // A value of type ID, xml:id's among them, is normalised as a token:
    // " x " names x, as in the canonical form.
    std::u16string scratch;
    for (XMLSize_t i = 0; i < attributeCount; ++i) {
        const xercesc::XMLAttr& a = *attributes.elementAt(i);
        const std::u16string_view name = viewOf(a.getName());
        const std::u16string_view prefix = viewOf(a.getPrefix());
        const bool xmlId = name == u"id" && uriText(a.getURIId()) == XMLPrefixManager::XML_NAMESPACE_URI;
        const bool dtdId = declaredId(iDeclaredTypes, element, a);
        std::u16string_view value = viewOf(a.getValue());
        if (xmlId || dtdId) {
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
        if ((prefix.empty() && (name == u"Id" || name == u"ID" || name == u"id")) || xmlId || dtdId)
            return true;
        for (const auto& named : iSelection.idAttributes)
            if (name == named.second && uriText(a.getURIId()) == named.first)
                return true;
    }
    return false;
}

void CanonicalHandler::checkOutput() const {
    if (!iLimits.allowsOutput(iCounted.written()))
        throw iDiagnostics.failureHere(iLimits.expansionMessage());
}

void CanonicalHandler::startElement(const xercesc::XMLElementDecl& element, unsigned int uriId, const XMLCh* prefix,
                                    const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes, XMLSize_t attributeCount,
                                    bool isEmpty, bool) {
    checkStartTag(iLimits, iNameCounts, iDiagnostics, ++iDepth, element, prefix, attributes, attributeCount);
    try {
        // An ID names one element: a second one (inside the first or not)
        // makes the selection ambiguous, and a signature over it could be
        // moved to either (signature wrapping).
        const bool byId = iSelection.byId;
        if (iSelection.any() && (byId || !iOut.writing()) && selects(element, uriId, attributes, attributeCount)) {
            if (byId && iSelected)
                throw iDiagnostics.failureHere("a second element has the ID '" + OrvWstring(iSelection.id).toUtf8() +
                                               "' that --select names: an ID must name one element");
            if (!iOut.writing())
                iOut.beginSubtree();
            iSelected = true;
        }
        iOut.startElement(uriText(uriId), viewOf(element.getElementName()->getLocalPart()), viewOf(prefix));
        for (XMLSize_t i = 0; i < attributeCount; ++i) {
            const xercesc::XMLAttr& a = *attributes.elementAt(i);
            const std::u16string_view attributePrefix = viewOf(a.getPrefix());
            if (attributePrefix == u"xmlns") {
                iOut.namespaceDeclaration(viewOf(a.getValue()), viewOf(a.getName()));
            } else if (attributePrefix.empty() && viewOf(a.getName()) == u"xmlns") {
                iOut.namespaceDeclaration(viewOf(a.getValue()), std::u16string_view());
            } else {
                iOut.attribute(uriText(a.getURIId()), viewOf(a.getName()),
                               viewOf(normalisedValue(iDeclaredTypes, element, a, iScratch)), attributePrefix);
            }
        }
        if (isEmpty) {
            iOut.endElement();
            --iDepth;
        }
    } catch (const zaq::XmlWriterError& e) {
        throw iDiagnostics.failureHere(e.what());
    }
    checkOutput();
}

void CanonicalHandler::XMLDecl(const XMLCh* version, const XMLCh*, const XMLCh*, const XMLCh*) {
    if (version != nullptr && *version != 0 && viewOf(version) != u"1.0")
        throw iDiagnostics.failureHere("a canonical form is defined for XML 1.0 documents, not version " +
                                       utf8(version));
}

void CanonicalHandler::endDocument() {
    if (iSelection.any() && !iSelected)
        throw DocumentError("no element matches --select " + iSelection.name);
}

void CanonicalHandler::endElement(const xercesc::XMLElementDecl&, unsigned int, bool, const XMLCh*) {
    iOut.endElement();
    --iDepth;
    checkOutput();
}

void CanonicalHandler::docCharacters(const XMLCh* chars, XMLSize_t length, bool) {
    iOut.text(std::u16string_view(chars, length));
    checkOutput();
}

void CanonicalHandler::ignorableWhitespace(const XMLCh* chars, XMLSize_t length, bool) {
    iOut.text(std::u16string_view(chars, length));
}

void CanonicalHandler::docComment(const XMLCh* text) { iOut.comment(viewOf(text)); }

void CanonicalHandler::docPI(const XMLCh* target, const XMLCh* data) {
    iOut.processingInstruction(viewOf(target), viewOf(data));
}
