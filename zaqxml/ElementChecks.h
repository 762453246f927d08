// SPDX-License-Identifier: Apache-2.0
// ElementChecks.h - what every handler of the parser's events checks and
// normalises in a start tag: the limits, the reserved prefix, the duplicate
// the parser misses, and values of declared types.
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

/// Throws DocumentError at the parser's position when the element at
/// `depth` (1: the document element) nests too deep, has too many
/// attributes, is named with the prefix xmlns, repeats an attribute (the
/// DTD's defaults included), or brings the document's distinct element
/// names or declared prefixes, counted in `names`, past their limits.
void checkStartTag(const Limits& limits, NameCounts& names, const Diagnostics& diagnostics, unsigned long depth,
                   const xercesc::XMLElementDecl& element, const XMLCh* prefix,
                   const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes, XMLSize_t attributeCount);

/// The value of `attribute`, normalised as its declared type says (tokens
/// separated by single spaces), in `scratch` when it changes; `types` may
/// be null.
const XMLCh* normalisedValue(const DeclaredTypes* types, const xercesc::XMLElementDecl& element,
                             const xercesc::XMLAttr& attribute, std::u16string& scratch);

/// Whether the DTD declares `attribute` of `element` of type ID.
bool declaredId(const DeclaredTypes* types, const xercesc::XMLElementDecl& element, const xercesc::XMLAttr& attribute);

/// Whether `text` is the prefix xmlns.
bool isXmlns(const XMLCh* text);

#endif
