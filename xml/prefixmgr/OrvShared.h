// SPDX-License-Identifier: Apache-2.0
// OrvShared.h - a thread-safe reference-count base for other modules.
#ifndef ZAQPREFIXMGR_ORV_SHARED_H
#define ZAQPREFIXMGR_ORV_SHARED_H

#include "ZaqPrefixMgrExport.h"

#include <atomic>
#include <cstdint>

/// Carries a reference count that holders raise with `share` and lower with
/// `release`, both atomic with full ordering. It only counts: it never
/// destroys the object, whatever the count; that is the caller's decision.
///
/// Owns nothing but the count. `share` and `release` may be called from any
/// number of threads at once; copying, assignment and destruction are not
/// synchronised with them. Nothing throws; the count is 32 bits wide and
/// wraps past its limits.
class ZAQ_PREFIXMGR_EXPORT OrvShared {
public:
    /// A count of 0.
    OrvShared() noexcept;
    /// The copy starts at the source's count, not at 0.
    OrvShared(const OrvShared& other) noexcept;
    /// Takes over the source's count.
    OrvShared& operator=(const OrvShared& other) noexcept;
    virtual ~OrvShared();

    /// Adds 1 and returns the count this very call produced.
    long share() noexcept;
    /// Subtracts 1 and returns the count this very call produced; the
    /// object stays alive at 0 and below.
    long release() noexcept;

private:
#if defined(_WIN32)
    // The LONG that InterlockedIncrement and InterlockedDecrement work on.
    volatile long iCount;
#else
    std::atomic<std::int32_t> iCount;
#endif
};

#endif
