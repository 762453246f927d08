// SPDX-License-Identifier: Apache-2.0
// OrvXmlMemoryManager.cpp - fixed-chunk pools, embedded buffers and routing.
#include "OrvXmlMemoryManager.h"

#include "OrvFatalException.h"
#include "OrvLog.h"

#include <xercesc/internal/MemoryManagerImpl.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define ZAQ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZAQ_ASAN 1
#endif
#endif

#if defined(ZAQ_ASAN)
#include <sanitizer/asan_interface.h>
// Free pool memory is poisoned so that a use after deallocate inside a pool
// is reported like any other heap misuse.
#define ZAQ_POISON(p, n) __asan_poison_memory_region((p), (n))
#define ZAQ_UNPOISON(p, n) __asan_unpoison_memory_region((p), (n))
#else
#define ZAQ_POISON(p, n) ((void)(p), (void)(n))
#define ZAQ_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

#if defined(__FILE_NAME__)
#define ZAQ_SOURCE_FILE __FILE_NAME__
#else
#define ZAQ_SOURCE_FILE __FILE__
#endif

namespace {

const char* const POOL_CTOR = "OrvXmlMemoryManager::MemoryPool::MemoryPool";
const char* const POOL_DTOR = "OrvXmlMemoryManager::MemoryPool::~MemoryPool";
const char* const MANAGER_CTOR = "OrvXmlMemoryManager::OrvXmlMemoryManager";
const char* const MANAGER_DTOR = "OrvXmlMemoryManager::~OrvXmlMemoryManager";

const std::size_t LINK_SIZE = sizeof(void*);

// Index of the smallest pool chunk (64 << index bytes) that holds `size`,
// for 65 to 2048 bytes.
unsigned int chunkIndex(unsigned int size) {
#if defined(__GNUC__)
    return 32u - static_cast<unsigned int>(__builtin_clz(size - 1)) - 6u;
#else
    unsigned int index = 0;
    for (unsigned int chunk = 64; chunk < size; chunk *= 2)
        ++index;
    return index;
#endif
}

unsigned char* linkOf(const unsigned char* chunk) {
    unsigned char* next;
    std::memcpy(&next, chunk, sizeof next);
    return next;
}

void setLink(unsigned char* chunk, unsigned char* next) { std::memcpy(chunk, &next, sizeof next); }

// Traces and raises a pool construction failure; `chunkSize` is the extra
// insert of "ZAQ2112", null for "ZAQ2111".
[[noreturn]] void failPool(int line, int messageNumber, const char* text, const int* chunkSize) {
    const std::string number = "ZAQ" + std::to_string(messageNumber);
    if (OrvLog::filter() > 2) {
        OrvLog::TraceItem item(POOL_CTOR);
        item << "Throwing exception" << ZAQ_SOURCE_FILE << line << number << text << text;
        if (chunkSize)
            item << *chunkSize;
    }
    const int messageId = static_cast<int>(0xC0000000u | static_cast<unsigned int>(messageNumber));
    OrvFatalException exception(ZAQ_SOURCE_FILE, line, POOL_CTOR, OrvLog::iDefaultLogSource, messageId);
    exception << text << text;
    if (chunkSize)
        exception << *chunkSize;
    exception.throwThis();
}

} // namespace

// ---------------------------------------------------------------------------
// MemoryPool

