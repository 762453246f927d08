// SPDX-License-Identifier: Apache-2.0
// ElementChecks.h - what is checked and normalised in a start tag as the
// parser reports it: the limits, the reserved prefix, the duplicate the
// parser misses, and values of declared types.
#ifndef ZAQXML_ELEMENT_CHECKS_H
#define ZAQXML_ELEMENT_CHECKS_H

#include "DeclaredTypes.h"
#include "Diagnostics.h"
#include "Limits.h"
#include "NameCounts.h"

#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/framework/XMLElementDecl.hpp>
#include <xercesc/util/RefVectorOf.hpp>

#include <string>
#include <string_view>

/// Throws DocumentError at the parser's position when the element at
/// `depth` (1: the document element) nests too deep, has too many
/// attributes, is named with the prefix xmlns, repeats an attribute (the
/// DTD's defaults included), or brings the document's distinct element
/// names or declared prefixes, counted in `names`, past their limits.
void checkStartTag(const Limits& limits, NameCounts& names, const Diagnostics& diagnostics, unsigned long depth,
                   const xercesc::XMLElementDecl& element, const XMLCh* prefix,
                   const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes, XMLSize_t attributeCount);

/// Whether zero-terminated `text` is the prefix xmlns: mostly known at its
/// first character.
inline bool isXmlns(const char16_t* text) {
    return text[0] == u'x' && text[1] == u'm' && text[2] == u'l' && text[3] == u'n' && text[4] == u's' && text[5] == 0;
}

/// What the DTD declares of an attribute's type, as far as the output is
/// concerned.
enum class DeclaredType { CData, Tokens, Id };

/// The declared type of `attribute` of `element`: CData where the DTD
/// declares none (or CDATA); Id for ID, Tokens for the other tokenised and
/// enumerated types.
DeclaredType declaredType(const DeclaredTypes& types, const xercesc::XMLElementDecl& element,
                          const xercesc::XMLAttr& attribute);

/// `value` normalised as a tokenised type into `out`: tokens separated by
/// single spaces, none around them. Only spaces go: a tab or line end here
/// came from a reference, and is part of a token.
void normaliseTokens(std::u16string_view value, std::u16string& out);

#endif
