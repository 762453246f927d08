// SPDX-License-Identifier: Apache-2.0
// InputSettings.h - the parser limits and entity policy of one run.
#ifndef ZAQXML_INPUT_SETTINGS_H
#define ZAQXML_INPUT_SETTINGS_H

#include <cstddef>
#include <cstdint>

/// The parser limits and entity policy of one run.
struct InputSettings {
    bool loadExternal = false;              ///< read the external DTD subset and entities from local files
    bool catalogs = true;                   ///< with loadExternal: resolve identifiers through XML catalogs
    bool externalRequired = false;          ///< with loadExternal: a DTD part that cannot be read fails the document
    bool wellFormednessScanner = true;      ///< read a document without a DTD with the faster scanner
    unsigned long maxDepth = 10000;         ///< deepest element nesting
    std::size_t maxAttributes = 10000;      ///< most attributes on one start tag
    std::size_t maxNames = 50000;           ///< most distinct element names in one document
    std::size_t maxPrefixes = 50000;        ///< most distinct prefixes declared in one document
    std::uint64_t maxDtdMemory = 32u << 20; ///< most bytes the parser may allocate while it reads the DTD
    std::uint64_t maxExpansionFactor = 100; ///< output bytes per input byte, beyond the allowance
    std::uint64_t expansionAllowance = 10u << 20;
};

#endif