OrvXmlMemoryManager::MemoryPool::MemoryPool(unsigned int poolSize, unsigned int chunkSize)
    : iPoolSize(poolSize), iChunkSize(chunkSize), iTalloc(0), iNalloc(0), iHighwater(0), iStart(nullptr),
      iLast(nullptr), iFreeList(nullptr) {
    if (OrvLog::filter() > 2) {
        OrvLog::FastEntryItem entry(POOL_CTOR, true);
        entry << static_cast<int>(iPoolSize) << static_cast<int>(iChunkSize)
              << static_cast<const OrvLog::FastItem::MagicInsert*>(nullptr);
    }
    if (iPoolSize == 0)
        failPool(__LINE__, 2111, "Non-positive size memory pool", nullptr);
    if (iChunkSize < 4) {
        const int size = static_cast<int>(iChunkSize);
        failPool(__LINE__, 2112, "Memory pool chunk sizes too small", &size);
    }
    // The chunks must never be carved out of a block smaller than they need:
    // a stride or block size that does not fit is an allocation failure.
    if (iChunkSize > std::numeric_limits<unsigned int>::max() - 7u)
        throw std::bad_alloc();
    const std::size_t step = stride();
    if (iPoolSize > static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max()) / step)
        throw std::bad_alloc();
    unsigned char* block = static_cast<unsigned char*>(::operator new(std::size_t(iPoolSize) * step));

    unsigned char* last = block + std::size_t(iPoolSize - 1) * step;
    for (unsigned char* p = block; p < last; p += step)
        setLink(p, p + step);
    setLink(last, nullptr);
    for (unsigned char* p = block; p <= last; p += step)
        ZAQ_POISON(p + LINK_SIZE, step - LINK_SIZE);
    iLast = last;
    iStart = block;
    iFreeList = block;

    if (OrvLog::filter() > 2)
        OrvLog::writeExit(POOL_CTOR);
}

OrvXmlMemoryManager::MemoryPool::~MemoryPool() {
    if (OrvLog::filter() > 2) {
        OrvLog::FastEntryItem entry(POOL_DTOR, true);
        entry << static_cast<int>(iPoolSize) << static_cast<int>(iChunkSize) << iTalloc << iNalloc << iHighwater
              << static_cast<const OrvLog::FastItem::MagicInsert*>(nullptr);
    }
    ZAQ_UNPOISON(iStart, std::size_t(iPoolSize) * stride());
    ::operator delete(iStart);
    if (OrvLog::filter() > 2)
        OrvLog::writeExit(POOL_DTOR);
}

void* OrvXmlMemoryManager::MemoryPool::allocate(unsigned int size) {
    if (iFreeList == nullptr)
        return ::operator new(size);
    unsigned char* chunk = iFreeList;
    iFreeList = linkOf(chunk);
    if (++iNalloc > iHighwater)
        iHighwater = iNalloc;
    ZAQ_UNPOISON(chunk, size < stride() ? size : stride());
    return chunk;
}

void OrvXmlMemoryManager::MemoryPool::deallocate(void* p) {
    unsigned char* chunk = static_cast<unsigned char*>(p);
    --iNalloc;
    ZAQ_UNPOISON(chunk, LINK_SIZE);
    ZAQ_POISON(chunk + LINK_SIZE, stride() - LINK_SIZE);
    if (iFreeList == nullptr) {
        setLink(chunk, nullptr);
        iFreeList = chunk;
    } else {
        // Behind the head, which stays the head.
        setLink(chunk, linkOf(iFreeList));
        setLink(iFreeList, chunk);
    }
}

bool OrvXmlMemoryManager::MemoryPool::contains(const void* p) const noexcept {
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(p);
    return reinterpret_cast<std::uintptr_t>(iStart) <= address && address <= reinterpret_cast<std::uintptr_t>(iLast);
}

unsigned int OrvXmlMemoryManager::MemoryPool::getPoolSize() const noexcept { return iPoolSize; }
unsigned int OrvXmlMemoryManager::MemoryPool::getChunkSize() const noexcept { return iChunkSize; }
int OrvXmlMemoryManager::MemoryPool::getTalloc() const noexcept { return iTalloc; }
int OrvXmlMemoryManager::MemoryPool::getNalloc() const noexcept { return iNalloc; }
int OrvXmlMemoryManager::MemoryPool::getHighwater() const noexcept { return iHighwater; }
void OrvXmlMemoryManager::MemoryPool::setHighwater(int value) noexcept { iHighwater = value; }

// ---------------------------------------------------------------------------
// OrvXmlMemoryManager

