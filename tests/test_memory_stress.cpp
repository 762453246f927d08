// SPDX-License-Identifier: Apache-2.0
// test_memory_stress.cpp - the memory manager under seeded random traffic,
// and pool misuse caught by AddressSanitizer.
#include "MemoryStress.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define ZAQ_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZAQ_TEST_ASAN 1
#endif
#endif

// Random interleavings over every size boundary, with small pools that run
// dry and refill, and with the default pool size.
TEST(MemoryStress, RandomTrafficKeepsBlocksAndCountsRight) {
    std::mt19937 rng(42);
    for (unsigned poolSize : {32u, 64u, 1024u}) {
        for (int script = 0; script < 200; ++script) {
            std::vector<std::uint8_t> bytes(1 + rng() % 600);
            for (auto& b : bytes)
                b = static_cast<std::uint8_t>(rng());
            ASSERT_EQ(runMemoryScript(bytes.data(), bytes.size(), poolSize), "")
                << "pool size " << poolSize << ", script " << script;
        }
    }
}

// Each buffer taken twice (the second request goes to the heap), every pool
// exhausted and refilled.
TEST(MemoryStress, BuffersTwiceAndPoolsExhausted) {
    std::vector<std::uint8_t> bytes;
    for (std::uint8_t sizeIndex : {24, 24, 27, 27}) // 65536 twice, 163948 twice
        bytes.push_back(sizeIndex);
    for (int k = 0; k < 40; ++k)
        for (std::uint8_t sizeIndex : {5, 8, 11, 14, 17, 20}) // 64 ... 2048
            bytes.push_back(sizeIndex);
    bytes.push_back(255); // free everything
    for (int k = 0; k < 40; ++k)
        bytes.push_back(20);
    ASSERT_EQ(runMemoryScript(bytes.data(), bytes.size(), 32), "");
}

#if defined(ZAQ_TEST_ASAN)
// A chunk given back to its pool is poisoned: touching it is reported like
// a use after free of heap memory.
TEST(MemoryStressDeathTest, UseAfterDeallocateInPoolIsCaught) {
    EXPECT_DEATH(
        {
            auto manager = std::make_unique<OrvXmlMemoryManager>();
            auto* p = static_cast<volatile char*>(manager->allocate(48));
            manager->deallocate(const_cast<char*>(p));
            p[16] = 1;
        },
        "use-after-poison");
    EXPECT_DEATH(
        {
            auto manager = std::make_unique<OrvXmlMemoryManager>();
            auto* p = static_cast<volatile char*>(manager->allocate(40));
            p[40] = 1; // past the request, inside the chunk
        },
        "use-after-poison");
}
#else
TEST(MemoryStressDeathTest, UseAfterDeallocateInPoolIsCaught) { GTEST_SKIP() << "needs AddressSanitizer"; }
#endif
