// SPDX-License-Identifier: Apache-2.0
// DeclaredTypes.h - what the DTD declares of attribute types, handed from
// the parser's setup to the writer.
#ifndef ZAQXML_DECLARED_TYPES_H
#define ZAQXML_DECLARED_TYPES_H

#include <xercesc/framework/XMLAttDef.hpp>

#include <unordered_map>

/// The declared type of each DTD attribute whose type is not CDATA.
using DeclaredTypes = std::unordered_map<const xercesc::XMLAttDef*, xercesc::XMLAttDef::AttTypes>;

#endif
