// SPDX-License-Identifier: Apache-2.0
// test_threads.cpp - separate managers and pools on separate threads at once;
// the reference count shared between threads (run under ThreadSanitizer too).
#include "OrvShared.h"
#include "OrvXmlMemoryManager.h"
#include "PrefixTestUtil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

// Four threads mix share and release on one object: the count nets out, and
// no value is returned twice by share-only phases (checked elsewhere).
TEST(Threads, SharedCountUnderMixedTraffic) {
    OrvShared shared;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&shared, t] {
            for (int i = 0; i < 50000; ++i) {
                if ((i + t) % 3 == 0) {
                    shared.release();
                    shared.share();
                } else {
                    shared.share();
                    shared.release();
                }
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(shared.share(), 1);
}

// Each thread drives its own prefix manager and memory manager; nothing is
// shared but the trace filter, and every thread gets the single-thread answers.
TEST(Threads, SeparateManagersOnSeparateThreads) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&failures, t] {
            XMLPrefixManager prefixes(nullptr);
            prefer(prefixes, "urn:p" + std::to_string(t), "p");
            auto memory = std::make_unique<OrvXmlMemoryManager>();
            for (int round = 0; round < 300; ++round) {
                prefixes.addLevel();
                std::vector<void*> held;
                for (int depth = 0; depth < 8; ++depth) {
                    prefixes.addLevel();
                    const Answer a = ask(prefixes, "urn:p" + std::to_string(t));
                    if (a.prefix != "p")
                        ++failures;
                    held.push_back(memory->allocate(std::size_t(16) << (depth % 7)));
                }
                for (void* p : held)
                    memory->deallocate(p);
                for (int depth = 0; depth <= 8; ++depth)
                    prefixes.removeLevel();
                if (PM::level(prefixes) != -1)
                    ++failures;
            }
            for (unsigned i = 0; i < OrvXmlMemoryManager::getPoolCount(); ++i)
                if (memory->getPool(i)->getNalloc() != 0)
                    ++failures;
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
}
