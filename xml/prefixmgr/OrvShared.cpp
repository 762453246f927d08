// SPDX-License-Identifier: Apache-2.0
// OrvShared.cpp - interlocked share and release.
#include "OrvShared.h"

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
