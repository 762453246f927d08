// SPDX-License-Identifier: Apache-2.0
// Limits.h - the bounds of one run, and the input count they are measured by.
#ifndef ZAQXML_LIMITS_H
#define ZAQXML_LIMITS_H

#include <cstddef>
#include <cstdint>
#include <string>

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

/// One document's bounds: the input stream counts the bytes it reads here,
/// and the writer and the parser's memory ask whether what they are about
/// to produce stays within the expansion bound of that input.
class Limits {
public:
    explicit Limits(const InputSettings& settings, std::uint64_t inputBytes = 0)
        : iSettings(settings), iInputBytes(inputBytes) {}

    const InputSettings& settings() const { return iSettings; }
    /// Input bytes read so far.
    std::uint64_t inputBytes() const { return iInputBytes; }
    void addInput(std::uint64_t bytes) { iInputBytes += bytes; }
    /// Whether `bytes` of output are within --max-expansion times the input
    /// read so far, plus the allowance; a factor of 0 turns the bound off.
    bool allowsOutput(std::uint64_t bytes) const {
        const std::uint64_t factor = iSettings.maxExpansionFactor;
        return factor == 0 || bytes / factor <= iInputBytes + iSettings.expansionAllowance / factor;
    }
    /// The error of a document past the bound, naming the option and what
    /// makes an output grow so: `indenting` when --format indents it.
    std::string expansionMessage(bool indenting = false) const;

private:
    InputSettings iSettings;
    std::uint64_t iInputBytes;
};

#endif
