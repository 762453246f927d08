// SPDX-License-Identifier: Apache-2.0
// AllocationCounter.h - counts global operator new calls in a benchmark binary.
// Include in exactly one source file of a program: it replaces the global
// allocation functions, which also serve the shared libraries it loads.
#ifndef ZAQ_BENCH_ALLOCATION_COUNTER_H
#define ZAQ_BENCH_ALLOCATION_COUNTER_H

#include <cstdlib>
#include <new>

namespace zaqbench {
inline unsigned long long gAllocations = 0;
inline unsigned long long allocations() { return gAllocations; }
} // namespace zaqbench

void* operator new(std::size_t size) {
    ++zaqbench::gAllocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++zaqbench::gAllocations;
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

#endif
