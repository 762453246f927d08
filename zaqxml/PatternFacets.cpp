// SPDX-License-Identifier: Apache-2.0
// PatternFacets.cpp - pattern facets taken over from the parser, and the
// choice of a union's member they decide.
#include "PatternFacets.h"

#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/validators/datatype/DatatypeValidatorFactory.hpp>
#include <xercesc/validators/datatype/ListDatatypeValidator.hpp>
#include <xercesc/validators/datatype/UnionDatatypeValidator.hpp>
#include <xercesc/validators/schema/SchemaGrammar.hpp>
#include <xercesc/validators/schema/SchemaSymbols.hpp>

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
const RefVectorOf<DatatypeValidator>* membersOf(const DatatypeValidator& type) {
    if (type.getType() != DatatypeValidator::Union)
        return nullptr;
    return const_cast<UnionDatatypeValidator&>(static_cast<const UnionDatatypeValidator&>(type))
        .getMemberTypeValidators();
}

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
        const RefVectorOf<DatatypeValidator>* members = membersOf(*at);
        for (XMLSize_t i = 0; members != nullptr && i < members->size(); ++i)
            todo.push_back(const_cast<DatatypeValidator*>(members->elementAt(i)));
    }
}

// A union's member is chosen here by validating the value against each
// member with the parser's own validator (and the patterns taken over).
// Those of these types need the document's context to be valid (a QName's
// prefix, an ID's uniqueness, a declared entity or notation), which a
// validator called apart from the parse does not have.
// A QName's member is checked here in the parser's own context (the prefixes
// in scope are looked up, nothing is recorded); the others record what they
// check (an ID, a reference) or match as the parser rewrites them (a
// NOTATION's expanded name).
bool needsContext(const DatatypeValidator& type) {
    switch (type.getType()) {
    case DatatypeValidator::NOTATION:
    case DatatypeValidator::ID:
    case DatatypeValidator::IDREF:
    case DatatypeValidator::ENTITY:
        return true;
    default:
        return false;
    }
}

} // namespace

// Two objects, told apart by address (equal literals may share one).
namespace {
const XMLCh noMember[1] = {0};
const XMLCh parsers[1] = {0};
} // namespace
const XMLCh* const PatternFacets::NO_MEMBER = noMember;
const XMLCh* const PatternFacets::PARSERS = parsers;

std::vector<DatatypeValidator*> PatternFacets::definedTypes(XMLGrammarPool& pool) {
    std::vector<DatatypeValidator*> types;
    RefHashTableOfEnumerator<Grammar> grammars = pool.getGrammarEnumerator();
    while (grammars.hasMoreElements()) {
        const std::vector<DatatypeValidator*> defined = definedTypes(grammars.nextElement());
        types.insert(types.end(), defined.begin(), defined.end());
    }
    return types;
}

std::vector<DatatypeValidator*> PatternFacets::definedTypes(Grammar& grammar) {
    std::vector<DatatypeValidator*> types;
    if (grammar.getGrammarType() != Grammar::SchemaGrammarType)
        return types;
    DatatypeValidatorFactory* registry = static_cast<SchemaGrammar&>(grammar).getDatatypeRegistry();
    if (registry == nullptr || registry->getUserDefinedRegistry() == nullptr)
        return types;
    RefHashTableOfEnumerator<DatatypeValidator> defined(registry->getUserDefinedRegistry());
    while (defined.hasMoreElements())
        types.push_back(&defined.nextElement());
    return types;
}

const XMLCh* PatternFacets::pattern(const DatatypeValidator& type) { return PatternOf::pattern(type); }

PatternFacets::PatternFacets(const PatternFacets* run) : iRun(run) {
    if (run != nullptr)
        iMatchers = run->iMatchers;
}

PatternFacets::~PatternFacets() {
    for (DatatypeValidator* type : iReturned)
        facets(*type) &= ~DatatypeValidator::FACET_PATTERN;
}

void PatternFacets::takeOver(XMLGrammarPool& pool) { takeOver(definedTypes(pool)); }