const OrvWstring OrvXmlMemoryManager::MEMORY_MANAGER_POOL_SIZE(u"MemoryManagerPoolSize");
const OrvWstring OrvXmlMemoryManager::MEMORY_MANAGER_CHUNK_SIZE0(u"MemoryManagerChunkSize0");
const OrvWstring OrvXmlMemoryManager::MEMORY_MANAGER_CHUNK_SIZE1(u"MemoryManagerChunkSize1");
const OrvWstring OrvXmlMemoryManager::MEMORY_MANAGER_CHUNK_SIZE2(u"MemoryManagerChunkSize2");

OrvXmlMemoryManager::OrvXmlMemoryManager(unsigned int poolSize)
    : iPoolSize(poolSize), iPools{}, iBuffer65536InUse(false), iBuffer163948InUse(false) {
    if (OrvLog::filter() > 2) {
        OrvLog::FastEntryItem entry(MANAGER_CTOR, true);
        entry << static_cast<int>(iPoolSize) << static_cast<const OrvLog::FastItem::MagicInsert*>(nullptr);
    }
    try {
        unsigned int chunkSize = 64;
        for (unsigned int i = 0; i < POOL_COUNT; ++i, chunkSize *= 2) {
            const unsigned int chunks = chunkSize <= 64 ? iPoolSize : iPoolSize >> 5;
            iPools[i] = new MemoryPool(chunks, chunkSize);
        }
    } catch (...) {
        destroyPools();
        throw;
    }
    ZAQ_POISON(iBuffer65536, sizeof iBuffer65536);
    ZAQ_POISON(iBuffer163948, sizeof iBuffer163948);
    if (OrvLog::filter() > 2)
        OrvLog::writeExit(MANAGER_CTOR);
}

OrvXmlMemoryManager::~OrvXmlMemoryManager() {
    if (OrvLog::filter() > 2) {
        OrvLog::FastEntryItem entry(MANAGER_DTOR, true);
        entry << static_cast<int>(iPoolSize) << static_cast<const OrvLog::FastItem::MagicInsert*>(nullptr);
    }
    destroyPools();
    ZAQ_UNPOISON(iBuffer65536, sizeof iBuffer65536);
    ZAQ_UNPOISON(iBuffer163948, sizeof iBuffer163948);
    if (OrvLog::filter() > 2)
        OrvLog::writeExit(MANAGER_DTOR);
}

void OrvXmlMemoryManager::destroyPools() noexcept {
    for (MemoryPool*& pool : iPools) {
        delete pool;
        pool = nullptr;
    }
}

void* OrvXmlMemoryManager::allocate(XMLSize_t size) {
    if (size <= 2048) {
        // The first pool whose chunks fit: 64 << index >= size.
        const unsigned int index = size <= 64 ? 0u : chunkIndex(static_cast<unsigned int>(size));
        return iPools[index]->allocate(static_cast<unsigned int>(size));
    }
    if (size == BUFFER_SIZE_0 && !iBuffer65536InUse) {
        iBuffer65536InUse = true;
        ZAQ_UNPOISON(iBuffer65536, sizeof iBuffer65536);
        return iBuffer65536;
    }
    if (size == BUFFER_SIZE_1 && !iBuffer163948InUse) {
        iBuffer163948InUse = true;
        ZAQ_UNPOISON(iBuffer163948, sizeof iBuffer163948);
        return iBuffer163948;
    }
    return ::operator new(size);
}

void OrvXmlMemoryManager::deallocate(void* p) {
    if (p == nullptr)
        return;
    for (MemoryPool* pool : iPools) {
        if (pool->contains(p)) {
            pool->deallocate(p);
            return;
        }
    }
    if (iBuffer65536InUse && p == iBuffer65536) {
        iBuffer65536InUse = false;
        ZAQ_POISON(iBuffer65536, sizeof iBuffer65536);
    } else if (iBuffer163948InUse && p == iBuffer163948) {
        iBuffer163948InUse = false;
        ZAQ_POISON(iBuffer163948, sizeof iBuffer163948);
    } else {
        ::operator delete(p);
    }
}

