// SPDX-License-Identifier: Apache-2.0
// MemoryStress.h - a byte-coded driver of allocate/deallocate on one memory
// manager that verifies every block, every pool counter and the high-water marks.
#ifndef ZAQ_TESTS_MEMORY_STRESS_H
#define ZAQ_TESTS_MEMORY_STRESS_H

#include "MemoryTestAccess.h"
#include "OrvXmlMemoryManager.h"

#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

/// Sizes around every boundary the manager routes on, and some large ones.
inline const std::vector<std::size_t>& stressSizes() {
    static const std::vector<std::size_t> sizes = {
        0,    1,    7,    8,    63,   64,   65,   127,   128,   129,   255,    256,    257,    511,    512,   513,
        1023, 1024, 1025, 2047, 2048, 2049, 4096, 65535, 65536, 65537, 163947, 163948, 163949, 164040, 300000};
    return sizes;
}

/// Blocks carry a running pattern at both ends (which shows a shifted or
/// overlapping write) and their seed in between.
inline void fill(std::uint8_t* bytes, std::uint8_t seed, std::size_t size) {
    if (size > 512)
        std::memset(bytes + 256, seed, size - 512);
    for (std::size_t k = 0; k < size && k < 256; ++k)
        bytes[k] = std::uint8_t(seed + k);
    for (std::size_t k = size > 256 ? size - 256 : 256; k < size; ++k)
        bytes[k] = std::uint8_t(seed + k);
}

inline bool intact(const std::uint8_t* bytes, std::uint8_t seed, std::size_t size) {
    std::uint8_t middle[4096];
    std::memset(middle, seed, sizeof middle);
    for (std::size_t k = 0; k < size && k < 256; ++k)
        if (bytes[k] != std::uint8_t(seed + k))
            return false;
    for (std::size_t k = size > 256 ? size - 256 : 256; k < size; ++k)
        if (bytes[k] != std::uint8_t(seed + k))
            return false;
    for (std::size_t k = 256; k + 256 < size; k += sizeof middle) {
        const std::size_t n = size - 256 - k < sizeof middle ? size - 256 - k : sizeof middle;
        if (std::memcmp(bytes + k, middle, n) != 0)
            return false;
    }
    return true;
}

/// Runs the calls that `data` encodes. Each live block is filled with a
/// pattern of its own, checked before it is given back; live blocks never
/// overlap; each pool's in-use count equals the test's own count of its
/// blocks there and its high-water mark the largest such count. Returns an
/// empty string, or the first problem.
inline std::string runMemoryScript(const std::uint8_t* data, std::size_t size, unsigned int poolSize = 32) {
    struct Block {
        std::size_t size;
        std::uint8_t seed;
        int pool;
    };
    auto manager = std::make_unique<OrvXmlMemoryManager>(poolSize);
    std::map<std::uintptr_t, Block> live;
    int held[6] = {};
    int highest[6] = {};
    std::uint8_t nextSeed = 1;
    const auto& sizes = stressSizes();

    auto poolOf = [&](const void* p) {
        for (unsigned i = 0; i < OrvXmlMemoryManager::getPoolCount(); ++i)
            if (manager->getPool(i)->contains(p))
                return int(i);
        return -1;
    };
    auto release = [&](std::map<std::uintptr_t, Block>::iterator it) -> std::string {
        if (!intact(reinterpret_cast<const std::uint8_t*>(it->first), it->second.seed, it->second.size))
            return "block of " + std::to_string(it->second.size) + " bytes corrupted";
        if (it->second.pool >= 0)
            --held[it->second.pool];
        manager->deallocate(reinterpret_cast<void*>(it->first));
        live.erase(it);
        return std::string();
    };
    auto countsAgree = [&]() -> std::string {
        for (unsigned i = 0; i < OrvXmlMemoryManager::getPoolCount(); ++i) {
            if (manager->getPool(i)->getNalloc() != held[i])
                return "pool " + std::to_string(i) + " counts " + std::to_string(manager->getPool(i)->getNalloc()) +
                       " chunks out, the test holds " + std::to_string(held[i]);
            if (manager->getPool(i)->getHighwater() != highest[i])
                return "pool " + std::to_string(i) + " high-water mark is wrong";
        }
        return std::string();
    };

    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t op = data[i];
        if (op < 160 || live.empty()) {
            // Allocate: a boundary size, or any size up to 4 KiB.
            std::size_t n = op < 128 ? sizes[op % sizes.size()] : (std::size_t(op) * 37 + i * 13) % 4097;
            void* p = manager->allocate(n);
            if (p == nullptr)
                return "allocate(" + std::to_string(n) + ") returned null";
            if (reinterpret_cast<std::uintptr_t>(p) % HEAP_ALIGNMENT != 0)
                return "allocate(" + std::to_string(n) + ") is misaligned";
            const auto address = reinterpret_cast<std::uintptr_t>(p);
            auto after = live.lower_bound(address);
            if (after != live.end() && after->first < address + (n ? n : 1))
                return "a block of " + std::to_string(n) + " bytes overlaps a live one";
            if (after != live.begin()) {
                auto before = std::prev(after);
                if (before->first + before->second.size > address)
                    return "a live block overlaps the new one of " + std::to_string(n) + " bytes";
            }
            const int pool = poolOf(p);
            const std::uint8_t seed = nextSeed++;
            auto* bytes = static_cast<std::uint8_t*>(p);
            fill(bytes, seed, n);
            live.emplace(address, Block{n, seed, pool});
            if (pool >= 0 && ++held[pool] > highest[pool])
                highest[pool] = held[pool];
        } else {
            // Free: a block picked by the byte; sometimes a burst of them.
            const std::size_t count = op >= 250 ? live.size() : 1;
            for (std::size_t k = 0; k < count && !live.empty(); ++k) {
                auto it = live.begin();
                std::advance(it, (op + k * 7) % live.size());
                const std::string problem = release(it);
                if (!problem.empty())
                    return problem;
            }
        }
        const std::string problem = countsAgree();
        if (!problem.empty())
            return problem;
    }
    while (!live.empty()) {
        const std::string problem = release(live.begin());
        if (!problem.empty())
            return problem;
    }
    for (unsigned i = 0; i < OrvXmlMemoryManager::getPoolCount(); ++i)
        if (manager->getPool(i)->getNalloc() != 0)
            return "pool " + std::to_string(i) + " still has chunks out at the end";
    if (manager->isBuffer65536InUse() || manager->isBuffer163948InUse())
        return "a buffer is still in use at the end";
    return std::string();
}

#endif
