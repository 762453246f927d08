// SPDX-License-Identifier: Apache-2.0
// PatternFacets.cpp - pattern facets taken over from the parser, checked on
// the values it validated.
#include "PatternFacets.h"

#include "Diagnostics.h"

#include "ParserSetup.h"

#include <xercesc/framework/XMLBuffer.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/validators/datatype/DatatypeValidatorFactory.hpp>
#include <xercesc/validators/datatype/ListDatatypeValidator.hpp>
#include <xercesc/validators/datatype/UnionDatatypeValidator.hpp>
#include <xercesc/validators/schema/SchemaAttDef.hpp>
#include <xercesc/validators/schema/SchemaElementDecl.hpp>
#include <xercesc/validators/schema/SchemaGrammar.hpp>
#include <xercesc/validators/schema/SchemaSymbols.hpp>
#include <xercesc/validators/schema/SchemaValidator.hpp>

#include <unordered_set>
#include <vector>

using namespace xercesc;

namespace {

// Which facets a type defines is private to it: an explicit instantiation
// (where access is not checked) hands out the pointer to it, to take the
// pattern's bit away. Its pattern is protected: read through a derived class.
struct FacetsOf {
    using type = int DatatypeValidator::*;
    friend type member(FacetsOf);
};
template <typename Tag, typename Tag::type Member> struct Expose {
    friend typename Tag::type member(Tag) { return Member; }
};
template struct Expose<FacetsOf, &DatatypeValidator::fFacetsDefined>;
struct PatternOf : DatatypeValidator {
    static const XMLCh* pattern(const DatatypeValidator& type) { return (type.*(&PatternOf::getPattern))(); }
};

int& facets(DatatypeValidator& type) { return type.*member(FacetsOf()); }

// Every type `type` reaches: its bases, the types of its items, its members
// and theirs.
void reachedFrom(DatatypeValidator* type, std::unordered_set<const DatatypeValidator*>& reached) {
    std::vector<DatatypeValidator*> todo{type};
    while (!todo.empty()) {
        DatatypeValidator* at = todo.back();
        todo.pop_back();
        if (at == nullptr || !reached.insert(at).second)
            continue;
        todo.push_back(at->getBaseValidator());
        if (at->getType() == DatatypeValidator::List)
            todo.push_back(static_cast<ListDatatypeValidator*>(at)->getItemTypeDTV());
        if (at->getType() == DatatypeValidator::Union) {
            const RefVectorOf<DatatypeValidator>* members =
                static_cast<UnionDatatypeValidator*>(at)->getMemberTypeValidators();
            for (XMLSize_t i = 0; members != nullptr && i < members->size(); ++i)
                todo.push_back(const_cast<DatatypeValidator*>(members->elementAt(i)));
        }
    }
}

// A union's member is chosen here by validating the value against each
// member with the parser's own validator (and the patterns taken over).
// Those of these types need the document's context to be valid (a QName's
// prefix, an ID's uniqueness, a declared entity or notation), which a
// validator called apart from the parse does not have.
bool needsContext(const DatatypeValidator& type) {
    switch (type.getType()) {
    case DatatypeValidator::QName:
    case DatatypeValidator::NOTATION:
    case DatatypeValidator::ID:
    case DatatypeValidator::IDREF:
    case DatatypeValidator::ENTITY:
        return true;
    default:
        return false;
    }
}

const XMLCh* const NO_MEMBER = u"";

} // namespace

std::vector<DatatypeValidator*> PatternFacets::definedTypes(XMLGrammarPool& pool) {
    std::vector<DatatypeValidator*> types;
    RefHashTableOfEnumerator<Grammar> grammars = pool.getGrammarEnumerator();
    while (grammars.hasMoreElements()) {
        Grammar& grammar = grammars.nextElement();
        if (grammar.getGrammarType() != Grammar::SchemaGrammarType)
            continue;
        DatatypeValidatorFactory* registry = static_cast<SchemaGrammar&>(grammar).getDatatypeRegistry();
        if (registry == nullptr || registry->getUserDefinedRegistry() == nullptr)
            continue;
        RefHashTableOfEnumerator<DatatypeValidator> defined(registry->getUserDefinedRegistry());
        while (defined.hasMoreElements())
            types.push_back(&defined.nextElement());
    }
    return types;
}

const XMLCh* PatternFacets::pattern(const DatatypeValidator& type) { return PatternOf::pattern(type); }

void PatternFacets::takeOver(XMLGrammarPool& pool) {
    const std::vector<DatatypeValidator*> types = definedTypes(pool);
    // What a union whose member choice needs the document's context
    // reaches stays the parser's, patterns and all: it chooses as it checks.
    std::unordered_set<const DatatypeValidator*> kept;
    for (DatatypeValidator* type : types) {
        if (type->getType() != DatatypeValidator::Union)
            continue;
        std::unordered_set<const DatatypeValidator*> reached;
        reachedFrom(type, reached);
        for (const DatatypeValidator* at : reached)
            if (needsContext(*at)) {
                kept.insert(reached.begin(), reached.end());
                break;
            }
    }
    for (DatatypeValidator* type : types) {
        // A NOTATION's value is matched by the parser as the namespace name
        // and local name joined, not as written.
        if ((facets(*type) & DatatypeValidator::FACET_PATTERN) == 0 || kept.count(type) != 0 ||
            type->getType() == DatatypeValidator::NOTATION || iMatchers.count(type) != 0)
            continue;
        std::unique_ptr<PatternMatcher> matcher =
            PatternMatcher::compile(reinterpret_cast<const char16_t*>(PatternOf::pattern(*type)), &iBudget);
        if (matcher == nullptr)
            continue;
        iMatchers.emplace(type, std::move(matcher));
        facets(*type) &= ~DatatypeValidator::FACET_PATTERN;
    }
}

