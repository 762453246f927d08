// SPDX-License-Identifier: Apache-2.0
// NameCounts.cpp - an open-addressed set of keys, and the prefixes hashed
// into it.
#include "NameCounts.h"

namespace {

// Spreads a key over the table (a pointer's low bits are mostly alike).
std::size_t mix(std::uint64_t key) {
    key ^= key >> 33;
    key *= 0xff51afd7ed558ccdULL;
    key ^= key >> 33;
    return static_cast<std::size_t>(key);
}

} // namespace

bool KeySet::insert(std::uint64_t key) {
    if (key == 0)
        key = 1;
    if (2 * (iSize + 1) > iCapacity)
        grow();
    for (std::size_t at = mix(key) & (iCapacity - 1);; at = (at + 1) & (iCapacity - 1)) {
        if (iSlots[at] == key)
            return false;
        if (iSlots[at] == 0) {
            iSlots[at] = key;
            ++iSize;
            return true;
        }
    }
}

void KeySet::grow() {
    const std::size_t capacity = iCapacity == 0 ? 64 : 2 * iCapacity;
    std::unique_ptr<std::uint64_t[]> slots(new std::uint64_t[capacity]());
    for (std::size_t i = 0; i < iCapacity; ++i) {
        const std::uint64_t key = iSlots[i];
        if (key == 0)
            continue;
        std::size_t at = mix(key) & (capacity - 1);
        while (slots[at] != 0)
            at = (at + 1) & (capacity - 1);
        slots[at] = key;
    }
    iSlots = std::move(slots);
    iCapacity = capacity;
}

void KeySet::clear() {
    iSlots.reset();
    iCapacity = 0;
    iSize = 0;
}

bool NameCounts::prefix(const char16_t* prefix, std::size_t length) {
    std::uint64_t hash = 14695981039346656037ULL; // FNV-1a over the code units
    for (std::size_t i = 0; i < length; ++i) {
        hash ^= prefix[i];
        hash *= 1099511628211ULL;
    }
    return !iPrefixes.insert(hash) || (iPrefixUnits += 1 + length / UNIT) <= iMaxPrefixes;
}
