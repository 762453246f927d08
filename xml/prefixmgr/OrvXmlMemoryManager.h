// SPDX-License-Identifier: Apache-2.0
// OrvXmlMemoryManager.h - pooled memory manager for the Xerces-C parser.
#ifndef ZAQPREFIXMGR_ORV_XML_MEMORY_MANAGER_H
#define ZAQPREFIXMGR_ORV_XML_MEMORY_MANAGER_H

#include "ZaqPrefixMgrExport.h"

#include "OrvWstring.h"

#include <xercesc/framework/MemoryManager.hpp>

#include <cstddef>

/// The memory manager handed to the XML parser. Requests of up to 2048
/// bytes come from six fixed-chunk pools (64 to 2048 bytes), requests of
/// exactly 65536 and 163948 bytes from two buffers inside the object, one
/// holder each at a time, and everything else, or whatever finds its pool
/// exhausted or its buffer busy, from the heap for exactly its size.
///
/// **Ownership.** The caller owns the manager; it owns its pools and buffers.
/// Memory it hands out goes back through `deallocate` of the same manager,
/// and pooled or buffered memory before the manager is destroyed (destroy
/// the parser first). The object holds 229 484 bytes of buffers: create it
/// on the heap.
///
/// **Threads.** One thread at a time: give each parser thread its own manager.
///
/// **Failures.** The constructor throws OrvFatalException "ZAQ2111" for a pool
/// size below 32 and std::bad_alloc when the pools' blocks cannot be had;
/// `allocate` throws std::bad_alloc when the heap is exhausted. Nothing is
/// checked on `deallocate`: a pointer from elsewhere is undefined behaviour.
///
/// **Settings.** The static getters publish four setting names
/// (`getMemoryManagerPoolSize` "MemoryManagerPoolSize",
/// `getMemoryManagerChunkSize0` to `2` "MemoryManagerChunkSize0" to "2") and
/// their defaults (`getDefaultPoolSize` 1024, `getDefaultChunkSize0` to `2`
/// 24, 64 and 512) for a caller's configuration. The library reads none of
/// these settings: only the pool size reaches a manager, as its constructor's
/// argument, and the chunk sizes stay 64 to 2048 whatever the chunk-size
/// defaults say.
class ZAQ_PREFIXMGR_EXPORT OrvXmlMemoryManager : public xercesc::MemoryManager {
public:
    /// A fixed-size chunk allocator over one heap block: constant-time
    /// `allocate`/`deallocate` through a free list threaded in the free
    /// chunks' first word, heap fallback when exhausted, and statistics.
    /// It keeps no record of which chunks are out. One thread at a time.
    /// Owns its block, freed by the destructor; heap fallbacks are the
    /// caller's to free.
    class ZAQ_PREFIXMGR_EXPORT MemoryPool {
    public:
        /// Throws OrvFatalException "ZAQ2111" for a pool size of 0 and
        /// "ZAQ2112" for a chunk size below 4; std::bad_alloc when the block
        /// size does not fit in memory's size type or cannot be had.
        MemoryPool(unsigned int poolSize, unsigned int chunkSize);
        ~MemoryPool();
        MemoryPool(const MemoryPool&) = delete;
        MemoryPool& operator=(const MemoryPool&) = delete;

        /// A free chunk, or a heap block of exactly `size` bytes when none is free.
        void* allocate(unsigned int size);
        /// Takes back a chunk of this pool that is out; nothing is checked.
        void deallocate(void* p);
        /// Whether `p` lies between the first and the final chunk's start.
        bool contains(const void* p) const noexcept;

        // Out of line, like every public operation of the exported classes,
        // so that each one is in the library's symbol table.
        /// The number of chunks.
        unsigned int getPoolSize() const noexcept;
        /// The usable bytes of a chunk, as given, before rounding up to a multiple of 8.
        unsigned int getChunkSize() const noexcept;
        /// Kept for the statistics record's layout: always 0, nothing counts in it.
        int getTalloc() const noexcept;
        /// Chunks handed out from the free list and not yet given back (heap fallbacks not counted).
        int getNalloc() const noexcept;
        /// The most chunks out at once since construction or `setHighwater`.
        int getHighwater() const noexcept;
        /// Restarts the high-water mark, e.g. at 0 between documents.
        void setHighwater(int value) noexcept;

