// SPDX-License-Identifier: Apache-2.0
// PatternSafety.h - whether a schema's pattern facets let a value make the
// parser's backtracking matcher take more than linear time.
#ifndef ZAQXML_PATTERN_SAFETY_H
#define ZAQXML_PATTERN_SAFETY_H

#include <xercesc/framework/XMLGrammarPool.hpp>

#include <string>

/// Why matching a value against the XML Schema regular expression `pattern`
/// can take time beyond linear in the value's length with Xerces-C's
/// matcher, which backtracks: empty when it cannot, as far as the check
/// sees. Found on the expression's position automaton:
/// - a repetition of something that matches the empty string, which the
///   matcher may repeat without end;
/// - two ways to match one string from a state back to itself
///   (exponential time: `(a|a)*`);
/// - two loops on one string with a way from the first to the second
///   (polynomial time: `.*[0-9]+`, n squared).
/// Expressions of more than a few hundred positions are not examined.
std::string backtrackingRisk(const char16_t* pattern);

/// The first pattern facet of the compiled schemas in `pool` that
/// `backtrackingRisk` finds a risk in, as "PATTERN: why"; empty for none.
std::string riskyPattern(xercesc::XMLGrammarPool& pool);

#endif
