// SPDX-License-Identifier: Apache-2.0
// PatternCheck.cpp - each value the parser validates, checked against the
// pattern facets taken over from it, where the parser would have checked it.
#include "PatternCheck.h"

#include "Diagnostics.h"
#include "ParserSetup.h"

#include <xercesc/framework/XMLBuffer.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/validators/common/GrammarResolver.hpp>
#include <xercesc/validators/schema/SchemaAttDef.hpp>
#include <xercesc/validators/schema/SchemaElementDecl.hpp>
#include <xercesc/validators/schema/SchemaGrammar.hpp>
#include <xercesc/validators/schema/SchemaSymbols.hpp>

using namespace xercesc;

PatternCheck::PatternCheck(PatternFacets& facets, Validity& validity, ToolReader& reader, bool loaded)
    : iFacets(facets), iValidity(validity), iReader(reader), iLoaded(loaded) {
    iFacets.useContext(reader.scanner().getValidationContext());
}

bool PatternCheck::takeOverLoaded() {
    const ValueVectorOf<SchemaGrammar*>* loaded = iReader.grammarResolver().getGrammarsToAddToXSModel();
    if (loaded == nullptr || loaded->size() == iGrammarsSeen)
        return false;
    std::vector<DatatypeValidator*> types;
    for (XMLSize_t i = iGrammarsSeen; i < loaded->size(); ++i) {
        const std::vector<DatatypeValidator*> defined = PatternFacets::definedTypes(*loaded->elementAt(i));
        types.insert(types.end(), defined.begin(), defined.end());
    }
    iGrammarsSeen = loaded->size();
    iFacets.takeOver(types);
    iChecked.clear();
    iAttributesChecked.clear();
    return true;
}

PatternCheck::~PatternCheck() { iFacets.useContext(nullptr); }

bool PatternCheck::checked(const DatatypeValidator* type) {
    if (type == nullptr)
        return false;
    const auto known = iChecked.find(type);
    if (known != iChecked.end())
        return known->second;
    const bool any = iFacets.reaches(type);
    iChecked.emplace(type, any);
    return any;
}

std::u16string_view PatternCheck::normalised(const DatatypeValidator* type, std::u16string_view value) {
    // The parser checks the value as the type's whitespace facet leaves it.
    const short whitespace = type->getWSFacet();
    if (whitespace == DatatypeValidator::PRESERVE)
        return value;
    iNormalised.clear();
    for (char16_t c : value) {
        const bool space = c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
        if (!space || whitespace == DatatypeValidator::REPLACE)
            iNormalised.push_back(space ? u' ' : c);
        else if (!iNormalised.empty() && iNormalised.back() != u' ')
            iNormalised.push_back(u' ');
    }
    if (whitespace == DatatypeValidator::COLLAPSE && !iNormalised.empty() && iNormalised.back() == u' ')
        iNormalised.pop_back();
    return iNormalised;
}

void PatternCheck::check(const DatatypeValidator* type, std::u16string_view value, bool held) {
    std::u16string_view failed;
    const std::u16string_view whole = normalised(type, value);
    const XMLCh* pattern = iFacets.mismatch(type, whole, failed);
    if (pattern == nullptr || pattern == PatternFacets::PARSERS)
        return;
    std::u16string text = u"value '" + std::u16string(failed) +
                          (pattern == PatternFacets::NO_MEMBER
                               ? std::u16string(u"' does not match any member types of the union")
                               : u"' does not match regular expression facet '" + std::u16string(pattern) + u"'");
    // The parser's messages hold at most this many code units.
    constexpr std::size_t PARSERS_LONGEST = 2047;
    if (text.size() > PARSERS_LONGEST)
        text.resize(PARSERS_LONGEST);
    std::string message = utf8(text.c_str());
    if (held && type->getType() == DatatypeValidator::Union) {
        // A union checks its members before the patterns of the types
        // restricting it: a value none takes has that error only.
        const DatatypeValidator* members = type;
        while (members->getBaseValidator() != nullptr)
            members = members->getBaseValidator();
        if (members != type && !PatternFacets::accepts(*members, whole, iFacets.contextOf(*members)))
            return;
    }
    // Whether the parser found the value broken (its patterns off), and how
    // it said so: its validator, asked again, says the same.
    std::u16string parsers;
    if (held && !PatternFacets::accepts(*type, whole, iFacets.contextOf(*type), &parsers) && !parsers.empty()) {
        iValidity.supersede(utf8(parsers.c_str()), utf8(std::u16string(whole).c_str()), std::move(message));
        return;
    }
    const ParserPosition& where = iReader.where();
    iValidity.found(message, where.line(), where.column(), where.entity(), true);
}

