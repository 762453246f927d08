// SPDX-License-Identifier: Apache-2.0
// ParserEvents.cpp - from the parser's events to plain ones.
#include "ParserEvents.h"

#include "ChildList.h"
#include "ElementChecks.h"
#include "ParserSetup.h"
#include "PatternCheck.h"

#include <xercesc/framework/XMLElementDecl.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/validators/schema/SchemaElementDecl.hpp>
#include <xercesc/util/XMLString.hpp>

#include <type_traits>

static_assert(std::is_same<XMLCh, char16_t>::value, "the events hand on the parser's UTF-16 as char16_t");

namespace {

std::u16string_view viewOf(const XMLCh* text) {
    return text == nullptr ? std::u16string_view() : std::u16string_view(text, xercesc::XMLString::stringLen(text));
}

} // namespace

ParserEvents::ParserEvents(DocumentEvents& stage, const Limits& limits, Diagnostics& diagnostics)
    : iStage(stage), iLimits(limits), iDiagnostics(diagnostics) {}

void ParserEvents::attach(ToolReader& reader) {
    iReader = &reader;
    iWhere = &reader.where();
    iDeclaredTypes = &reader.declaredTypes();
    reader.installAdvDocHandler(this);
    reader.setLexicalHandler(this);
    reader.setErrorHandler(this);
}

void ParserEvents::place(DocumentError& failure) const { iWhere->place(failure); }

void ParserEvents::placeWarnings() { iWhere->placeWarnings(iDiagnostics); }

std::u16string_view ParserEvents::learnUri(unsigned int uriId) {
    // The parser keeps its URI texts for the whole document.
    if (uriId >= iUriTexts.size())
        iUriTexts.resize(uriId + 1, std::u16string_view(nullptr, 0));
    const XMLCh* text = iReader->getURIText(uriId);
    iUriTexts[uriId] = text != nullptr ? viewOf(text) : std::u16string_view(u"", 0);
    return iUriTexts[uriId];
}

void ParserEvents::startDocument() {
    iNameCounts.clear();
    iUriTexts.clear();
    iDepth = 0;
    iInEntity = 0;
    deliver([&] { iStage.startDocument(); });
}

void ParserEvents::endDocument() {
    deliver([&] {
        if (stillValid())
            iStage.endDocument();
    });
}

void ParserEvents::XMLDecl(const XMLCh* version, const XMLCh*, const XMLCh* standalone, const XMLCh*) {
    deliver([&] {
        if (stillValid())
            iStage.xmlDeclaration(viewOf(version), viewOf(standalone));
    });
}

void ParserEvents::startDTD(const XMLCh* name, const XMLCh* publicId, const XMLCh* systemId) {
    deliver([&] {
        if (stillValid())
            iStage.doctype(viewOf(name), viewOf(publicId), viewOf(systemId));
    });
}

void ParserEvents::startElement(const xercesc::XMLElementDecl& element, unsigned int uriId, const XMLCh* prefix,
                                const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes, XMLSize_t attributeCount,
                                bool isEmpty, bool) {
    deliver([&] {
        if (iChildren != nullptr)
            iChildren->startElement(element, isEmpty);
        const xercesc::RefVectorOf<xercesc::XMLAttr>* all = &attributes;
        XMLSize_t count = attributeCount;
        const xercesc::DTDElementDecl* dtd = nullptr;
        if (element.getObjectType() == xercesc::XMLElementDecl::Schema && iReader->sawDoctype()) {
            iRawName.clear();
            if (prefix != nullptr && *prefix != 0)
                iRawName.append(prefix).append(1, u':');
            iRawName.append(element.getBaseName());
            dtd = iReader->dtdDeclaration(iRawName.c_str());
            if (dtd != nullptr && dtd->hasAttDefs()) {
                count = withDtdDefaults(*dtd, attributes, attributeCount);
                all = &iWithDefaults;
            }
        }
        checkStartTag(iLimits, iNameCounts, iDiagnostics, ++iDepth, element, prefix, *all, count);
        if (iPatterns != nullptr)
            iPatterns->startElement(element, attributes, attributeCount, isEmpty);
        if (iValidity != nullptr)
            iValidity->enter(&element, viewOf(prefix), element.getBaseName());
        if (stillValid() && !iDiscardStartTags)
            iStage.startElement(tag(element, dtd, uriId, prefix, *all, count, attributeCount, isEmpty));
    });
    iJustStarted = iValidity != nullptr ? &element : nullptr;
    if (isEmpty) {
        --iDepth;
        if (iValidity != nullptr)
            iValidity->leave();
    }
}

XMLSize_t ParserEvents::withDtdDefaults(const xercesc::DTDElementDecl& declared,
                                        const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                                        XMLSize_t attributeCount) {
    using xercesc::XMLAttDef;
    iWithDefaults.removeAllElements();
    for (XMLSize_t i = 0; i < attributeCount; ++i)
        iWithDefaults.addElement(const_cast<xercesc::XMLAttr*>(attributes.elementAt(i)));
    xercesc::XMLAttDefList& definitions = const_cast<xercesc::DTDElementDecl&>(declared).getAttDefList();
    std::size_t added = 0;
    xercesc::XMLScanner& scanner = iReader->scanner();
    for (XMLSize_t d = 0; d < definitions.getAttDefCount(); ++d) {
        const XMLAttDef& definition = definitions.getAttDef(d);
        if (definition.getDefaultType() != XMLAttDef::Default && definition.getDefaultType() != XMLAttDef::Fixed)
            continue;
        const XMLCh* name = definition.getFullName();
        bool written = false;
        for (XMLSize_t i = 0; i < attributeCount && !written; ++i)
            written = attributes.elementAt(i)->getSpecified() &&
                      xercesc::XMLString::equals(attributes.elementAt(i)->getQName(), name);
        if (written)
            continue;
        const int colon = xercesc::XMLString::indexOf(name, xercesc::chColon);
        const bool declaration = colon < 0 ? xercesc::XMLString::equals(name, xercesc::XMLUni::fgXMLNSString)
                                           : colon == 5 && xercesc::XMLString::startsWith(name, u"xmlns:");
        const unsigned int uri = declaration ? scanner.getXMLNSNamespaceId()
                                 : colon < 0 ? scanner.getEmptyNamespaceId()
                                             : iReader->attributeUri(name);
        if (added == iDtdDefaults.size())
            iDtdDefaults.push_back(std::make_unique<xercesc::XMLAttr>(scanner.getMemoryManager()));
        xercesc::XMLAttr& attribute = *iDtdDefaults[added++];
        attribute.set(uri, name, definition.getValue(), definition.getType());
        attribute.setSpecified(false);
        iWithDefaults.addElement(&attribute);
    }
    return iWithDefaults.size();
}

