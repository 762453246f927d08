// SPDX-License-Identifier: Apache-2.0
// ParserMemory.cpp - counting and bounding the parser's requests.
#include "ParserMemory.h"

#include "DocumentError.h"

#include <string>

void* ParserMemory::allocate(XMLSize_t size) {
    // UTF-16 doubles what the input's bytes become.
    if (iLimits != nullptr && !iLimits->allowsOutput(size / 2)) {
        const std::string message = iLimits->expansionMessage();
        throw iDiagnostics != nullptr ? iDiagnostics->failureHere(message) : DocumentError(message);
    }
    const bool buffer0Busy = isBuffer65536InUse();
    const bool buffer1Busy = isBuffer163948InUse();
    void* p = OrvXmlMemoryManager::allocate(size);
    if (size <= 2048 && getPool(poolIndex(size))->contains(p))
        ++iPoolRequests[poolIndex(size)];
    else if (!buffer0Busy && isBuffer65536InUse())
        ++iBufferRequests[0];
    else if (!buffer1Busy && isBuffer163948InUse())
        ++iBufferRequests[1];
    else
        ++iHeapRequests;
    return p;
}

void ParserMemory::report(std::FILE* out, const char* name) {
    std::fprintf(out, "zaqxml: %s: memory manager (pool size %u)\n", name, getPool(0)->getPoolSize());
    std::fprintf(out, "  %-7s %7s %7s %7s %10s %10s\n", "pool", "chunks", "in use", "high", "requests", "chunk size");
    for (unsigned i = 0; i < getPoolCount(); ++i) {
        const MemoryPool* pool = getPool(i);
        std::fprintf(out, "  %-7u %7u %7d %7d %10lu %10u\n", i, pool->getPoolSize(), pool->getNalloc(),
                     pool->getHighwater(), iPoolRequests[i], pool->getChunkSize());
    }
    std::fprintf(out, "  buffer 65536: %lu requests, %s\n", iBufferRequests[0],
                 isBuffer65536InUse() ? "in use" : "free");
    std::fprintf(out, "  buffer 163948: %lu requests, %s\n", iBufferRequests[1],
                 isBuffer163948InUse() ? "in use" : "free");
    std::fprintf(out, "  heap: %lu requests\n", iHeapRequests);
    for (auto& n : iPoolRequests)
        n = 0;
    iBufferRequests[0] = iBufferRequests[1] = iHeapRequests = 0;
}

unsigned ParserMemory::poolIndex(XMLSize_t size) {
    unsigned index = 0;
    for (XMLSize_t chunk = 64; chunk < size; chunk *= 2)
        ++index;
    return index;
}
