// SPDX-License-Identifier: Apache-2.0
// test_prefix_model.cpp - the prefix manager against its reference model on
// seeded random call sequences (the fuzz target's driver, bounded for CI).
#include "PrefixModel.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

// Thousands of random call sequences: every answer equals the model's and
// every invariant holds after every call.
TEST(PrefixModel, RandomSequencesAgreeWithModel) {
    std::mt19937 rng(20261208);
    for (int script = 0; script < 3000; ++script) {
        std::vector<std::uint8_t> bytes(1 + rng() % 300);
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(rng());
        const std::string problem = runPrefixScript(bytes.data(), bytes.size());
        ASSERT_EQ(problem, "") << "script " << script;
    }
}

// Sequences biased to deep nesting and re-binding, where the lookup cache
// and the withdrawal order matter most.
TEST(PrefixModel, DeepRebindingSequencesAgreeWithModel) {
    std::mt19937 rng(7);
    for (int script = 0; script < 500; ++script) {
        std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(script)};
        for (int k = 0; k < 400; ++k) {
            const unsigned choice = rng() % 10;
            // addLevel, lookups and explicit bindings, with rarer closes.
            const std::uint8_t op = choice < 3 ? 0 : choice < 7 ? 6 : choice < 9 ? 5 : 2;
            bytes.push_back(op);
            bytes.push_back(static_cast<std::uint8_t>(rng()));
        }
        ASSERT_EQ(runPrefixScript(bytes.data(), bytes.size()), "") << "script " << script;
    }
}