const DatatypeValidator* PatternCheck::attributeType(const ComplexTypeInfo* type, const XMLAttr& attribute) {
    const unsigned int uri = attribute.getURIId();
    if (type == nullptr)
        return nullptr;
    if (const SchemaAttDef* declared = type->getAttDef(attribute.getName(), static_cast<int>(uri)))
        return declared->getDatatypeValidator();
    // Through the type's wildcard, the attribute's global declaration, unless
    // the wildcard skips it.
    const SchemaAttDef* wildcard = type->getAttWildCard();
    if (wildcard == nullptr || wildcard->getDefaultType() == XMLAttDef::ProcessContents_Skip)
        return nullptr;
    bool allowed = false;
    switch (wildcard->getType()) {
    case XMLAttDef::Any_Any:
        allowed = true;
        break;
    case XMLAttDef::Any_Other:
        allowed = uri != wildcard->getAttName()->getURI() && uri != iReader.scanner().getEmptyNamespaceId();
        break;
    case XMLAttDef::Any_List: {
        const ValueVectorOf<unsigned int>* namespaces = wildcard->getNamespaceList();
        for (XMLSize_t i = 0; namespaces != nullptr && i < namespaces->size() && !allowed; ++i)
            allowed = namespaces->elementAt(i) == uri;
        break;
    }
    default:
        break;
    }
    if (!allowed)
        return nullptr;
    auto* grammar = dynamic_cast<SchemaGrammar*>(iReader.getGrammar(iReader.getURIText(uri)));
    if (grammar == nullptr || grammar->getAttributeDeclRegistry() == nullptr)
        return nullptr;
    const XMLAttDef* global = grammar->getAttributeDeclRegistry()->get(attribute.getName());
    return global != nullptr ? static_cast<const SchemaAttDef*>(global)->getDatatypeValidator() : nullptr;
}

bool PatternCheck::attributesChecked(const ComplexTypeInfo* type) {
    if (type == nullptr)
        return false;
    const auto known = iAttributesChecked.find(type);
    if (known != iAttributesChecked.end())
        return known->second;
    // Through a wildcard that does not skip, any global declaration may be
    // reached.
    const SchemaAttDef* wildcard = type->getAttWildCard();
    bool any = wildcard != nullptr && wildcard->getDefaultType() != XMLAttDef::ProcessContents_Skip;
    if (!any && type->hasAttDefs()) {
        XMLAttDefList& declared = type->getAttDefList();
        for (XMLSize_t i = 0; i < declared.getAttDefCount() && !any; ++i)
            any = checked(static_cast<const SchemaAttDef&>(declared.getAttDef(i)).getDatatypeValidator());
    }
    iAttributesChecked.emplace(type, any);
    return any;
}

bool PatternCheck::nilled(const RefVectorOf<XMLAttr>& attributes, XMLSize_t attributeCount) const {
    for (XMLSize_t i = 0; i < attributeCount; ++i) {
        const XMLAttr& attribute = *attributes.elementAt(i);
        if (!XMLString::equals(attribute.getName(), SchemaSymbols::fgATT_NILL) ||
            !XMLString::equals(iReader.getURIText(attribute.getURIId()), SchemaSymbols::fgURI_XSI))
            continue;
        XMLBuffer trimmed;
        trimmed.set(attribute.getValue());
        XMLString::trim(trimmed.getRawBuffer());
        return XMLString::equals(trimmed.getRawBuffer(), SchemaSymbols::fgATTVAL_TRUE) ||
               XMLString::equals(trimmed.getRawBuffer(), u"1");
    }
    return false;
}

