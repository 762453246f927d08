// SPDX-License-Identifier: Apache-2.0
// test_memory_pool.cpp - fixed-chunk pool: geometry, free list, statistics, failures.
#include "MemoryTestAccess.h"
#include "OrvFatalException.h"
#include "TraceCapture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>

using Pool = OrvXmlMemoryManager::MemoryPool;
using PA = MemoryPoolTestAccess;

namespace {

long chunkIndex(const Pool& pool, void* p) {
    return (static_cast<unsigned char*>(p) - PA::start(pool)) / long(PA::stride(pool));
}

// Runs `make` and returns the fatal exception it raised.
template <typename Make> OrvFatalException fatalFrom(Make make) {
    try {
        make();
    } catch (const OrvFatalException& e) {
        return e;
    }
    ADD_FAILURE() << "no OrvFatalException";
    return OrvFatalException("", 0, "", OrvWstring(), 0);
}

} // namespace

// A one-chunk pool hands out its block, then falls back to the heap without
// counting the fallback.
TEST(MemoryPool, SingleChunkThenHeapFallback) {
    Pool pool(1, 64);
    void* first = pool.allocate(64);
    EXPECT_EQ(first, PA::start(pool));
    void* second = pool.allocate(64);
    EXPECT_FALSE(pool.contains(second));
    EXPECT_EQ(pool.getNalloc(), 1);
    EXPECT_EQ(pool.getHighwater(), 1);
    void* small = pool.allocate(10); // exhausted: a 10-byte heap block
    EXPECT_EQ(pool.getNalloc(), 1);
    ::operator delete(small);
    ::operator delete(second);
    pool.deallocate(first);
    EXPECT_EQ(pool.getNalloc(), 0);
    EXPECT_EQ(pool.getHighwater(), 1);
    EXPECT_EQ(pool.getTalloc(), 0);
}

// Bad sizes fail before any block is taken, with the message's number, id
// and inserts; the pool-size check comes first.
TEST(MemoryPool, RejectsZeroPoolAndTinyChunks) {
    for (unsigned chunk : {64u, 0u}) {
        OrvFatalException e = fatalFrom([&] { Pool pool(0, chunk); });
        EXPECT_EQ(static_cast<unsigned>(e.messageId()), 0xC000083Fu);
        EXPECT_EQ(e.messageNumber(), "ZAQ2111");
        EXPECT_EQ(e.inserts(),
                  (std::vector<std::string>{"Non-positive size memory pool", "Non-positive size memory pool"}));
        EXPECT_STREQ(e.function(), "OrvXmlMemoryManager::MemoryPool::MemoryPool");
    }
    for (unsigned chunk : {0u, 1u, 2u, 3u}) {
        OrvFatalException e = fatalFrom([&] { Pool pool(8, chunk); });
        EXPECT_EQ(static_cast<unsigned>(e.messageId()), 0xC0000840u);
        ASSERT_EQ(e.inserts().size(), 3u);
        EXPECT_EQ(e.inserts()[0], "Memory pool chunk sizes too small");
        EXPECT_EQ(e.inserts()[2], std::to_string(chunk));
        EXPECT_NE(std::string(e.what()).find("ZAQ2112: Memory pool chunk sizes too small"), std::string::npos);
    }
    Pool four(8, 4);
    void* a = four.allocate(4);
    void* b = four.allocate(4);
    EXPECT_EQ(static_cast<unsigned char*>(b) - static_cast<unsigned char*>(a), 8);
    four.deallocate(b);
    four.deallocate(a);
}

// With the filter above 2 a failure writes its trace record (after the
// constructor's entry record, with no exit record) before it throws.
TEST(MemoryPool, FailureIsTracedBeforeThrowing) {
    TraceCapture capture(3);
    EXPECT_THROW(Pool(8, 3), OrvFatalException);
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "entry OrvXmlMemoryManager::MemoryPool::MemoryPool 8 3");
    EXPECT_EQ(lines[1].rfind("trace OrvXmlMemoryManager::MemoryPool::MemoryPool Throwing exception ", 0), 0u);
    EXPECT_NE(lines[1].find(" ZAQ2112 Memory pool chunk sizes too small Memory pool chunk sizes too small 3"),
              std::string::npos);
}

