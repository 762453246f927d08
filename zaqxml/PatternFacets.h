// SPDX-License-Identifier: Apache-2.0
// PatternFacets.h - the pattern facets the tool checks in place of the
// parser, in linear time, and the handler that checks each value.
#ifndef ZAQXML_PATTERN_FACETS_H
#define ZAQXML_PATTERN_FACETS_H

#include "PatternMatcher.h"
#include "Validity.h"

#include <xercesc/framework/XMLGrammarPool.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/framework/XMLElementDecl.hpp>
#include <xercesc/util/RefVectorOf.hpp>
#include <xercesc/validators/schema/ComplexTypeInfo.hpp>
#include <xercesc/validators/schema/SchemaValidator.hpp>
#include <xercesc/validators/datatype/DatatypeValidator.hpp>
#include <xercesc/validators/datatype/UnionDatatypeValidator.hpp>

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

/// Xerces-C's matcher backtracks: some patterns cost it time exponential or
/// polynomial in a value (PatternSafety refuses those), and even a simple
/// one as `(ab)*` costs it time quadratic in the value and a stack frame a
/// character. So the pattern facets of a run's compiled schemas are checked
/// by PatternMatcher instead, in linear time: `takeOver` switches the
/// parser's check off type by type, and PatternCheck checks the values the
/// parser validates.
///
/// A union takes the first member a value is valid for, patterns included:
/// with its members' patterns taken over, the member is chosen here, each
/// member's own validator checking the rest. Types a union reaches that
/// need the document's context to be checked (QName, NOTATION, ID, IDREF,
/// ENTITY) cannot be checked apart from the parse: what such a union
/// reaches keeps the parser's check. The built-in types' patterns
/// (language, for one) stay the parser's too.
///
/// Owned by the run, beside the grammar pool it changed; used by one
/// thread at a time.
class PatternFacets {
public:
    /// Takes over the pattern facet of each simple type the schemas in
    /// `pool` define, but those a union reaches or whose expression has too
    /// many positions for the matcher.
    void takeOver(xercesc::XMLGrammarPool& pool);
    /// The simple types the schemas in `pool` define.
    static std::vector<xercesc::DatatypeValidator*> definedTypes(xercesc::XMLGrammarPool& pool);
    /// The pattern facet of `type` itself; null for none.
    static const XMLCh* pattern(const xercesc::DatatypeValidator& type);
    /// Whether the parser still checks the pattern of `type` (taken over:
    /// not).
    static bool parserChecks(const xercesc::DatatypeValidator& type);
    bool empty() const { return iMatchers.empty(); }
    std::size_t size() const { return iMatchers.size(); }
    /// A pattern taken over, of `type`, its bases or (for a list) its items'
    /// type, that `value` (as the type's whitespace facet normalises it)
    /// does not match, with the value or item that does not; null when it
    /// matches them all. For a union whose members' patterns are taken
    /// over, the member is chosen here: an empty string (not a pattern)
    /// when no member takes the value.
    const XMLCh* mismatch(const xercesc::DatatypeValidator* type, std::u16string_view value,
                          std::u16string_view& failed);
    /// Whether `type` has a pattern taken over (its bases not looked at).
    bool takenOver(const xercesc::DatatypeValidator* type) const { return iMatchers.count(type) != 0; }
    /// Whether a pattern taken over applies to values of `type`: its own,
    /// its bases', its items' or its members'.
    bool reaches(const xercesc::DatatypeValidator* type) const;

private:
    bool member(const xercesc::UnionDatatypeValidator& type, std::u16string_view value);

    // The states all the matchers keep, together (before them: they count
    // themselves out as they go).
    PatternMatcher::Budget iBudget{std::size_t(4) << 20, 0};
    std::unordered_map<const xercesc::DatatypeValidator*, std::unique_ptr<PatternMatcher>> iMatchers;
};

class ToolReader;

/// Checks the values the parser validates against the patterns taken over
/// from it, as ParserEvents hands on each start tag and element end: a
/// mismatch is a validity error in `validity`, at the event's position,
/// worded as the parser words its own. It finds each value's type as the
/// parser does: an element's type from the schema validator as the element
/// starts (an xsi:type included), an attribute's from that type's
/// declarations or, through its wildcard, from a global declaration; an
/// element the parser does not validate (a skip wildcard's) is not checked.
/// An element's text is kept while it is open, as the parser keeps it.
class PatternCheck {
public:
    PatternCheck(PatternFacets& facets, Validity& validity, ToolReader& reader);
    ~PatternCheck();
    void startElement(const xercesc::XMLElementDecl& element, const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                      XMLSize_t attributeCount, bool isEmpty);
    void text(const XMLCh* chars, XMLSize_t length) {
        if (iDepth > 0 && iOpen[iDepth - 1].type != nullptr)
            iOpen[iDepth - 1].text.append(chars, length);
    }
    void endElement();

private:
    struct Open {
        const xercesc::DatatypeValidator* type = nullptr; // null: its text is not checked
        const XMLCh* constraint = nullptr;                // its default or fixed value
        bool fixed = false;
        std::u16string text;
    };
    const xercesc::DatatypeValidator* attributeType(const xercesc::ComplexTypeInfo* type,
                                                    const xercesc::XMLAttr& attribute);
    /// Whether `type` or a type it is made from has a pattern taken over.
    bool checked(const xercesc::DatatypeValidator* type);
    /// Whether an attribute of an element of `type` may have such a type.
    bool attributesChecked(const xercesc::ComplexTypeInfo* type);
    /// Whether xsi:nil is true among `attributes`.
    bool nilled(const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes, XMLSize_t attributeCount) const;
    /// Reports `value` if it breaks `type`'s patterns. `held`: the parser
    /// already holds an error of this value, of a facet it checks after
    /// the pattern: that error then becomes the pattern's, as the parser
    /// would have said it.
    void check(const xercesc::DatatypeValidator* type, std::u16string_view value, bool held = false);
    /// `value` as `type`'s whitespace facet leaves it (in iNormalised, or itself).
    std::u16string_view normalised(const xercesc::DatatypeValidator* type, std::u16string_view value);
    PatternFacets& iFacets;
    Validity& iValidity;
    ToolReader& iReader;
    xercesc::SchemaValidator* iValidator = nullptr; // the reader's, once it has one
    std::vector<Open> iOpen;                        // one an open element, the deeper ones kept for reuse
    std::size_t iDepth = 0;
    std::unordered_map<const xercesc::DatatypeValidator*, bool> iChecked;
    std::unordered_map<const xercesc::ComplexTypeInfo*, bool> iAttributesChecked;
    std::u16string iNormalised;
};

#endif
