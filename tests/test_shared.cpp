// SPDX-License-Identifier: Apache-2.0
// test_shared.cpp - the reference-count base: counting, copying, threads.
#include "OrvShared.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace {
class Counted : public OrvShared {};
} // namespace

// share and release return the value each call produced, with no bounds,
// and never end the object.
TEST(OrvShared, ShareAndReleaseReturnNewCount) {
    Counted c;
    EXPECT_EQ(c.share(), 1);
    EXPECT_EQ(c.share(), 2);
    EXPECT_EQ(c.release(), 1);
    EXPECT_EQ(c.release(), 0);
    EXPECT_EQ(c.share(), 1) << "still usable at 0";

    Counted fresh;
    EXPECT_EQ(fresh.release(), -1);
    EXPECT_EQ(fresh.release(), -2);
}

// Copies take the source's count; assignment overwrites the target's.
TEST(OrvShared, CopyAndAssignmentCarryTheCount) {
    Counted source;
    for (int i = 0; i < 3; ++i)
        source.share();
    Counted copy(source);
    EXPECT_EQ(copy.share(), 4);
    EXPECT_EQ(source.share(), 4) << "the source stayed at 3";

    Counted five;
    for (int i = 0; i < 5; ++i)
        five.share();
    Counted one;
    one.share();
    one = five;
    EXPECT_EQ(one.release(), 4);
    const Counted& alias = five;
    five = alias;
    EXPECT_EQ(five.share(), 6);
}

// Threads sharing one object each get distinct values: every value from 1
// to the total comes back exactly once; mixed share/release nets to zero.
TEST(OrvShared, ConcurrentShareReturnsEveryValueOnce) {
    constexpr int THREADS = 4;
    constexpr int PER_THREAD = 20000;
    Counted c;
    std::vector<std::vector<long>> seen(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t)
        threads.emplace_back([&, t] {
            seen[t].reserve(PER_THREAD);
            for (int i = 0; i < PER_THREAD; ++i)
                seen[t].push_back(c.share());
        });
    for (auto& thread : threads)
        thread.join();
    std::vector<long> all;
    for (const auto& s : seen)
        all.insert(all.end(), s.begin(), s.end());
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), std::size_t(THREADS * PER_THREAD));
    for (std::size_t i = 0; i < all.size(); ++i)
        ASSERT_EQ(all[i], long(i + 1));

    threads.clear();
    for (int t = 0; t < THREADS; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < PER_THREAD; ++i) {
                c.share();
                c.release();
                c.release();
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(c.share(), 1);
}
