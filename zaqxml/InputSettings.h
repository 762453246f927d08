// SPDX-License-Identifier: Apache-2.0
// InputSettings.h - the parser limits and entity policy of one run.
#ifndef ZAQXML_INPUT_SETTINGS_H
#define ZAQXML_INPUT_SETTINGS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
    std::vector<std::string> schemas; ///< --schema: XML Schemas every document is validated against
    bool validDtd = false;            ///< --valid: validate against the document's DTD
    bool schemaFromDocument = false;  ///< --schema-from-document: xsi:schemaLocation, local files only
    unsigned long maxErrors = 10;     ///< validity errors printed for one document
    bool trustPatterns = false;       ///< --trust-patterns: accept patterns that backtrack beyond linear time
    /// --max-validation-memory: most heap the parse may grow by while it
    /// validates (IDs and identity constraints keep every value they check,
    /// the validator an element's children until its end tag).
    std::uint64_t maxValidationMemory = std::uint64_t(256) << 20;
    /// --max-content-model: most particles in one content model the DTD
    /// declares, under --valid (the validator builds each into an
    /// automaton, recursively and in time growing with its square).
    std::size_t maxContentModel = 1000;
    /// --max-matched-value: most characters of a value the parser's own
    /// pattern matcher checks (the patterns not taken over from it, which
    /// can cost it time quadratic in the value).
    std::size_t maxMatchedValue = 4096;
    /// Whether documents are validated.
    bool validating() const { return validDtd || !schemas.empty() || schemaFromDocument; }
};

#endif
