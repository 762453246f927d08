// SPDX-License-Identifier: Apache-2.0
// PatternFacets.h - the pattern facets the tool checks in place of the
// parser, in linear time.
#ifndef ZAQXML_PATTERN_FACETS_H
#define ZAQXML_PATTERN_FACETS_H

#include "PatternMatcher.h"

#include <xercesc/framework/XMLGrammarPool.hpp>
#include <xercesc/validators/common/Grammar.hpp>
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
/// member's own validator checking the rest, in the parser's context (a
/// QName's prefix bound). Types whose check records what it checks (ID,
/// IDREF, ENTITY) or matches the value rewritten (NOTATION) cannot be
/// checked apart from the parse: what a union of such a member reaches
/// keeps the parser's check. The built-in types' patterns
/// (language, for one) stay the parser's too.
///
/// Owned by the run, beside the grammar pool it changed; used by one
/// thread at a time.
class PatternFacets {
public:
    PatternFacets() = default;
    /// For one document, beside the run's `run` (the schemas of --schema),
    /// whose patterns it checks too: those a union of the schemas the
    /// document names needs the parser to check go back to the parser for
    /// this document only, and are taken over again as this ends.
    explicit PatternFacets(const PatternFacets* run);
    ~PatternFacets();
    PatternFacets(const PatternFacets&) = delete;
    PatternFacets& operator=(const PatternFacets&) = delete;
    /// Takes over the pattern facet of each simple type the schemas in
    /// `pool` define, but those a union reaches or whose expression has too
    /// many positions for the matcher.
    void takeOver(xercesc::XMLGrammarPool& pool);
    /// The same for `types`, defined by grammars the parser has just read
    /// (the schemas a document names): a type taken over before that a
    /// union among them needs the parser to check goes back to it.
    void takeOver(const std::vector<xercesc::DatatypeValidator*>& types);
    /// The simple types the schemas in `pool` define.
    static std::vector<xercesc::DatatypeValidator*> definedTypes(xercesc::XMLGrammarPool& pool);
    /// The simple types `grammar` defines (none for a DTD).
    static std::vector<xercesc::DatatypeValidator*> definedTypes(xercesc::Grammar& grammar);
    /// The pattern facet of `type` itself; null for none.
    static const XMLCh* pattern(const xercesc::DatatypeValidator& type);
    /// Whether the parser still checks the pattern of `type` (taken over:
    /// not).
    static bool parserChecks(const xercesc::DatatypeValidator& type);
    /// Whether the parser's own validator of `type` takes `value` (all but
    /// the patterns taken over), in `context`; what it says when not, in
    /// `message` (when given).
    static bool accepts(const xercesc::DatatypeValidator& type, std::u16string_view value,
                        xercesc::ValidationContext* context, std::u16string* message = nullptr);
    /// Whether the parser's own matcher checks a value of `type` against a
    /// pattern a schema gives (its own, its bases', its items' or its
    /// members'; the built-in types' patterns are simple and not counted).
    static bool parserMatches(const xercesc::DatatypeValidator& type);
    /// The parser's context for the document being read (null: none), in
    /// which a union's members are checked: a QName's prefix must be bound.
    void useContext(xercesc::ValidationContext* context) { iContext = context; }
    /// The context in which the parser's validator of `type` is asked
    /// again: a QName's (its prefix bound), a union's members' (they record
    /// nothing they check, else its patterns are not taken over) and a list
    /// of those, in the parser's; others in none.
    xercesc::ValidationContext* contextOf(const xercesc::DatatypeValidator& type) const;
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
    /// What `mismatch` returns for a union no member of which takes a value.
    static const XMLCh* const NO_MEMBER;
    /// What `mismatch` returns when the parser's own check of a list's item
    /// fails first: the value's error is the parser's.
    static const XMLCh* const PARSERS;
    /// Whether a pattern taken over applies to values of `type`: its own,
    /// its bases', its items' or its members'.
    bool reaches(const xercesc::DatatypeValidator* type) const;

private:
    /// Whether a member of `type` takes `value`, patterns included.
    bool chooseMember(const xercesc::UnionDatatypeValidator& type, std::u16string_view value);

    // The states all the matchers keep, together (before them: they count
    // themselves out as they go).
    PatternMatcher::Budget iBudget{std::size_t(4) << 20, 0};
    // Shared with the documents' (the run's matchers are theirs too).
    std::unordered_map<const xercesc::DatatypeValidator*, std::shared_ptr<PatternMatcher>> iMatchers;
    const PatternFacets* iRun = nullptr;
    xercesc::ValidationContext* iContext = nullptr;
    std::vector<xercesc::DatatypeValidator*> iReturned; // the run's, given back for this document
};

#endif
