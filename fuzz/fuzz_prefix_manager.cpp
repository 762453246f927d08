// SPDX-License-Identifier: Apache-2.0
// fuzz_prefix_manager.cpp - call sequences on XMLPrefixManager checked
// against the reference model and the state invariants after every call.
#include "PrefixModel.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string problem = runPrefixScript(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "prefix manager and model differ: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