bool PatternFacets::parserChecks(const DatatypeValidator& type) {
    return (facets(const_cast<DatatypeValidator&>(type)) & DatatypeValidator::FACET_PATTERN) != 0;
}

// As the parser checks a value: a type's base first (for a list, each item
// against the items' type; for a union, the choice of a member), then the
// type's own pattern.
const XMLCh* PatternFacets::mismatch(const DatatypeValidator* type, std::u16string_view value,
                                     std::u16string_view& failed) {
    if (type == nullptr)
        return nullptr;
    const DatatypeValidator* base = type->getBaseValidator();
    if (type->getType() == DatatypeValidator::List && (base == nullptr || base->getType() != DatatypeValidator::List)) {
        // A list made of its items' type (its base, to the parser).
        std::size_t from = 0;
        while (base != nullptr && from < value.size()) {
            std::size_t end = value.find(u' ', from);
            if (end == std::u16string_view::npos)
                end = value.size();
            if (end > from)
                if (const XMLCh* pattern = mismatch(base, value.substr(from, end - from), failed))
                    return pattern;
            from = end + 1;
        }
    } else if (type->getType() == DatatypeValidator::Union && base == nullptr) {
        if (!member(static_cast<const UnionDatatypeValidator&>(*type), value)) {
            failed = value;
            return NO_MEMBER;
        }
    } else if (const XMLCh* pattern = mismatch(base, value, failed)) {
        return pattern;
    }
    const auto found = iMatchers.find(type);
    if (found != iMatchers.end() && !found->second->matches(value)) {
        failed = value;
        return PatternOf::pattern(*type);
    }
    return nullptr;
}

// The parser takes the first member the value is valid for, patterns
// included: each member's validator checks all but the patterns taken over,
// then they are matched here.
bool PatternFacets::member(const UnionDatatypeValidator& type, std::u16string_view value) {
    if (!reaches(&type))
        return true; // the parser's choice, patterns and all
    const RefVectorOf<DatatypeValidator>* members = const_cast<UnionDatatypeValidator&>(type).getMemberTypeValidators();
    if (members == nullptr)
        return true;
    const std::u16string terminated(value);
    std::u16string_view failed;
    for (XMLSize_t i = 0; i < members->size(); ++i) {
        auto* candidate = const_cast<DatatypeValidator*>(members->elementAt(i));
        try {
            candidate->validate(terminated.c_str(), nullptr);
        } catch (const OutOfMemoryException&) {
            throw;
        } catch (const XMLException&) {
            continue;
        }
        if (mismatch(candidate, value, failed) == nullptr)
            return true;
    }
    return false;
}

bool PatternFacets::reaches(const DatatypeValidator* type) const {
    if (type == nullptr)
        return false;
    if (takenOver(type))
        return true;
    if (type->getType() == DatatypeValidator::Union && type->getBaseValidator() == nullptr) {
        const RefVectorOf<DatatypeValidator>* members =
            const_cast<UnionDatatypeValidator*>(static_cast<const UnionDatatypeValidator*>(type))
                ->getMemberTypeValidators();
        for (XMLSize_t i = 0; members != nullptr && i < members->size(); ++i)
            if (reaches(members->elementAt(i)))
                return true;
        return false;
    }
    return reaches(type->getBaseValidator());
}

PatternCheck::PatternCheck(PatternFacets& facets, Validity& validity, ToolReader& reader)
    : iFacets(facets), iValidity(validity), iReader(reader) {}

PatternCheck::~PatternCheck() = default;

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
    if (pattern == nullptr)
        return;
    std::string message = "value '" + utf8(std::u16string(failed).c_str()) +
                          (pattern == NO_MEMBER ? std::string("' does not match any member types of the union")
                                                : "' does not match regular expression facet '" + utf8(pattern) + "'");
    if (held) {
        iValidity.supersede(utf8(std::u16string(whole).c_str()), std::move(message));
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
        if (attributesChecked(type))
            for (XMLSize_t i = 0; i < attributeCount; ++i) {
                const XMLAttr& attribute = *attributes.elementAt(i);
                if (!attribute.getSpecified())
                    continue;
                const DatatypeValidator* attributeType = this->attributeType(type, attribute);
                // The parser stops at a value's first broken facet, checking
                // the pattern first: a value it found broken has its one error.
                if (checked(attributeType))
                    check(attributeType, attribute.getValue(),
                          iValidity.foundOfValue() && iValidity.foundOfValue(utf8(attribute.getValue())));
            }
        const auto& declared = static_cast<const SchemaElementDecl&>(element);
        // A nilled element has no value; xsi:nil on one not nillable is an
        // error, and its content is checked as any other.
        if (checked(content) &&
            !((declared.getMiscFlags() & SchemaSymbols::XSD_NILLABLE) != 0 && nilled(attributes, attributeCount))) {
            open.type = content;
            open.constraint = declared.getDefaultValue();
            open.fixed = (declared.getMiscFlags() & SchemaSymbols::XSD_FIXED) != 0;
        }
    }
    if (isEmpty)
        endElement();
}

void PatternCheck::endElement() {
    if (iDepth == 0)
        return;
    Open& open = iOpen[--iDepth];
    // The parser stops at a value's first broken facet, checking the pattern
    // first: a value it found broken has its one error.
    if (open.type == nullptr)
        return;
    if (iValidity.foundOfValue()) {
        if (open.constraint == nullptr || !open.text.empty())
            check(open.type, open.text, true);
        return;
    }
    if (open.text.empty() && open.constraint != nullptr) {
        // Empty content takes the default or fixed value, valid for the
        // declared type but checked against the type in force (xsi:type).
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
