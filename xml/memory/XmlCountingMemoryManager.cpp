// SPDX-License-Identifier: Apache-2.0
// XmlCountingMemoryManager.cpp - where each request went, told by what the
// pools and buffers looked like before and after it.
#include "XmlCountingMemoryManager.h"

namespace zaq {

XmlCountingMemoryManager::XmlCountingMemoryManager(unsigned int poolSize) : OrvXmlMemoryManager(poolSize) {}

XmlCountingMemoryManager::~XmlCountingMemoryManager() = default;

void* XmlCountingMemoryManager::allocate(XMLSize_t size) {
    const bool buffer65536Busy = isBuffer65536InUse();
    const bool buffer163948Busy = isBuffer163948InUse();
    void* p = OrvXmlMemoryManager::allocate(size);
    if (size <= 2048) {
        // The first pool whose chunks are large enough is the only one tried.
        unsigned index = 0;
        for (XMLSize_t chunk = 64; chunk < size; chunk *= 2)
            ++index;
        if (getPool(index)->contains(p)) {
            ++iRequests.pool[index];
            return p;
        }
        ++iRequests.fellBack;
    } else if (size == 65536 || size == 163948) {
        const bool busyBefore = size == 65536 ? buffer65536Busy : buffer163948Busy;
        if (!busyBefore) {
            ++(size == 65536 ? iRequests.buffer65536 : iRequests.buffer163948);
            return p;
        }
        ++iRequests.fellBack;
    }
    ++iRequests.heap;
    return p;
}

const XmlCountingMemoryManager::Requests& XmlCountingMemoryManager::requests() const noexcept { return iRequests; }

void XmlCountingMemoryManager::resetRequests() noexcept { iRequests = Requests(); }

} // namespace zaq
