// SPDX-License-Identifier: Apache-2.0
// ParserMemory.cpp - bounding the parser's requests, and printing their counts.
#include "ParserMemory.h"

#include "DocumentError.h"

#include <algorithm>
#include <cstddef>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#define ZAQXML_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZAQXML_ASAN 1
#endif
#endif
#if defined(ZAQXML_ASAN)
// The sanitizer's allocator stands in for the C library's; its runtime
// answers this (sanitizer/allocator_interface.h, not always installed).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#define ZAQXML_HEAP_IN_USE 1
#elif defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
#include <malloc.h>
#define ZAQXML_HEAP_IN_USE 1
#endif

namespace {

constexpr std::size_t BLOCK_OVERHEAD = 80;
constexpr unsigned MEASURE_EVERY = 4096;

// The bytes the C library's heap has handed out and not taken back, the
// large blocks it maps one by one included.
std::uint64_t heapInUse() {
#if defined(ZAQXML_ASAN)
    return __sanitizer_get_current_allocated_bytes();
#elif defined(ZAQXML_HEAP_IN_USE)
    const struct mallinfo2 heap = mallinfo2();
    return heap.uordblks + heap.hblkhd;
#else
    return 0;
#endif
}

} // namespace

void ParserMemory::boundGrowth(std::uint64_t bytes) {
#ifdef ZAQXML_HEAP_IN_USE
    iGrowthBound = bytes;
    iOverGrown = false;
    if (bytes != 0) {
        iHeapAtStart = heapInUse();
        iGrowthPeak = 0;
    }
    iUntilMeasure = MEASURE_EVERY;
#else
    (void)bytes;
#endif
}

std::string ParserMemory::growthMessage() const {
    return "validating the document holds more than " + std::to_string(iGrowthBound >> 20) +
           " MiB (the values of its IDs and identity constraints and an element's text are kept until "
           "checked); --max-validation-memory raises the limit";
}

DocumentError ParserMemory::failure(const std::string& message) const {
    if (iDiagnostics == nullptr)
        return DocumentError(message);
    DocumentError failure = iDiagnostics->failureHere(message);
    if (iWhere != nullptr)
        iWhere->place(failure);
    return failure;
}

void* ParserMemory::allocate(XMLSize_t size) {
    // Measured every few thousand requests, and at once for a large one (a
    // buffer doubling as it takes one long value is a rare request).
    if (iGrowthBound != 0 && (--iUntilMeasure == 0 || size >= (std::size_t(1) << 20))) {
        iUntilMeasure = MEASURE_EVERY;
        const std::uint64_t now = heapInUse();
        if (now > iHeapAtStart)
            iGrowthPeak = std::max(iGrowthPeak, now - iHeapAtStart);
        // The parser is not safe to stop in the middle of any request:
        // the next event stops it (ParserEvents asks overGrown).
        iOverGrown = iOverGrown || (now > iHeapAtStart && now - iHeapAtStart > iGrowthBound);
    }
    // UTF-16 doubles what the input's bytes become.
    if (iLimits != nullptr && !iLimits->allowsOutput(size / 2)) {
        const std::string message = iLimits->expansionMessage();
        throw failure(message);
    }
    // Each block is charged what keeping it takes besides its bytes: the
    // heap's own overhead and its entry in iDtdBlocks.
    const std::size_t charged = size + BLOCK_OVERHEAD;
    if (iCountingDtd && iLimits != nullptr && iDtdBytes + charged > iLimits->settings().maxDtdMemory) {
        countDtd(false); // the error's own allocations are not the DTD's
        const std::string message = "the DTD takes more than " +
                                    std::to_string(iLimits->settings().maxDtdMemory >> 20) +
                                    " MiB of the parser's memory; --max-dtd-memory raises the limit";
        throw failure(message);
    }
    void* block = iCounting ? zaq::XmlCountingMemoryManager::allocate(size) : OrvXmlMemoryManager::allocate(size);
    if (iCountingDtd) {
        try {
            iDtdBlocks.emplace(block, charged);
        } catch (...) {
            zaq::XmlCountingMemoryManager::deallocate(block);
            throw;
        }
        iDtdBytes += charged;
    }
    return block;
}

void ParserMemory::deallocate(void* p) {
    if (!iDtdBlocks.empty()) {
        const auto found = iDtdBlocks.find(p);
        if (found != iDtdBlocks.end()) {
            iDtdBytes -= found->second;
            iDtdBlocks.erase(found);
        }
    }
    zaq::XmlCountingMemoryManager::deallocate(p);
}

void ParserMemory::report(std::FILE* out, const char* name) {
    const Requests& counted = requests();
    std::fprintf(out, "zaqxml: %s: memory manager (pool size %u)\n", name, getPool(0)->getPoolSize());
    std::fprintf(out, "  %-7s %7s %7s %7s %10s %10s\n", "pool", "chunks", "in use", "high", "requests", "chunk size");
    for (unsigned i = 0; i < getPoolCount(); ++i) {
        const MemoryPool* pool = getPool(i);
        std::fprintf(out, "  %-7u %7u %7d %7d %10llu %10u\n", i, pool->getPoolSize(), pool->getNalloc(),
                     pool->getHighwater(), counted.pool[i], pool->getChunkSize());
    }
    std::fprintf(out, "  buffer 65536: %llu requests, %s\n", counted.buffer65536,
                 isBuffer65536InUse() ? "in use" : "free");
    std::fprintf(out, "  buffer 163948: %llu requests, %s\n", counted.buffer163948,
                 isBuffer163948InUse() ? "in use" : "free");
    std::fprintf(out, "  heap: %llu requests (%llu with their pool exhausted or buffer in use)\n", counted.heap,
                 counted.fellBack);
    resetRequests();
}
