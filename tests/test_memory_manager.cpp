// SPDX-License-Identifier: Apache-2.0
// test_memory_manager.cpp - routing to pools, buffers and heap; pool sizing;
// alignment; published settings; trace records.
#include "MemoryTestAccess.h"
#include "XmlCountingMemoryManager.h"
#include "OrvFatalException.h"
#include "TraceCapture.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

using Manager = OrvXmlMemoryManager;

namespace {

// Index of the pool that holds p, or -1 for memory outside every pool.
int poolOf(const Manager& m, const void* p) {
    for (unsigned i = 0; i < Manager::getPoolCount(); ++i)
        if (m.getPool(i)->contains(p))
            return int(i);
    return -1;
}

bool aligned(const void* p) { return reinterpret_cast<std::uintptr_t>(p) % HEAP_ALIGNMENT == 0; }

} // namespace

// Requests go to the first pool whose chunks are large enough, or the heap.
TEST(MemoryManager, RoutesBySize) {
    auto m = std::make_unique<Manager>();
    struct Case {
        std::size_t size;
        int pool;
    } cases[] = {{0, 0}, {1, 0}, {64, 0}, {65, 1}, {128, 1}, {129, 2}, {512, 3}, {1024, 4}, {2048, 5}, {2049, -1}};
    for (const Case& c : cases) {
        void* p = m->allocate(c.size);
        EXPECT_EQ(poolOf(*m, p), c.pool) << c.size;
        EXPECT_TRUE(aligned(p)) << c.size;
        m->deallocate(p);
    }
    for (unsigned i = 0; i < Manager::getPoolCount(); ++i)
        EXPECT_EQ(m->getPool(i)->getNalloc(), 0);
    EXPECT_EQ(m->getPool(0)->getHighwater(), 1);
    m->deallocate(nullptr);
}

// An exhausted pool sends its requests to the heap for their exact size,
// never to a larger pool; those blocks go back to the heap uncounted.
TEST(MemoryManager, ExhaustedPoolFallsBackToHeap) {
    auto m = std::make_unique<Manager>(1024);
    std::vector<void*> held;
    for (int i = 0; i < 32; ++i)
        held.push_back(m->allocate(100));
    EXPECT_EQ(m->getPool(1)->getNalloc(), 32);
    void* extra = m->allocate(100);
    EXPECT_EQ(poolOf(*m, extra), -1);
    EXPECT_EQ(m->getPool(2)->getNalloc(), 0);
    m->deallocate(extra);
    EXPECT_EQ(m->getPool(1)->getNalloc(), 32);
    for (void* p : held)
        m->deallocate(p);
    EXPECT_EQ(m->getPool(1)->getNalloc(), 0);
    EXPECT_EQ(m->getPool(1)->getHighwater(), 32);
}

// Exactly 65536 and 163948 bytes come from the embedded buffers, one holder
// at a time; neighbouring sizes and a busy buffer go to the heap.
TEST(MemoryManager, EmbeddedBuffersServeTheirExactSizes) {
    auto m = std::make_unique<Manager>();
    void* b0 = m->allocate(65536);
    EXPECT_EQ(b0, OrvXmlMemoryManagerTestAccess::buffer65536(*m));
    EXPECT_TRUE(m->isBuffer65536InUse());
    void* again = m->allocate(65536);
    EXPECT_NE(again, b0);
    m->deallocate(again);
    EXPECT_TRUE(m->isBuffer65536InUse()) << "a heap block does not free the buffer";
    m->deallocate(b0);
    EXPECT_FALSE(m->isBuffer65536InUse());
    EXPECT_EQ(m->allocate(65536), b0);
    m->deallocate(b0);

    void* b1 = m->allocate(163948);
    EXPECT_EQ(b1, OrvXmlMemoryManagerTestAccess::buffer163948(*m));
    EXPECT_TRUE(aligned(b0));
    EXPECT_TRUE(aligned(b1));
    for (std::size_t size : {65535u, 65537u, 163947u, 163949u, 164040u}) {
        void* p = m->allocate(size);
        EXPECT_NE(p, b0);
        EXPECT_NE(p, b1);
        EXPECT_EQ(poolOf(*m, p), -1);
        EXPECT_TRUE(aligned(p));
        static_cast<unsigned char*>(p)[size - 1] = 1;
        m->deallocate(p);
    }
    m->deallocate(b1);
    EXPECT_FALSE(m->isBuffer163948InUse());
}

