// OrvShared.h - a thread-safe reference-count base for other modules.
#ifndef ORV_SHARED_H
#define ORV_SHARED_H

#include "ZaqPrefixMgrExport.h"

#include <atomic>
#include <cstdint>

/// Carries a reference count that holders raise with `share` and lower with
/// `release`, both atomic with full ordering. It only counts: it never
/// destroys the object, whatever the count; that is the caller's decision.
/// Copying and destruction are not synchronised with `share`/`release`.
class ZAQ_PREFIXMGR_EXPORT OrvShared {
public:
    OrvShared() noexcept : iCount(0) {}
    /// The copy starts at the source's count, not at 0.
    OrvShared(const OrvShared& other) noexcept;
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