// Strides round up to 8; contains is a range test from the first to the
// final chunk's start.
TEST(MemoryPool, GeometryAndContains) {
    Pool pool(10, 100);
    EXPECT_EQ(PA::stride(pool), 104u);
    EXPECT_EQ(pool.getChunkSize(), 100u);
    EXPECT_EQ(pool.getPoolSize(), 10u);
    unsigned char* start = PA::start(pool);
    EXPECT_EQ(PA::last(pool), start + 936);
    EXPECT_TRUE(pool.contains(start));
    EXPECT_TRUE(pool.contains(start + 936));
    EXPECT_TRUE(pool.contains(start + 500));
    EXPECT_FALSE(pool.contains(start + 937));
    EXPECT_FALSE(pool.contains(reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(start) - 1)));
    for (unsigned chunk : {4u, 24u, 64u, 2048u})
        EXPECT_EQ(PA::stride(Pool(1, chunk)), (chunk + 7) / 8 * 8);
}

// The free list: ascending at first; a chunk given back goes behind the
// head; one given back to an exhausted pool becomes the head.
TEST(MemoryPool, FreeListOrder) {
    Pool pool(4, 64);
    EXPECT_EQ(PA::freeList(pool), (std::vector<long>{0, 1, 2, 3}));
    void* c0 = pool.allocate(64);
    void* c1 = pool.allocate(64);
    EXPECT_EQ(chunkIndex(pool, c0), 0);
    EXPECT_EQ(chunkIndex(pool, c1), 1);
    pool.deallocate(c0);
    pool.deallocate(c1);
    EXPECT_EQ(PA::freeList(pool), (std::vector<long>{2, 1, 0, 3}));
    void* out[4];
    for (auto& p : out)
        p = pool.allocate(1);
    EXPECT_EQ(chunkIndex(pool, out[0]), 2);
    EXPECT_EQ(chunkIndex(pool, out[1]), 1);
    EXPECT_EQ(chunkIndex(pool, out[2]), 0);
    EXPECT_EQ(chunkIndex(pool, out[3]), 3);
    EXPECT_TRUE(PA::freeList(pool).empty());
    pool.deallocate(out[3]);
    EXPECT_EQ(pool.allocate(64), out[3]) << "exhausted: the returned chunk is the head";
    for (auto& p : out)
        pool.deallocate(p);
    EXPECT_EQ(pool.getNalloc(), 0);
    EXPECT_EQ(pool.getHighwater(), 4);
}

// setHighwater stores anything; the next allocate raises it past the count.
TEST(MemoryPool, HighwaterCanBeSet) {
    Pool pool(4, 64);
    pool.setHighwater(-5);
    EXPECT_EQ(pool.getHighwater(), -5);
    void* p = pool.allocate(8);
    EXPECT_EQ(pool.getHighwater(), 1);
    pool.setHighwater(10);
    pool.deallocate(p);
    p = pool.allocate(8);
    EXPECT_EQ(pool.getHighwater(), 10);
    pool.deallocate(p);
    EXPECT_EQ(pool.getTalloc(), 0);
}

// Sizes whose rounding or block size cannot be represented fail with
// std::bad_alloc instead of carving chunks from a short block.
TEST(MemoryPool, UnrepresentableSizesFailWithBadAlloc) {
    EXPECT_THROW(Pool(1, 0xFFFFFFFFu), std::bad_alloc);
    EXPECT_THROW(Pool(1, 0xFFFFFFF9u), std::bad_alloc);
    EXPECT_THROW(Pool(0xFFFFFFFFu, 0xFFFFFFF0u), std::bad_alloc);
}

// Constructor and destructor records carry their settings and statistics.
TEST(MemoryPool, TracesConstructionAndDestruction) {
    TraceCapture capture(3);
    {
        Pool pool(2, 64);
        void* p = pool.allocate(1);
        pool.deallocate(p);
    }
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{
                                   "entry OrvXmlMemoryManager::MemoryPool::MemoryPool 2 64",
                                   "exit OrvXmlMemoryManager::MemoryPool::MemoryPool",
                                   "entry OrvXmlMemoryManager::MemoryPool::~MemoryPool 2 64 0 0 1",
                                   "exit OrvXmlMemoryManager::MemoryPool::~MemoryPool",
                               }));
}