// N chunks of 64 bytes and N / 32 of each larger size; below 32 the
// 128-byte pool gets no chunk and construction fails with ZAQ2111.
TEST(MemoryManager, PoolSizesFollowN) {
    for (unsigned n : {0u, 1u, 31u}) {
        try {
            Manager m(n);
            ADD_FAILURE() << "N = " << n << " was accepted";
        } catch (const OrvFatalException& e) {
            EXPECT_EQ(e.messageNumber(), "ZAQ2111") << n;
        }
    }
    struct Case {
        unsigned n, small, large;
    } cases[] = {{32, 32, 1}, {63, 63, 1}, {64, 64, 2}, {1024, 1024, 32}};
    for (const Case& c : cases) {
        auto m = std::make_unique<Manager>(c.n);
        unsigned chunk = 64;
        for (unsigned i = 0; i < Manager::getPoolCount(); ++i, chunk *= 2) {
            EXPECT_EQ(m->getPool(i)->getChunkSize(), chunk);
            EXPECT_EQ(m->getPool(i)->getPoolSize(), i == 0 ? c.small : c.large) << "N " << c.n << " pool " << i;
        }
    }
    auto byDefault = std::make_unique<Manager>();
    EXPECT_EQ(byDefault->getPool(0)->getPoolSize(), 1024u);
    EXPECT_EQ(byDefault->getPool(5)->getPoolSize(), 32u);
    EXPECT_EQ(byDefault->getPool(6), nullptr);
}

// The published settings and their defaults.
TEST(MemoryManager, PublishesSettingNamesAndDefaults) {
    EXPECT_EQ(Manager::getMemoryManagerPoolSize().toUtf8(), "MemoryManagerPoolSize");
    EXPECT_EQ(Manager::getMemoryManagerChunkSize0().toUtf8(), "MemoryManagerChunkSize0");
    EXPECT_EQ(Manager::getMemoryManagerChunkSize1().toUtf8(), "MemoryManagerChunkSize1");
    EXPECT_EQ(Manager::getMemoryManagerChunkSize2().toUtf8(), "MemoryManagerChunkSize2");
    EXPECT_EQ(Manager::getDefaultPoolSize(), 1024);
    EXPECT_EQ(Manager::getDefaultChunkSize0(), 24);
    EXPECT_EQ(Manager::getDefaultChunkSize1(), 64);
    EXPECT_EQ(Manager::getDefaultChunkSize2(), 512);
}

// Exceptions take memory from a manager that outlives this one.
TEST(MemoryManager, ExceptionMemoryComesFromElsewhere) {
    auto m = std::make_unique<Manager>();
    xercesc::MemoryManager* forExceptions = m->getExceptionMemoryManager();
    ASSERT_NE(forExceptions, nullptr);
    EXPECT_NE(forExceptions, m.get());
    void* p = forExceptions->allocate(100);
    m.reset();
    forExceptions->deallocate(p);
}

