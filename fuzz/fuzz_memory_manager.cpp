// SPDX-License-Identifier: Apache-2.0
// fuzz_memory_manager.cpp - allocate/deallocate sequences on
// OrvXmlMemoryManager with every block and counter verified.
#include "MemoryStress.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    // The first byte picks the pool size: small pools run dry quickly.
    const unsigned int poolSize = 32u + (data[0] % 4) * 32u;
    const std::string problem = runMemoryScript(data + 1, size - 1, poolSize);
    if (!problem.empty()) {
        std::fprintf(stderr, "memory manager: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
