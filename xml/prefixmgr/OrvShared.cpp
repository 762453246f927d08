// SPDX-License-Identifier: Apache-2.0
// OrvShared.cpp - interlocked share and release.
#include "OrvShared.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

OrvShared::OrvShared() noexcept : iCount(0) {}

OrvShared::OrvShared(const OrvShared& other) noexcept : iCount(other.iCount) {}

OrvShared& OrvShared::operator=(const OrvShared& other) noexcept {
    iCount = other.iCount;
    return *this;
}

OrvShared::~OrvShared() = default;

// Each is one interlocked read-modify-write with a full barrier, and
// returns the value it produced.
long OrvShared::share() noexcept { return InterlockedIncrement(&iCount); }

long OrvShared::release() noexcept { return InterlockedDecrement(&iCount); }

#else

OrvShared::OrvShared() noexcept : iCount(0) {}

OrvShared::OrvShared(const OrvShared& other) noexcept : iCount(other.iCount.load(std::memory_order_relaxed)) {}

OrvShared& OrvShared::operator=(const OrvShared& other) noexcept {
    iCount.store(other.iCount.load(std::memory_order_relaxed), std::memory_order_relaxed);
    return *this;
}

OrvShared::~OrvShared() = default;

// fetch_add/fetch_sub on a 32-bit atomic wrap around like the interlocked
// operations they stand for, so there is no overflow to guard against.
namespace {
// The new value, wrapped in 32 bits as the atomic itself wraps.
long wrapped(std::int32_t old, std::uint32_t delta) noexcept {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(old) + delta);
}
} // namespace

long OrvShared::share() noexcept { return wrapped(iCount.fetch_add(1, std::memory_order_seq_cst), 1u); }

long OrvShared::release() noexcept { return wrapped(iCount.fetch_sub(1, std::memory_order_seq_cst), ~0u); }

#endif
