// SPDX-License-Identifier: Apache-2.0
// XmlRewriter.cpp - namespace-correct streaming output of SAX2 events.
#include "XmlRewriter.h"

#include <xercesc/sax/Locator.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::size_t prefixLength(const XMLCh* qname) {
    for (const XMLCh* c = qname; *c != 0; ++c)
        if (*c == u':')
            return static_cast<std::size_t>(c - qname);
    return 0;
}

} // namespace

XmlRewriter::XmlRewriter(XMLPrefixManager& manager, Utf8Output& out, const Options& options)
    : iPolicy(manager, options.namespaces), iOut(out), iOptions(options), iDeclarationListener(*this) {}

void XmlRewriter::DeclarationListener::XMLDecl(const XMLCh* version, const XMLCh*, const XMLCh* standalone,
                                               const XMLCh*) {
    iRewriter.iVersion = utf8(version);
    iRewriter.iStandalone = utf8(standalone);
    iRewriter.writeProlog();
}

void XmlRewriter::startDocument() {
    iPolicy.startDocument();
    iNameArena.clear();
    iNameStarts.clear();
    iVersion.clear();
    iStandalone.clear();
    iPrologWritten = false;
    iTagOpen = false;
    iInCdata = false;
    iInDtd = false;
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
    if (xml11)
        iOut.put("<?xml version=\"1.1\" encoding=\"UTF-8\"");
    else
        iOut.put("<?xml version=\"1.0\" encoding=\"UTF-8\"");
    if (iStandalone == "yes" || iStandalone == "no")
        iOut.put(" standalone=\"" + iStandalone + "\"");
    iOut.put("?>\n");
}

void XmlRewriter::endDocument() {
    writeProlog();
    iOut.flush();
}

void XmlRewriter::fail(const std::string& message) const {
    throw DocumentError(message, iLocator ? static_cast<unsigned long long>(iLocator->getLineNumber()) : 0,
                        iLocator ? static_cast<unsigned long long>(iLocator->getColumnNumber()) : 0,
                        iLocator ? utf8(iLocator->getSystemId()) : std::string());
}

void XmlRewriter::flushBuffer() {
    const InputSettings& limits = iOptions.limits;
    if (limits.maxExpansionFactor > 0 && iOptions.inputBytes != nullptr &&
        iOut.written() / limits.maxExpansionFactor >
            *iOptions.inputBytes + limits.expansionAllowance / limits.maxExpansionFactor)
        fail(expansionMessage(limits));
    if (!iOut.flush())
        fail(std::string("cannot write the output: ") + std::strerror(errno));
}

void XmlRewriter::startDTD(const XMLCh* name, const XMLCh* publicId, const XMLCh* systemId) {
    iInDtd = true;
    // The internal subset goes: its entities are expanded and its attribute
    // defaults written out. The name and external identifiers stay; a
    // declaration with nothing else to say goes too, as the parser reports
    // none for it.
    if (systemId == nullptr || *systemId == 0)
        return;
    writeProlog();
    iOut.put("<!DOCTYPE ");
    iOut.append(name, Escape::None);
    if (publicId != nullptr && *publicId != 0) {
        iOut.put(" PUBLIC \"");
        iOut.append(publicId, Escape::None);
        iOut.put('"');
    } else {
        iOut.put(" SYSTEM");
    }
    // A system literal may hold either quote, never both.
    const char quote = xercesc::XMLString::indexOf(systemId, u'"') < 0 ? '"' : '\'';
    iOut.put(' ');
    iOut.put(quote);
    iOut.append(systemId, Escape::None);
    iOut.put(quote);
    iOut.put(">\n");
}

void XmlRewriter::endDTD() { iInDtd = false; }

void XmlRewriter::startPrefixMapping(const XMLCh* prefix, const XMLCh* uri) {
    try {
        iPolicy.declare(prefix, uri);
    } catch (const DocumentError& e) {
        fail(e.what());
    }
}

void XmlRewriter::closeStartTag() {
    if (iTagOpen) {
        iOut.put('>');
        iTagOpen = false;
    }
}

void XmlRewriter::writeName(const NamespacePolicy::Name& name) {
    if (name.asInput) {
        iOut.append(name.inputPrefix, Escape::None); // the qualified name as it came
        return;
    }
    if (!name.prefix.isEmpty()) {
        iOut.append(name.prefix, Escape::None);
        iOut.put(':');
    }
    iOut.append(name.local, Escape::None);
}