const StartTag& ParserEvents::tag(const xercesc::XMLElementDecl& element, const xercesc::XMLElementDecl* dtd,
                                  unsigned int uriId, const XMLCh* prefix,
                                  const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes, XMLSize_t attributeCount,
                                  XMLSize_t fromParser, bool isEmpty) {
    StartTag& tag = iTag;
    tag.name = EventName{uriText(uriId), uriId, viewOf(prefix), {element.getElementName()->getLocalPart()}};
    tag.depth = iDepth;
    tag.isEmpty = isEmpty;
    if (iAttributes.size() < attributeCount)
        iAttributes.resize(attributeCount);
    const bool typed = iDeclaredTypes != nullptr && !iDeclaredTypes->empty();
    std::size_t count = 0;
    for (XMLSize_t i = 0; i < attributeCount; ++i) {
        const xercesc::XMLAttr& a = *attributes.elementAt(i);
        // A default a schema gives is of its validation's outcome, not of
        // the document (unlike the DTD's, which every reader applies).
        if (!a.getSpecified() && i < fromParser && element.getObjectType() == xercesc::XMLElementDecl::Schema)
            continue;
        EventAttribute& out = iAttributes[count];
        const std::u16string_view attributePrefix = viewOf(a.getPrefix());
        const unsigned int attributeUri = a.getURIId();
        out.name = EventName{uriText(attributeUri), attributeUri, attributePrefix, {a.getName()}};
        out.kind = attributePrefix.empty() ? (isXmlns(out.name.local.chars) ? EventAttribute::Kind::DefaultDeclaration
                                                                            : EventAttribute::Kind::Attribute)
                   : isXmlns(attributePrefix.data()) ? EventAttribute::Kind::PrefixDeclaration
                                                     : EventAttribute::Kind::Attribute;
        out.value = {a.getValue()};
        out.declaredId = false;
        if (typed && out.kind == EventAttribute::Kind::Attribute)
            applyDeclaredType(dtd != nullptr ? *dtd : element, a, count);
        ++count;
    }
    tag.attributes = iAttributes.data();
    tag.attributeCount = count;
    return tag;
}

void ParserEvents::applyDeclaredType(const xercesc::XMLElementDecl& declared, const xercesc::XMLAttr& attribute,
                                     std::size_t i) {
    const DeclaredType type = declaredType(*iDeclaredTypes, declared, attribute);
    if (type == DeclaredType::CData)
        return;
    if (iNormalised.size() <= i)
        iNormalised.resize(i + 1);
    EventAttribute& out = iAttributes[i];
    normaliseTokens(out.value.view(), iNormalised[i]);
    out.value = {iNormalised[i].c_str()};
    out.declaredId = type == DeclaredType::Id;
}

// The content a schema gives an element written empty is of its validation's
// outcome, not of the document: the parser hands on the declaration's own
// text right after the start tag.
bool ParserEvents::schemaDefault(const XMLCh* chars) {
    const xercesc::XMLElementDecl* element = iJustStarted;
    iJustStarted = nullptr;
    return element->getObjectType() == xercesc::XMLElementDecl::Schema &&
           chars == static_cast<const xercesc::SchemaElementDecl*>(element)->getDefaultValue();
}

void ParserEvents::endElement(const xercesc::XMLElementDecl&, unsigned int, bool, const XMLCh*) {
    iJustStarted = nullptr;
    deliver([&] {
        if (iChildren != nullptr)
            iChildren->endElement();
        if (iPatterns != nullptr)
            iPatterns->endElement();
        if (stillValid())
            iStage.endElement();
    });
    --iDepth;
    if (iValidity != nullptr)
        iValidity->leave();
}

void ParserEvents::docCharacters(const XMLCh* chars, XMLSize_t length, bool cdataSection) {
    if (iJustStarted != nullptr && schemaDefault(chars))
        return;
    if (iPatterns != nullptr)
        iPatterns->text(chars, length);
    deliver([&] {
        if (stillValid())
            iStage.text(std::u16string_view(chars, length), cdataSection, iInEntity > 0);
    });
}

void ParserEvents::ignorableWhitespace(const XMLCh* chars, XMLSize_t length, bool cdataSection) {
    docCharacters(chars, length, cdataSection);
}

void ParserEvents::docComment(const XMLCh* text) {
    deliver([&] {
        if (stillValid())
            iStage.comment(viewOf(text));
    });
}

void ParserEvents::docPI(const XMLCh* target, const XMLCh* data) {
    deliver([&] {
        if (stillValid())
            iStage.processingInstruction(viewOf(target), viewOf(data));
    });
}