// Construction and destruction records, pools in ascending order inside the
// manager's own; a failing pool ends construction without an exit record.
TEST(MemoryManager, TracesConstructionAndDestruction) {
    TraceCapture capture(3);
    { auto m = std::make_unique<Manager>(1024); }
    std::vector<std::string> expected = {"entry OrvXmlMemoryManager::OrvXmlMemoryManager 1024"};
    for (unsigned chunk = 64; chunk <= 2048; chunk *= 2) {
        expected.push_back("entry OrvXmlMemoryManager::MemoryPool::MemoryPool " +
                           std::to_string(chunk == 64 ? 1024 : 32) + " " + std::to_string(chunk));
        expected.push_back("exit OrvXmlMemoryManager::MemoryPool::MemoryPool");
    }
    expected.push_back("exit OrvXmlMemoryManager::OrvXmlMemoryManager");
    expected.push_back("entry OrvXmlMemoryManager::~OrvXmlMemoryManager 1024");
    for (unsigned chunk = 64; chunk <= 2048; chunk *= 2) {
        expected.push_back("entry OrvXmlMemoryManager::MemoryPool::~MemoryPool " +
                           std::to_string(chunk == 64 ? 1024 : 32) + " " + std::to_string(chunk) + " 0 0 0");
        expected.push_back("exit OrvXmlMemoryManager::MemoryPool::~MemoryPool");
    }
    expected.push_back("exit OrvXmlMemoryManager::~OrvXmlMemoryManager");
    EXPECT_EQ(capture.lines(), expected);

    capture.clear();
    EXPECT_THROW(Manager(31), OrvFatalException);
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "entry OrvXmlMemoryManager::OrvXmlMemoryManager 31");
    EXPECT_EQ(lines[3], "entry OrvXmlMemoryManager::MemoryPool::MemoryPool 0 128");
    EXPECT_EQ(lines[4].rfind("trace OrvXmlMemoryManager::MemoryPool::MemoryPool Throwing exception", 0), 0u);
    EXPECT_EQ(lines[5], "entry OrvXmlMemoryManager::MemoryPool::~MemoryPool 31 64 0 0 0")
        << "the pool already made is destroyed";
    EXPECT_EQ(lines[6], "exit OrvXmlMemoryManager::MemoryPool::~MemoryPool");
}

// The counting manager serves as the manager does and tells where each
// request went: pools, buffers, and the heap with the requests that fell
// back to it. N = 32 gives one chunk in each pool above 64 bytes.
TEST(MemoryManager, CountingManagerTellsWhereEachRequestWent) {
    enum Where { POOL0, POOL1, POOL5 = POOL1 + 4, BUFFER65536, BUFFER163948, HEAP, FELL_BACK };
    const struct {
        XMLSize_t size;
        Where where;
    } requests[] = {{0, POOL0},       {64, POOL0},          {65, POOL1},        {100, FELL_BACK},       {2048, POOL5},
                    {2049, HEAP},     {65536, BUFFER65536}, {65536, FELL_BACK}, {163948, BUFFER163948}, {163947, HEAP},
                    {2048, FELL_BACK}};
    zaq::XmlCountingMemoryManager memory(32);
    auto counts = [&] {
        const zaq::XmlCountingMemoryManager::Requests& r = memory.requests();
        std::vector<unsigned long long> all(r.pool, r.pool + 6);
        all.insert(all.end(), {r.buffer65536, r.buffer163948, r.heap, r.fellBack});
        return all;
    };
    std::vector<void*> held;
    for (const auto& request : requests) {
        std::vector<unsigned long long> expected = counts();
        if (request.where == FELL_BACK)
            ++expected[HEAP];
        ++expected[request.where];
        held.push_back(memory.allocate(request.size));
        EXPECT_EQ(counts(), expected) << request.size << " bytes, request " << held.size();
    }
    EXPECT_TRUE(memory.getPool(1)->contains(held[2]));
    EXPECT_FALSE(memory.getPool(1)->contains(held[3]));
    for (void* p : held)
        memory.deallocate(p);
    EXPECT_EQ(memory.getPool(0)->getNalloc(), 0);
    EXPECT_FALSE(memory.isBuffer65536InUse());
    memory.resetRequests();
    EXPECT_EQ(counts(), std::vector<unsigned long long>(10, 0));
}
