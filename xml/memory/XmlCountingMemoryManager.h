// SPDX-License-Identifier: Apache-2.0
// XmlCountingMemoryManager.h - the pooled memory manager, counting where each
// request went: which pool, which buffer, or the heap, and why the heap.
#ifndef ZAQPREFIXMGR_XML_COUNTING_MEMORY_MANAGER_H
#define ZAQPREFIXMGR_XML_COUNTING_MEMORY_MANAGER_H

#include "OrvXmlMemoryManager.h"
#include "ZaqPrefixMgrExport.h"

namespace zaq {

/// An OrvXmlMemoryManager that counts the requests it serves, by where they
/// were served. Hand it to a parser instead of OrvXmlMemoryManager to learn
/// whether the pool size suits the documents: requests that *fell back* to
/// the heap (a pool with no free chunk, or a buffer already handed out) are
/// what a larger pool size, or fewer documents at once, would save.
///
/// Serving is exactly OrvXmlMemoryManager's; counting adds a few comparisons
/// to each `allocate`. One thread at a time, as for the manager itself.
///
/// \code
/// zaq::XmlCountingMemoryManager memory;
/// xercesc::SAX2XMLReader* reader = xercesc::XMLReaderFactory::createXMLReader(&memory);
/// // ... parse ...
/// if (memory.requests().fellBack > 0)
///     std::fprintf(stderr, "%llu requests found their pool exhausted\n", memory.requests().fellBack);
/// \endcode
class ZAQ_PREFIXMGR_EXPORT XmlCountingMemoryManager : public OrvXmlMemoryManager {
public:
    /// Requests counted since construction or `resetRequests`.
    struct Requests {
        unsigned long long pool[6] = {};     ///< served by each pool, in ascending chunk size (64 to 2048 bytes)
        unsigned long long buffer65536 = 0;  ///< served by the 65 536-byte buffer
        unsigned long long buffer163948 = 0; ///< served by the 163 948-byte buffer
        /// Served by the heap, for whatever reason: larger than 2048 bytes
        /// and not a buffer's size, or fallen back (below).
        unsigned long long heap = 0;
        /// Of `heap`, those a pool or buffer was there for but could not
        /// serve: the pool had no free chunk, or the buffer was in use.
        unsigned long long fellBack = 0;
    };

    /// As OrvXmlMemoryManager(poolSize): N below 32 fails with "ZAQ2111".
    explicit XmlCountingMemoryManager(unsigned int poolSize = 1024);
    ~XmlCountingMemoryManager() override;

    /// OrvXmlMemoryManager::allocate, counted.
    void* allocate(XMLSize_t size) override;

    /// The counts so far.
    const Requests& requests() const noexcept;
    /// Sets every count to 0, e.g. between documents.
    void resetRequests() noexcept;

private:
    Requests iRequests;
};
} // namespace zaq

#endif