void PatternFacets::takeOver(const std::vector<DatatypeValidator*>& types) {
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
    // Types taken over with grammars read before (the schemas a document
    // names, read as it goes) that such a union now reaches go back to the
    // parser.
    for (const DatatypeValidator* type : kept) {
        const auto taken = iMatchers.find(type);
        if (taken != iMatchers.end()) {
            facets(*const_cast<DatatypeValidator*>(type)) |= DatatypeValidator::FACET_PATTERN;
            iMatchers.erase(taken);
            if (iRun != nullptr && iRun->takenOver(type))
                iReturned.push_back(const_cast<DatatypeValidator*>(type));
        }
    }
    for (DatatypeValidator* type : types) {
        // A NOTATION's value is matched by the parser as the namespace name
        // and local name joined, not as written.
        if ((facets(*type) & DatatypeValidator::FACET_PATTERN) == 0 || kept.count(type) != 0 ||
            type->getType() == DatatypeValidator::NOTATION || iMatchers.count(type) != 0)
            continue;
        std::shared_ptr<PatternMatcher> matcher =
            PatternMatcher::compile(reinterpret_cast<const char16_t*>(PatternOf::pattern(*type)), &iBudget);
        if (matcher == nullptr)
            continue;
        iMatchers.emplace(type, std::move(matcher));
        facets(*type) &= ~DatatypeValidator::FACET_PATTERN;
    }
}

bool PatternFacets::accepts(const DatatypeValidator& type, std::u16string_view value, ValidationContext* context,
                            std::u16string* message) {
    try {
        const std::u16string terminated(value);
        const_cast<DatatypeValidator&>(type).validate(terminated.c_str(), context);
        return true;
    } catch (const OutOfMemoryException&) {
        throw;
    } catch (const XMLException& e) {
        if (message != nullptr)
            *message = e.getMessage();
        return false;
    }
}

bool PatternFacets::parserMatches(const DatatypeValidator& type) {
    for (const DatatypeValidator* at = &type; at != nullptr; at = at->getBaseValidator()) {
        if (XMLString::equals(at->getTypeUri(), SchemaSymbols::fgURI_SCHEMAFORSCHEMA))
            return false; // a built-in type, and so are its bases
        if (pattern(*at) != nullptr && parserChecks(*at))
            return true;
        const RefVectorOf<DatatypeValidator>* members = at->getBaseValidator() == nullptr ? membersOf(*at) : nullptr;
        for (XMLSize_t i = 0; members != nullptr && i < members->size(); ++i)
            if (parserMatches(*members->elementAt(i)))
                return true;
    }
    return false;
}

ValidationContext* PatternFacets::contextOf(const DatatypeValidator& type) const {
    switch (type.getType()) {
    case DatatypeValidator::QName:
    case DatatypeValidator::Union:
        return iContext;
    case DatatypeValidator::List: {
        // A list is made of its items' type (its base, to the parser), or
        // restricts another list.
        const DatatypeValidator* base = type.getBaseValidator();
        return base != nullptr ? contextOf(*base) : nullptr;
    }
    default:
        return nullptr;
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
            if (end > from) {
                const std::u16string_view item = value.substr(from, end - from);
                if (const XMLCh* pattern = mismatch(base, item, failed))
                    return pattern;
                // An item is checked whole (its other facets too) before the
                // list's own pattern: an item the parser found broken is the
                // value's first error.
                if (!accepts(*base, item, contextOf(*base)))
                    return PARSERS;
            }
            from = end + 1;
        }
    } else if (type->getType() == DatatypeValidator::Union && base == nullptr) {
        if (!chooseMember(static_cast<const UnionDatatypeValidator&>(*type), value)) {
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
bool PatternFacets::chooseMember(const UnionDatatypeValidator& type, std::u16string_view value) {
    if (!reaches(&type))
        return true; // the parser's choice, patterns and all
    const RefVectorOf<DatatypeValidator>* members = membersOf(type);
    if (members == nullptr)
        return true;
    std::u16string_view failed;
    for (XMLSize_t i = 0; i < members->size(); ++i) {
        const DatatypeValidator* candidate = members->elementAt(i);
        if (accepts(*candidate, value, iContext) && mismatch(candidate, value, failed) == nullptr)
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
        const RefVectorOf<DatatypeValidator>* members = membersOf(*type);
        for (XMLSize_t i = 0; members != nullptr && i < members->size(); ++i)
            if (reaches(members->elementAt(i)))
                return true;
        return false;
    }
    return reaches(type->getBaseValidator());
}
