// SPDX-License-Identifier: Apache-2.0
// Limits.h - the bounds of one run, and the input count they are measured by.
#ifndef ZAQXML_LIMITS_H
#define ZAQXML_LIMITS_H

#include "InputSettings.h"

#include <cstddef>
#include <cstdint>
#include <string>

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