xercesc::MemoryManager* OrvXmlMemoryManager::getExceptionMemoryManager() {
    // An exception thrown by the parser can outlive the parser and this
    // manager (the caller catches it after destroying both), so it must not
    // take its memory from here. The interface recommends the global manager;
    // before the platform is initialised there is none, and a process-lifetime
    // heap manager serves instead.
    if (xercesc::XMLPlatformUtils::fgMemoryManager)
        return xercesc::XMLPlatformUtils::fgMemoryManager;
    static xercesc::MemoryManagerImpl heapManager;
    return &heapManager;
}

unsigned int OrvXmlMemoryManager::getPoolCount() noexcept { return POOL_COUNT; }

const OrvXmlMemoryManager::MemoryPool* OrvXmlMemoryManager::getPool(unsigned int index) const noexcept {
    return index < POOL_COUNT ? iPools[index] : nullptr;
}

bool OrvXmlMemoryManager::isBuffer65536InUse() const noexcept { return iBuffer65536InUse; }
bool OrvXmlMemoryManager::isBuffer163948InUse() const noexcept { return iBuffer163948InUse; }

int OrvXmlMemoryManager::getDefaultPoolSize() { return DEFAULT_POOLSIZE; }
int OrvXmlMemoryManager::getDefaultChunkSize0() { return DEFAULT_CHUNKSIZE0; }
int OrvXmlMemoryManager::getDefaultChunkSize1() { return DEFAULT_CHUNKSIZE1; }
int OrvXmlMemoryManager::getDefaultChunkSize2() { return DEFAULT_CHUNKSIZE2; }
OrvWstring OrvXmlMemoryManager::getMemoryManagerPoolSize() { return MEMORY_MANAGER_POOL_SIZE; }
OrvWstring OrvXmlMemoryManager::getMemoryManagerChunkSize0() { return MEMORY_MANAGER_CHUNK_SIZE0; }
OrvWstring OrvXmlMemoryManager::getMemoryManagerChunkSize1() { return MEMORY_MANAGER_CHUNK_SIZE1; }
OrvWstring OrvXmlMemoryManager::getMemoryManagerChunkSize2() { return MEMORY_MANAGER_CHUNK_SIZE2; }

// These do nothing at run time; they record the object sizes for the
// exported layout check. Inline with vague linkage and marked used, so that
// the operations and their constants are both emitted and exported.
#if defined(__GNUC__)
#define ZAQ_KEEP __attribute__((used, visibility("default"))) inline
#define ZAQ_KEEP_DATA __attribute__((used))
#else
#define ZAQ_KEEP
#define ZAQ_KEEP_DATA
#endif

ZAQ_KEEP void OrvXmlMemoryManager::MemoryPool::CompileTimeSizeofCheck() {
    ZAQ_KEEP_DATA static const std::size_t size_of_this = sizeof(MemoryPool);
    (void)size_of_this;
}

ZAQ_KEEP void OrvXmlMemoryManager::CompileTimeSizeofCheck() {
    ZAQ_KEEP_DATA static const std::size_t size_of_this = sizeof(OrvXmlMemoryManager);
    (void)size_of_this;
}

#if defined(_WIN32) && defined(__GNUC__)
// A DLL exports inline members and their static locals only when told to:
// the linker directives GCC writes for dllexport, written out by hand.
#define ZAQ_EXPORT_DIRECTIVE(symbol, kind) ".ascii \" -export:\\\"" symbol "\\\"" kind "\"\n\t"
// clang-format off
__asm__(".section .drectve\n\t"
        ZAQ_EXPORT_DIRECTIVE("_ZN19OrvXmlMemoryManager10MemoryPool22CompileTimeSizeofCheckEv", "")
        ZAQ_EXPORT_DIRECTIVE("_ZZN19OrvXmlMemoryManager10MemoryPool22CompileTimeSizeofCheckEvE12size_of_this", ",data")
        ZAQ_EXPORT_DIRECTIVE("_ZN19OrvXmlMemoryManager22CompileTimeSizeofCheckEv", "")
        ZAQ_EXPORT_DIRECTIVE("_ZZN19OrvXmlMemoryManager22CompileTimeSizeofCheckEvE12size_of_this", ",data")
        ".text");
// clang-format on
#endif