void PatternCheck::startElement(const XMLElementDecl& element, const RefVectorOf<XMLAttr>& attributes,
                                XMLSize_t attributeCount, bool isEmpty) {
    // The parser does not check the value of an element of a simple type
    // that has a child (it reports the child).
    if (iDepth > 0)
        iOpen[iDepth - 1].type = nullptr;
    // The parser reads the schemas an element names before it validates
    // the element's attributes. Their patterns are taken over as it has
    // read them (`takeOverLoaded`, from the reader); read unseen, they
    // were still its own for these attributes.
    const bool attributesDone = iLoaded && takeOverLoaded();
    if (iOpen.size() == iDepth)
        iOpen.emplace_back();
    Open& open = iOpen[iDepth++];
    open.type = nullptr;
    open.constraint = nullptr;
    open.text.clear();
    if (iValidator == nullptr)
        iValidator = iReader.schemaValidator();
    if (iValidator != nullptr && element.getObjectType() == XMLElementDecl::Schema && iReader.validatingElement()) {
        const DatatypeValidator* content = iValidator->getCurrentDatatypeValidator();
        const ComplexTypeInfo* type = iValidator->getCurrentTypeInfo();
        // A declared element of neither kind of type is of anyType, whose
        // attribute wildcard takes any attribute, laxly.
        if (type == nullptr && content == nullptr && element.isDeclared())
            type = ComplexTypeInfo::getAnyType(iReader.scanner().getEmptyNamespaceId());
        if (!attributesDone && attributesChecked(type))
            for (XMLSize_t i = 0; i < attributeCount; ++i) {
                const XMLAttr& attribute = *attributes.elementAt(i);
                if (!attribute.getSpecified())
                    continue;
                // An empty value of a type the parser knows by kind (ID,
                // NMTOKEN...) is an error of its own, its facets unchecked.
                if (*attribute.getValue() == 0 && attribute.getType() != XMLAttDef::Simple &&
                    attribute.getType() != XMLAttDef::CData)
                    continue;
                const DatatypeValidator* attributeType = this->attributeType(type, attribute);
                // The parser stops at a value's first broken facet, checking
                // the pattern first: a value it found broken has its one error.
                if (checked(attributeType))
                    check(attributeType, attribute.getValue(), iValidity.foundOfValue());
            }
        const auto& declared = static_cast<const SchemaElementDecl&>(element);
        // A nilled element has no value; xsi:nil on one not nillable is an
        // error, and its content is checked as any other.
        if (checked(content) &&
            !((declared.getMiscFlags() & SchemaSymbols::XSD_NILLABLE) != 0 && nilled(attributes, attributeCount))) {
            open.type = content;
            open.constraint = declared.getDefaultValue();
            open.fixed = (declared.getMiscFlags() & SchemaSymbols::XSD_FIXED) != 0;
            // The schema's check of a default stands unless an xsi:type
            // puts another type in force.
            open.recheckDefault = content != declared.getDatatypeValidator() &&
                                  (type == nullptr || content != type->getDatatypeValidator());
        }
    }
    if (isEmpty)
        endElement(true);
}

void PatternCheck::endElement(bool empty) {
    if (iDepth == 0)
        return;
    Open& open = iOpen[--iDepth];
    // The parser stops at a value's first broken facet, checking the pattern
    // first: a value it found broken has its one error.
    if (open.type == nullptr)
        return;
    // A value checked in the parser's context (a union's QName member) is
    // checked in the scope the parser checks it in: with the element for
    // one that ended with an end tag, without it for an empty one.
    struct Scope {
        ToolReader& reader;
        int by;
        Scope(ToolReader& r, int b) : reader(r), by(b) { reader.shiftElementScope(by); }
        ~Scope() { reader.shiftElementScope(-by); }
    };
    const int by = iFacets.contextOf(*open.type) == nullptr ? 0 : empty ? -1 : 1;
    const Scope scope(iReader, by);
    if (iValidity.foundOfValue()) {
        if (open.constraint == nullptr || !open.text.empty())
            check(open.type, open.text, true);
        return;
    }
    if (open.text.empty() && open.constraint != nullptr) {
        // Empty content takes the default or fixed value, valid for the
        // declared type but checked against the type in force (xsi:type).
        if (open.recheckDefault)
            check(open.type, open.constraint);
        return;
    }
    // Content of another value than the fixed one (compared as values of
    // the type: 1.00 is 1.0) is reported as such, and the parser then checks
    // nothing more of it.
    if (open.fixed && open.constraint != nullptr) {
        const std::u16string value(normalised(open.type, open.text));
        try {
            if (const_cast<DatatypeValidator*>(open.type)->compare(value.c_str(), open.constraint) != 0)
                return;
        } catch (const XMLException&) {
            return; // not a value of the type: reported so
        }
    }
    check(open.type, open.text);
}
