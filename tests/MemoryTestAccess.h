// SPDX-License-Identifier: Apache-2.0
// MemoryTestAccess.h - test-only view of pools and of the manager's buffers.
#ifndef ZAQ_TESTS_MEMORY_TEST_ACCESS_H
#define ZAQ_TESTS_MEMORY_TEST_ACCESS_H

#include "OrvXmlMemoryManager.h"

#include <cstddef>
#include <cstring>
#include <vector>

/// The alignment the platform's heap gives and the manager matches: that of
/// std::max_align_t, except under the 32-bit Windows C runtime, whose malloc
/// (and with it operator new) gives 8 bytes, while mingw-w64's max_align_t
/// says 16 when GCC's <stddef.h> came first.
#if defined(_WIN32) && !defined(_WIN64)
constexpr std::size_t HEAP_ALIGNMENT = 8;
#else
constexpr std::size_t HEAP_ALIGNMENT = alignof(std::max_align_t);
#endif

struct MemoryPoolTestAccess {
    using Pool = OrvXmlMemoryManager::MemoryPool;
    static unsigned char* start(const Pool& p) { return p.iStart; }
    static unsigned char* last(const Pool& p) { return p.iLast; }
    static unsigned int stride(const Pool& p) { return p.stride(); }
    /// Chunk indices on the free list, head first.
    static std::vector<long> freeList(const Pool& p) {
        std::vector<long> out;
        for (unsigned char* c = p.iFreeList; c != nullptr;) {
            out.push_back((c - p.iStart) / long(p.stride()));
            unsigned char* next;
            std::memcpy(&next, c, sizeof next);
            c = next;
        }
        return out;
    }
};

struct OrvXmlMemoryManagerTestAccess {
    static const void* buffer65536(const OrvXmlMemoryManager& m) { return m.iBuffer65536; }
    static const void* buffer163948(const OrvXmlMemoryManager& m) { return m.iBuffer163948; }
};

#endif
