// SPDX-License-Identifier: Apache-2.0
// XmlRewriter.cpp - namespace-correct streaming output of the parser's events.
#include "XmlRewriter.h"

#include "Diagnostics.h"
#include "ElementChecks.h"

#include <xercesc/framework/XMLElementDecl.hpp>
#include <xercesc/validators/DTD/DTDElementDecl.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/QName.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Whether `version` is an XML version number: "1." and one or more digits.
bool isVersionNumber(const std::string& version) {
    return version.size() > 2 && version.compare(0, 2, "1.") == 0 &&
           std::all_of(version.begin() + 2, version.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

XmlRewriter::XmlRewriter(XMLPrefixManager& manager, zaq::XmlTextOutput& out, const Options& options,
                         const Limits& limits, Diagnostics& diagnostics)
    : ParserEvents(diagnostics), iPolicy(manager, options.namespaces, diagnostics), iOut(out), iOptions(options),
      iLimits(limits), iDiagnostics(diagnostics), iIndent(out, options.format, options.formatLookahead) {}

void XmlRewriter::XMLDecl(const XMLCh* version, const XMLCh*, const XMLCh* standalone, const XMLCh*) {
    iVersion = utf8(version);
    // The parser takes any "1." prefix for a version; a number it is not
    // cannot be written back as one.
    if (!isVersionNumber(iVersion))
        fail("the XML declaration's version '" + iVersion + "' is not a version number ('1.' and digits)");
    iStandalone = utf8(standalone);
    writeProlog();
}

void XmlRewriter::startDocument() {
    iPolicy.startDocument();
    iNameCounts.clear();
    iUriById.clear();
    iUriTexts.clear();
    iMarkup.clearNames();
    iVersion.clear();
    iStandalone.clear();
    iPrologWritten = false;
    iTagOpen = false;
    iDepth = 0;
}

void XmlRewriter::writeProlog() {
    if (iPrologWritten)
        return;
    iPrologWritten = true;
    // The version the input declared, so that what it may hold stays
    // well-formed; the output is always UTF-8.
    const bool xml11 = iVersion == "1.1";
    iOut.setXml11(xml11);
    iMarkup.declaration(xml11, iStandalone == "yes" || iStandalone == "no" ? iStandalone : std::string());
}

void XmlRewriter::endDocument() {
    writeProlog();
    iOut.flush();
}

void XmlRewriter::fail(const std::string& message) const { throw iDiagnostics.failureHere(message); }

void XmlRewriter::flushBuffer() {
    if (!iLimits.allowsOutput(iOut.written()))
        fail(iLimits.expansionMessage(iOptions.format));
    if (!iOut.flush())
        fail(std::string("cannot write the output: ") + std::strerror(errno));
}

void XmlRewriter::startDTD(const XMLCh* name, const XMLCh* publicId, const XMLCh* systemId) {
    // The internal subset goes: its entities are expanded and its attribute
    // defaults written out. The name and external identifiers stay; a
    // declaration with nothing else to say goes too, as the parser reports
    // none for it.
    if (systemId == nullptr || *systemId == 0)
        return;
    // The parser takes a control character in a system literal, which no
    // document may hold there (XML 1.1 not even its C1 controls but NEL).
    const bool xml11 = iVersion == "1.1";
    for (const XMLCh* c = systemId; *c != 0; ++c)
        if ((*c < 0x20 && *c != '\t' && *c != '\n' && *c != '\r') || *c == 0xFFFE || *c == 0xFFFF ||
            (xml11 && *c >= 0x7F && *c <= 0x9F && *c != 0x85)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(*c));
            fail(std::string("invalid character 0x") + hex + " in the DOCTYPE's system id");
        }
    writeProlog();
    iMarkup.doctype(name, publicId, systemId);
}

void XmlRewriter::closeStartTag() {
    if (iTagOpen) {
        iMarkup.endStartTag();
        iTagOpen = false;
    }
}

const OrvWstring* XmlRewriter::uriOf(unsigned int uriId) {
    if (uriId >= iUriById.size())
        iUriById.resize(uriId + 1, nullptr);
    const OrvWstring*& known = iUriById[uriId];
    if (known == nullptr) {
        const XMLCh* text = reader()->getURIText(uriId);
        iUriTexts.emplace_back(text, static_cast<unsigned int>(xercesc::XMLString::stringLen(text)));
        known = &iUriTexts.back();
    }
    return known->isEmpty() ? nullptr : known;
}

void XmlRewriter::writeName(const NamespacePolicy::Name& name) {
    // The input's own qualified name, or the policy's prefix.
    if (name.asInput)
        iMarkup.name(std::u16string_view(name.inputPrefix, name.inputPrefixLength), name.local);
    else
        iMarkup.name(name.prefix.view(), name.local);
}

void XmlRewriter::startElement(const xercesc::XMLElementDecl& element, unsigned int uriId, const XMLCh* prefix,
                               const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes, XMLSize_t attributeCount,
                               bool isEmpty, bool) {
    writeProlog();
    closeStartTag();
    iIndent.beforeChild();
    checkStartTag(iLimits, iNameCounts, iDiagnostics, ++iDepth, element, prefix, attributes, attributeCount);
    const XMLCh* local = element.getElementName()->getLocalPart();
    const std::size_t elementPrefix = prefix != nullptr ? xercesc::XMLString::stringLen(prefix) : 0;

    const XMLCh* space = nullptr; // xml:space, for --format
    // The declarations go to the policy, in the order they came; the other
    // attributes are names of this tag.
    iNames.clear();
    iAttributes.clear();
    iNames.push_back(NamespacePolicy::Name{uriOf(uriId), prefix, elementPrefix, true, OrvWstring(), local});
    for (XMLSize_t i = 0; i < attributeCount; ++i) {
        const xercesc::XMLAttr* attribute = attributes.elementAt(i);
        const XMLCh* attributePrefix = attribute->getPrefix();
        const std::size_t prefixLength =
            attributePrefix != nullptr ? xercesc::XMLString::stringLen(attributePrefix) : 0;
        if (prefixLength == 5 && isXmlns(attributePrefix)) {
            iPolicy.declare(attribute->getName(), attribute->getValue());
            if (iDepth == 1 && !iOptions.hoisted.empty())
                iRootPrefixes.emplace_back(attribute->getName());
            continue;
        }
        if (prefixLength == 0 && isXmlns(attribute->getName())) {
            iPolicy.declare(xercesc::XMLUni::fgZeroLenString, attribute->getValue());
            continue;
        }
        if (iOptions.format && xercesc::XMLString::equals(attribute->getQName(), u"xml:space"))
            space = attribute->getValue();
        iAttributes.push_back(attribute);
        iNames.push_back(NamespacePolicy::Name{uriOf(attribute->getURIId()), attributePrefix, prefixLength, false,
                                               OrvWstring(), attribute->getName()});
    }
    if (iDepth == 1) {
        for (const auto& binding : iOptions.hoisted)
            if (std::find(iRootPrefixes.begin(), iRootPrefixes.end(), binding.first) == iRootPrefixes.end())
                iPolicy.declare(reinterpret_cast<const XMLCh*>(binding.first.c_str()),
                                reinterpret_cast<const XMLCh*>(binding.second.c_str()));
        iRootPrefixes.clear();
    }
    iPolicy.startElement(iNames);

    iMarkup.beginStartTag();
    writeName(iNames.front());
    iMarkup.pushName();
    for (const auto& declaration : iPolicy.declarations())
        iMarkup.namespaceDeclaration(declaration.first.view(), declaration.second.view());
    for (std::size_t i = 0; i < iAttributes.size(); ++i) {
        iMarkup.beginAttribute();
        writeName(iNames[i + 1]);
        const XMLCh* value = normalisedValue(iDeclaredTypes, element, *iAttributes[i], iTokens);
        iMarkup.attributeValue(value);
        if (iOptions.namespaces.prune)
            warnLostPrefixes(value, xercesc::XMLString::stringLen(value));
    }
    iNames.clear();
    iTagOpen = true;
    iIndent.open(space);
    if (isEmpty)
        finishElement(); // no end event follows
    maybeFlush();
}

void XmlRewriter::endElement(const xercesc::XMLElementDecl&, unsigned int, bool, const XMLCh*) {
    finishElement();
    maybeFlush();
}

void XmlRewriter::finishElement() {
    if (iIndent.writesBeforeEnd()) {
        closeStartTag();
        iIndent.beforeEnd();
    }
    if (iTagOpen) {
        iMarkup.endEmptyTag();
        iTagOpen = false;
    } else {
        iMarkup.endTag();
    }
    iPolicy.endElement();
    iIndent.close();
    if (--iDepth == 0)
        iOut.put('\n');
}

void XmlRewriter::docCharacters(const XMLCh* chars, XMLSize_t length, bool cdataSection) {
    text(chars, length, cdataSection);
}

void XmlRewriter::ignorableWhitespace(const XMLCh* chars, XMLSize_t length, bool cdataSection) {
    text(chars, length, cdataSection);
}

void XmlRewriter::text(const XMLCh* chars, XMLSize_t length, bool cdataSection) {
    if (iDepth == 0)
        return; // white space around the root element
    // White space from an entity was written as an entity reference, on
    // purpose: it is text, not layout.
    if (!cdataSection && iInEntity == 0 && iIndent.hold(chars, length))
        return;
    closeStartTag();
    if (!iIndent.beforeText())
        fail("--format: text in an element already written indented: its element-only content filled the " +
             std::to_string(iIndent.lookahead()) +
             " bytes held back to find mixed content; --format-lookahead raises the limit");
    if (cdataSection) {
        // A section comes whole: written as one, or split where it holds a
        // character only a reference brings back.
        zaq::MarkupEmitter::Cdata section;
        iMarkup.cdata(std::u16string_view(chars, length), section);
        iMarkup.endCdata(section);
    } else {
        iMarkup.text(chars, length);
    }
    if (iOptions.namespaces.prune)
        warnLostPrefixes(chars, length);
    maybeFlush();
}

void XmlRewriter::warnLostPrefixes(const XMLCh* chars, std::size_t length) {
    iLost.clear();
    iPolicy.lostQNamePrefixes(chars, length, iLost);
    for (const std::string& prefix : iLost)
        iDiagnostics.warningHere("'" + prefix +
                                 ":' in content is no longer bound in the output (--prune); --keep-prefixes " + prefix +
                                 " keeps it");
}

void XmlRewriter::docPI(const XMLCh* target, const XMLCh* data) {
    writeProlog();
    closeStartTag();
    iIndent.beforeChild();
    iMarkup.processingInstruction(target, data != nullptr ? std::u16string_view(data) : std::u16string_view());
    if (iDepth == 0)
        iOut.put('\n');
    maybeFlush();
}

void XmlRewriter::docComment(const XMLCh* text) {
    writeProlog();
    closeStartTag();
    iIndent.beforeChild();
    iMarkup.comment(text);
    if (iDepth == 0)
        iOut.put('\n');
    maybeFlush();
}
