// SPDX-License-Identifier: Apache-2.0
// PatternCheck.h - checks each value the parser validates against the
// pattern facets taken over from it.
#ifndef ZAQXML_PATTERN_CHECK_H
#define ZAQXML_PATTERN_CHECK_H

#include "PatternFacets.h"
#include "Validity.h"

#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/framework/XMLElementDecl.hpp>
#include <xercesc/util/RefVectorOf.hpp>
#include <xercesc/validators/schema/ComplexTypeInfo.hpp>
#include <xercesc/validators/schema/SchemaValidator.hpp>

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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
    /// `loaded`: the parser reads the schemas the document names as it
    /// goes; their patterns are taken over into `facets` as they come.
    PatternCheck(PatternFacets& facets, Validity& validity, ToolReader& reader, bool loaded = false);
    ~PatternCheck();
    void startElement(const xercesc::XMLElementDecl& element, const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                      XMLSize_t attributeCount, bool isEmpty);
    void text(const XMLCh* chars, XMLSize_t length) {
        if (iDepth > 0 && iOpen[iDepth - 1].type != nullptr)
            iOpen[iDepth - 1].text.append(chars, length);
    }
    /// At the element's end tag; `empty`: an empty element, ended as it
    /// starts.
    void endElement(bool empty = false);
    /// Takes over the patterns of the grammars the parser read since the
    /// last call; whether there were any. Called as the parser has read
    /// them (ToolReader::onSchemasRead), before it validates by them, and
    /// at each start tag.
    bool takeOverLoaded();

private:
    struct Open {
        const xercesc::DatatypeValidator* type = nullptr; // null: its text is not checked
        const XMLCh* constraint = nullptr;                // its default or fixed value
        bool fixed = false;
        bool recheckDefault = false; // an xsi:type puts another type in force
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
    bool iLoaded = false;
    std::size_t iGrammarsSeen = 0; // of those the parser read
    std::unordered_map<const xercesc::DatatypeValidator*, bool> iChecked;
    std::unordered_map<const xercesc::ComplexTypeInfo*, bool> iAttributesChecked;
    std::u16string iNormalised;
};

#endif
