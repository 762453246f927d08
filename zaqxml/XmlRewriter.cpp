// SPDX-License-Identifier: Apache-2.0
// XmlRewriter.cpp - namespace-correct streaming output of a document's events.
#include "XmlRewriter.h"

#include "Diagnostics.h"

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
    : iPolicy(manager, options.namespaces, diagnostics), iOut(out), iOptions(options), iLimits(limits),
      iDiagnostics(diagnostics), iIndent(out, options.format, options.formatLookahead) {}

void XmlRewriter::xmlDeclaration(std::u16string_view version, std::u16string_view standalone) {
    iVersion = OrvWstring(version).toUtf8();
    // The parser takes any "1." prefix for a version; a number it is not
    // cannot be written back as one.
    if (!isVersionNumber(iVersion))
        fail("the XML declaration's version '" + iVersion + "' is not a version number ('1.' and digits)");
    iStandalone = OrvWstring(standalone).toUtf8();
    writeProlog();
}

void XmlRewriter::startDocument() {
    iPolicy.startDocument();
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

void XmlRewriter::doctype(std::u16string_view name, std::u16string_view publicId, std::u16string_view systemId) {
    // The internal subset goes: its entities are expanded and its attribute
    // defaults written out. The name and external identifiers stay; a
    // declaration with nothing else to say goes too, as the parser reports
    // none for it.
    if (systemId.empty())
        return;
    // The parser takes a control character in a system literal, which no
    // document may hold there (XML 1.1 not even its C1 controls but NEL).
    const bool xml11 = iVersion == "1.1";
    for (char16_t c : systemId)
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF ||
            (xml11 && c >= 0x7F && c <= 0x9F && c != 0x85)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(c));
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

const OrvWstring* XmlRewriter::learnUri(const EventName& name) {
    if (name.uriId >= iUriById.size())
        iUriById.resize(name.uriId + 1, nullptr);
    const OrvWstring*& known = iUriById[name.uriId];
    if (known == nullptr) {
        iUriTexts.emplace_back(name.uri);
        known = &iUriTexts.back();
    }
    return known->isEmpty() ? nullptr : known;
}

void XmlRewriter::writeName(const NamespacePolicy::Name& name) {
    // The input's own qualified name, or the policy's prefix.
    if (name.asInput)
        iMarkup.name(name.inputPrefix, name.local);
    else
        iMarkup.name(name.prefix.view(), name.local);
}

void XmlRewriter::beforeChild() {
    writeProlog();
    closeStartTag();
    iIndent.beforeChild();
}

void XmlRewriter::startElement(const StartTag& tag) {
    beforeChild();
    ++iDepth;
    const std::u16string_view* space = nullptr; // xml:space, for --format
    // The declarations go to the policy, in the order they came; the other
    // attributes are names of this tag.
    iNames.clear();
    iAttributes.clear();
    iNames.push_back(NamespacePolicy::Name{uriOf(tag.name), tag.name.prefix, true, OrvWstring(), tag.name.local.chars});
    for (std::size_t i = 0; i < tag.attributeCount; ++i) {
        const EventAttribute& attribute = tag.attributes[i];
        if (attribute.kind == EventAttribute::Kind::PrefixDeclaration) {
            iPolicy.declare(attribute.name.local.view(), attribute.value.view());
            if (iDepth == 1 && !iOptions.hoisted.empty())
                iRootPrefixes.push_back(attribute.name.local.view());
            continue;
        }
        if (attribute.kind == EventAttribute::Kind::DefaultDeclaration) {
            iPolicy.declare(std::u16string_view(), attribute.value.view());
            continue;
        }
        if (iOptions.format && attribute.name.prefix == u"xml" && attribute.name.local.view() == u"space") {
            iSpace = attribute.value.view();
            space = &iSpace;
        }
        iAttributes.push_back(&attribute);
        iNames.push_back(NamespacePolicy::Name{uriOf(attribute.name), attribute.name.prefix, false, OrvWstring(),
                                               attribute.name.local.chars});
    }
    if (iDepth == 1) {
        for (const auto& binding : iOptions.hoisted)
            if (std::find(iRootPrefixes.begin(), iRootPrefixes.end(), binding.first) == iRootPrefixes.end())
                iPolicy.declare(binding.first, binding.second);
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
        const char16_t* value = iAttributes[i]->value.chars;
        iMarkup.attributeValue(value);
        if (iOptions.namespaces.prune)
            warnLostPrefixes(value);
    }
    iNames.clear();
    iTagOpen = true;
    iIndent.open(space);
    if (tag.isEmpty)
        finishElement(); // no end event follows
    maybeFlush();
}

void XmlRewriter::endElement() {
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

void XmlRewriter::text(std::u16string_view chars, bool cdata, bool fromEntity) {
    if (iDepth == 0)
        return; // white space around the root element
    // White space from an entity was written as an entity reference, on
    // purpose: it is text, not layout.
    if (!cdata && !fromEntity && iIndent.hold(chars.data(), chars.size()))
        return;
    closeStartTag();
    if (!iIndent.beforeText())
        fail("--format: text in an element already written indented: its element-only content filled the " +
             std::to_string(iIndent.lookahead()) +
             " bytes held back to find mixed content; --format-lookahead raises the limit");
    if (cdata) {
        // A section comes whole: written as one, or split where it holds a
        // character only a reference brings back.
        zaq::MarkupEmitter::Cdata section;
        iMarkup.cdata(chars, section);
        iMarkup.endCdata(section);
    } else {
        iMarkup.text(chars);
    }
    if (iOptions.namespaces.prune)
        warnLostPrefixes(chars);
    maybeFlush();
}

void XmlRewriter::warnLostPrefixes(std::u16string_view chars) {
    iLost.clear();
    iPolicy.lostQNamePrefixes(chars, iLost);
    for (const std::string& prefix : iLost)
        iDiagnostics.warningHere("'" + prefix +
                                 ":' in content is no longer bound in the output (--prune); --keep-prefixes " + prefix +
                                 " keeps it");
}

void XmlRewriter::processingInstruction(std::u16string_view target, std::u16string_view data) {
    beforeChild();
    iMarkup.processingInstruction(target, data);
    if (iDepth == 0)
        iOut.put('\n');
    maybeFlush();
}

void XmlRewriter::comment(std::u16string_view text) {
    beforeChild();
    iMarkup.comment(text);
    if (iDepth == 0)
        iOut.put('\n');
    maybeFlush();
}
