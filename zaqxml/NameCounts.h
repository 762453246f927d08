// SPDX-License-Identifier: Apache-2.0
// NameCounts.h - the distinct element names and declared prefixes of one
// document, counted against their limits.
#ifndef ZAQXML_NAME_COUNTS_H
#define ZAQXML_NAME_COUNTS_H

#include <cstddef>
#include <cstdint>
#include <memory>

/// A set of 64-bit keys in one open-addressed table: 16 bytes a key at
/// most, a fraction of what the parser keeps for each name it has seen.
/// Keys are never 0 (0 marks a free slot; a key of 0 is stored as 1).
class KeySet {
public:
    /// Adds `key`; true when it was not there yet.
    bool insert(std::uint64_t key);
    std::size_t size() const { return iSize; }
    void clear();

private:
    void grow();

    std::unique_ptr<std::uint64_t[]> iSlots;
    std::size_t iCapacity = 0; // a power of two, or 0
    std::size_t iSize = 0;
};

/// What the parser keeps for the rest of a document grows with each
/// distinct element name (a declaration of it) and each distinct prefix
/// declared (an entry in its prefix pool, and a binding stack in the prefix
/// manager): these are counted, so that a document of endless new names
/// fails at the first one past the limit instead of taking memory without
/// bound. A long name costs more: each counts once, and once more for every
/// UNIT characters it has.
class NameCounts {
public:
    NameCounts(std::size_t maxNames, std::size_t maxPrefixes) : iMaxNames(maxNames), iMaxPrefixes(maxPrefixes) {}

    static constexpr std::size_t UNIT = 64;

    /// An element whose name the parser declared as `declaration` (one per
    /// distinct name for the document), `name` its qualified name; false
    /// once past the limit.
    bool element(const void* declaration, const char16_t* name) {
        if (!iNames.insert(reinterpret_cast<std::uintptr_t>(declaration)))
            return true;
        std::size_t length = 0;
        while (name[length] != 0)
            ++length;
        return (iNameUnits += 1 + length / UNIT) <= iMaxNames;
    }
    /// A declaration of the prefix `prefix` (UTF-16, `length` units);
    /// false once past the limit.
    bool prefix(const char16_t* prefix, std::size_t length);
    std::size_t maxNames() const { return iMaxNames; }
    std::size_t maxPrefixes() const { return iMaxPrefixes; }
    void clear() {
        iNames.clear();
        iPrefixes.clear();
        iNameUnits = iPrefixUnits = 0;
    }

private:
    std::size_t iMaxNames;
    std::size_t iMaxPrefixes;
    KeySet iNames;
    KeySet iPrefixes;
    std::size_t iNameUnits = 0;
    std::size_t iPrefixUnits = 0;
};

#endif