void XmlRewriter::startElement(const XMLCh* uri, const XMLCh* localname, const XMLCh* qname,
                               const xercesc::Attributes& attrs) {
    writeProlog();
    closeStartTag();
    if (++iDepth > iOptions.limits.maxDepth)
        fail("elements nest deeper than " + std::to_string(iOptions.limits.maxDepth) +
             " levels; --max-depth raises the limit");
    const std::size_t elementPrefix = prefixLength(qname);
    if (elementPrefix == 5 && xercesc::XMLString::startsWith(qname, u"xmlns"))
        fail("the element name '" + utf8(qname) + "' uses the reserved prefix 'xmlns'");

    iNames.clear();
    const bool elementHasUri = uri != nullptr && *uri != 0;
    iNames.push_back(NamespacePolicy::Name{elementHasUri ? &iPolicy.uriString(uri) : nullptr, qname, elementPrefix,
                                           true, OrvWstring(), localname});
    const XMLSize_t attributeCount = attrs.getLength();
    for (XMLSize_t i = 0; i < attributeCount; ++i) {
        const XMLCh* attributeUri = attrs.getURI(i);
        const bool hasUri = attributeUri != nullptr && *attributeUri != 0;
        const XMLCh* attributeQName = attrs.getQName(i);
        iNames.push_back(NamespacePolicy::Name{hasUri ? &iPolicy.uriString(attributeUri) : nullptr, attributeQName,
                                               prefixLength(attributeQName), false, OrvWstring(),
                                               attrs.getLocalName(i)});
    }
    iPolicy.startElement(iNames);

    iOut.put('<');
    iNameStarts.push_back(iNameArena.size());
    const std::size_t nameStart = iOut.size();
    writeName(iNames.front());
    iNameArena.append(iOut.data() + nameStart, iOut.size() - nameStart);
    for (const auto& declaration : iPolicy.declarations()) {
        if (declaration.first.isEmpty()) {
            iOut.put(" xmlns=\"");
        } else {
            iOut.put(" xmlns:");
            iOut.append(declaration.first, Escape::None);
            iOut.put("=\"");
        }
        iOut.append(declaration.second, Escape::Attribute);
        iOut.put('"');
    }
    for (XMLSize_t i = 0; i < attributeCount; ++i) {
        iOut.put(' ');
        writeName(iNames[i + 1]);
        iOut.put("=\"");
        const XMLCh* value = attrs.getValue(i);
        iOut.append(value, Escape::Attribute);
        iOut.put('"');
        warnLostPrefixes(value, xercesc::XMLString::stringLen(value));
    }
    iNames.clear();
    iTagOpen = true;
    maybeFlush();
}

void XmlRewriter::endElement(const XMLCh*, const XMLCh*, const XMLCh*) {
    const std::size_t start = iNameStarts.back();
    iNameStarts.pop_back();
    if (iTagOpen) {
        iOut.put("/>");
        iTagOpen = false;
    } else {
        iOut.put("</");
        iOut.put(iNameArena.data() + start, iNameArena.size() - start);
        iOut.put('>');
    }
    iNameArena.resize(start);
    iPolicy.endElement();
    if (--iDepth == 0)
        iOut.put('\n');
    maybeFlush();
}

void XmlRewriter::characters(const XMLCh* chars, XMLSize_t length) {
    closeStartTag();
    iOut.append(chars, length, iInCdata ? Escape::None : Escape::Text);
    warnLostPrefixes(chars, length);
    maybeFlush();
}

void XmlRewriter::ignorableWhitespace(const XMLCh* chars, XMLSize_t length) { characters(chars, length); }

void XmlRewriter::warnLostPrefixes(const XMLCh* chars, std::size_t length) {
    if (!iOptions.namespaces.prune)
        return; // every binding is kept: nothing can be lost
    iLost.clear();
    iPolicy.lostQNamePrefixes(chars, length, iLost);
    for (const std::string& prefix : iLost)
        std::fprintf(stderr,
                     "%s:%llu:%llu: warning: '%s:' in content is no longer bound in the output (--prune); "
                     "--keep-prefixes %s keeps it\n",
                     iOptions.name.c_str(), iLocator ? static_cast<unsigned long long>(iLocator->getLineNumber()) : 0,
                     iLocator ? static_cast<unsigned long long>(iLocator->getColumnNumber()) : 0, prefix.c_str(),
                     prefix.c_str());
}

void XmlRewriter::processingInstruction(const XMLCh* target, const XMLCh* data) {
    if (iInDtd)
        return;
    writeProlog();
    closeStartTag();
    iOut.put("<?");
    iOut.append(target, Escape::None);
    if (data != nullptr && *data != 0) {
        iOut.put(' ');
        iOut.append(data, Escape::None);
    }
    iOut.put("?>");
    if (iDepth == 0)
        iOut.put('\n');
}

void XmlRewriter::skippedEntity(const XMLCh* name) {
    // A parameter entity the parser did not read matters only through the
    // general entities it would have declared, which come here when used.
    if (name != nullptr && *name == u'%')
        return;
    std::string message = "the entity '" + utf8(name) + "' is not defined";
    message += iOptions.loadExternal ? " (an external declaration that could not be read was skipped)"
                                     : "; it may be declared in the external DTD subset, which --load-external reads";
    fail(message);
}

void XmlRewriter::comment(const XMLCh* chars, XMLSize_t length) {
    if (iInDtd)
        return;
    writeProlog();
    closeStartTag();
    iOut.put("<!--");
    iOut.append(chars, length, Escape::None);
    iOut.put("-->");
    if (iDepth == 0)
        iOut.put('\n');
}

void XmlRewriter::startCDATA() {
    closeStartTag();
    iOut.put("<![CDATA[");
    iInCdata = true;
}

void XmlRewriter::endCDATA() {
    iOut.put("]]>");
    iInCdata = false;
}

void XmlRewriter::fatalError(const xercesc::SAXParseException& e) { throw e; }

void XmlRewriter::error(const xercesc::SAXParseException& e) { throw e; }