    private:
        friend struct MemoryPoolTestAccess; // tests inspect the free list

        unsigned int stride() const noexcept { return (iChunkSize + 7u) & ~7u; }
        static void CompileTimeSizeofCheck();

        unsigned int iPoolSize;
        unsigned int iChunkSize;
        int iTalloc;
        int iNalloc;
        int iHighwater;
        unsigned char* iStart;
        unsigned char* iLast;
        unsigned char* iFreeList;
    };

    /// Builds the six pools from `poolSize` (N chunks of 64 bytes, N / 32 of
    /// each larger size); N below 32 fails with "ZAQ2111".
    explicit OrvXmlMemoryManager(unsigned int poolSize = 1024);
    ~OrvXmlMemoryManager() override;
    OrvXmlMemoryManager(const OrvXmlMemoryManager&) = delete;
    OrvXmlMemoryManager& operator=(const OrvXmlMemoryManager&) = delete;

    /// `size` bytes from a pool, a buffer or the heap; std::bad_alloc when
    /// the heap is exhausted.
    void* allocate(XMLSize_t size) override;
    /// Takes back memory from `allocate` of this manager; null is ignored.
    void deallocate(void* p) override;
    /// The parser's global manager: exceptions may outlive this one.
    xercesc::MemoryManager* getExceptionMemoryManager() override;

    /// The default of the setting "MemoryManagerPoolSize": 1024.
    static int getDefaultPoolSize();
    /// The default of the setting "MemoryManagerChunkSize0": 24 (not used by the manager).
    static int getDefaultChunkSize0();
    /// The default of the setting "MemoryManagerChunkSize1": 64 (not used by the manager).
    static int getDefaultChunkSize1();
    /// The default of the setting "MemoryManagerChunkSize2": 512 (not used by the manager).
    static int getDefaultChunkSize2();
    /// The name of the pool size setting, "MemoryManagerPoolSize".
    static OrvWstring getMemoryManagerPoolSize();
    /// The name of the first chunk size setting, "MemoryManagerChunkSize0".
    static OrvWstring getMemoryManagerChunkSize0();
    /// The name of the second chunk size setting, "MemoryManagerChunkSize1".
    static OrvWstring getMemoryManagerChunkSize1();
    /// The name of the third chunk size setting, "MemoryManagerChunkSize2".
    static OrvWstring getMemoryManagerChunkSize2();

    /// The number of pools, 6. With `getPool`, a read-only view for statistics.
    static unsigned int getPoolCount() noexcept;
    /// The pool at `index` in ascending chunk size (64 to 2048 bytes); null
    /// past the last.
    const MemoryPool* getPool(unsigned int index) const noexcept;
    /// Whether the 65 536-byte buffer is handed out.
    bool isBuffer65536InUse() const noexcept;
    /// Whether the 163 948-byte buffer is handed out.
    bool isBuffer163948InUse() const noexcept;

private:
    friend struct OrvXmlMemoryManagerTestAccess; // tests inspect the buffers

    static const unsigned int POOL_COUNT = 6;
    static const std::size_t BUFFER_SIZE_0 = 65536;
    static const std::size_t BUFFER_SIZE_1 = 163948;

    static const int DEFAULT_POOLSIZE = 1024;
    static const int DEFAULT_CHUNKSIZE0 = 24;
    static const int DEFAULT_CHUNKSIZE1 = 64;
    static const int DEFAULT_CHUNKSIZE2 = 512;
    static const OrvWstring MEMORY_MANAGER_POOL_SIZE;
    static const OrvWstring MEMORY_MANAGER_CHUNK_SIZE0;
    static const OrvWstring MEMORY_MANAGER_CHUNK_SIZE1;
    static const OrvWstring MEMORY_MANAGER_CHUNK_SIZE2;

    void destroyPools() noexcept;
    static void CompileTimeSizeofCheck();

    unsigned int iPoolSize;
    MemoryPool* iPools[POOL_COUNT];
    // The parser places objects of any type in these.
    alignas(alignof(std::max_align_t)) unsigned char iBuffer65536[BUFFER_SIZE_0];
    alignas(alignof(std::max_align_t)) unsigned char iBuffer163948[BUFFER_SIZE_1];
    bool iBuffer65536InUse;
    bool iBuffer163948InUse;
};

#endif
