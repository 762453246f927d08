// SPDX-License-Identifier: Apache-2.0
// OrvWstring.h - the UTF-16 string value used for every URI, prefix and name.
#ifndef ZAQPREFIXMGR_ORV_WSTRING_H
#define ZAQPREFIXMGR_ORV_WSTRING_H

#include "OrvServicesExport.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

/// A UTF-16 string with value semantics.
///
/// Up to INLINE_CAPACITY code units live inside the object. Longer text lives
/// in one immutable-while-shared heap block with an atomic reference count,
/// so copying a string of any length never allocates; a mutation of a
/// shared block copies it first. Copies, moves, destruction, `length`,
/// `isEmpty`, `equals` and `compare` never throw. A default-constructed
/// string is empty and makes no call.
///
/// Threads: like a standard string, one thread may change a string while no
/// other uses it; copies on different threads are independent even when they
/// share a block. Failures: operations that build or grow text throw
/// std::bad_alloc when memory runs out and std::length_error past
/// MAX_LENGTH code units, leaving the string unchanged.
class ORV_SERVICES_EXPORT OrvWstring {
public:
    /// Code units held without a heap block.
    static constexpr unsigned int INLINE_CAPACITY = 16;
    /// The most code units a string holds; building or growing a longer one
    /// throws std::length_error.
    static constexpr std::size_t MAX_LENGTH = 0x7FFFFFFF;

    OrvWstring() noexcept : iRep(nullptr), iLength(0), iHeap(false) {}
    /// A copy of the zero-terminated `text`; null gives an empty string.
    OrvWstring(const unsigned short* text);
    /// A copy of the zero-terminated `text`; null gives an empty string.
    OrvWstring(const char16_t* text);
    /// The first `length` code units at `text`, zeros included.
    OrvWstring(const char16_t* text, std::size_t length);
    /// A copy of the viewed code units, e.g. of a std::u16string.
    explicit OrvWstring(std::u16string_view text) : OrvWstring(text.data(), text.size()) {}
    /// An independent value; a long text is shared, never copied.
    OrvWstring(const OrvWstring& other) noexcept {
        other.share();
        takeStorage(other);
    }
    /// Takes over `other`'s text and leaves it empty.
    OrvWstring(OrvWstring&& other) noexcept {
        takeStorage(other); // the block moves with its count
        other.clear();
    }
    /// Makes this string an independent copy of `other`.
    OrvWstring& operator=(const OrvWstring& other) noexcept {
        if (this != &other) {
            other.share();
            if (iHeap)
                release();
            takeStorage(other);
        }
        return *this;
    }
    /// Takes over `other`'s text and leaves it empty.
    OrvWstring& operator=(OrvWstring&& other) noexcept {
        if (this != &other) {
            if (iHeap)
                release();
            takeStorage(other);
            other.clear();
        }
        return *this;
    }
    ~OrvWstring() {
        if (iHeap)
            release();
    }

    /// Builds a string from UTF-8; malformed sequences become U+FFFD.
    static OrvWstring fromUtf8(const char* text, std::size_t size);
    /// Builds a string from UTF-8; malformed sequences become U+FFFD.
    static OrvWstring fromUtf8(const std::string& text) { return fromUtf8(text.data(), text.size()); }

    /// Replaces the text with the zero-terminated `text`, which may point into this string.
    OrvWstring& assign(const unsigned short* text);
    /// Replaces the text with the zero-terminated `text`, which may point into this string.
    OrvWstring& assign(const char16_t* text);
    /// Adds `other`'s code units at the end (`other` may be this string).
    OrvWstring& append(const OrvWstring& other);
    /// Inserts `count` copies of `codeUnit` before `position`; throws
    /// std::out_of_range when `position` is past the end.
    OrvWstring& insert(unsigned int position, unsigned int count, unsigned short codeUnit);

    /// The number of code units.
    unsigned int length() const noexcept { return iLength; }
    /// The number of code units, as the standard containers count.
    std::size_t size() const noexcept { return iLength; }
    /// Whether the string holds no code unit.
    bool isEmpty() const noexcept { return iLength == 0; }
    /// The code units; not zero-terminated. Valid until the next mutation.
    const char16_t* data() const noexcept { return iHeap ? iRep->iText : iInline; }
    /// The code units as a view; valid until the next mutation or destruction.
    std::u16string_view view() const noexcept { return std::u16string_view(data(), iLength); }

    /// Whether both hold the same code units.
    bool equals(const OrvWstring& other) const noexcept {
        if (iLength != other.iLength)
            return false;
        if (iHeap && other.iHeap && iRep == other.iRep)
            return true; // copies of one text: the common case for URIs
        return std::memcmp(data(), other.data(), std::size_t(iLength) * sizeof(char16_t)) == 0;
    }
    /// A consistent total order, 0 exactly when `equals` is true: shorter
    /// strings first, then by the bytes of the code units. Cheaper than a
    /// lexicographic order for the long URIs that share their beginnings,
    /// and all that ordered containers need.
    int compare(const OrvWstring& other) const noexcept {
        if (iLength != other.iLength)
            return iLength < other.iLength ? -1 : 1;
        if (iHeap && other.iHeap && iRep == other.iRep)
            return 0;
        const int order = std::memcmp(data(), other.data(), std::size_t(iLength) * sizeof(char16_t));
        return (order > 0) - (order < 0);
    }

    /// The text as UTF-8; unpaired surrogates become U+FFFD.
    std::string toUtf8() const;
    /// Appends the text as UTF-8 to `out`, as `toUtf8` converts it.
    void appendUtf8To(std::string& out) const;

    /// The order of `compare`, for code units given as views.
    static int compare(std::u16string_view a, std::u16string_view b) noexcept {
        if (a.size() != b.size())
            return a.size() < b.size() ? -1 : 1;
        const int order = std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t));
        return (order > 0) - (order < 0);
    }

    /// Strict weak ordering for the ordered maps that key on strings; maps
    /// keyed on OrvWstring can be searched with a view, without a copy.
    struct Less {
        using is_transparent = void; ///< searches by std::u16string_view too
        /// Whether `a` comes before `b` (`compare` is negative).
        bool operator()(const OrvWstring& a, const OrvWstring& b) const noexcept { return a.compare(b) < 0; }
        /// The same order, against a view.
        bool operator()(const OrvWstring& a, std::u16string_view b) const noexcept { return compare(a.view(), b) < 0; }
        /// The same order, against a view.
        bool operator()(std::u16string_view a, const OrvWstring& b) const noexcept { return compare(a, b.view()) < 0; }
    };

    /// Equal when both hold the same code units (`equals`).
    friend bool operator==(const OrvWstring& a, const OrvWstring& b) noexcept { return a.equals(b); }
    friend bool operator!=(const OrvWstring& a, const OrvWstring& b) noexcept { return !a.equals(b); }

private:
    struct Rep {
        std::atomic<std::uint32_t> iRefs;
        std::uint32_t iCapacity;
        char16_t iText[1];
    };

    /// One more holder of the heap block, if any.
    void share() const noexcept {
        if (iHeap)
            iRep->iRefs.fetch_add(1, std::memory_order_relaxed);
    }
    /// Takes over other's text without touching any count: the caller has
    /// counted a shared block or is moving it. The whole inline area is
    /// copied: a fixed-size copy is a few moves, no call.
    void takeStorage(const OrvWstring& other) noexcept {
        iLength = other.iLength;
        iHeap = other.iHeap;
        if (iHeap)
            iRep = other.iRep;
        else
            std::memcpy(iInline, other.iInline, sizeof iInline);
    }
    /// Empty, owning nothing (after a move).
    void clear() noexcept {
        iHeap = false;
        iLength = 0;
    }
    static Rep* newRep(std::uint32_t capacity);
    void release() noexcept;
    /// Storage for `length` code units that this object alone may write,
    /// holding the current text at its start.
    char16_t* writable(std::uint64_t length);

    union {
        char16_t iInline[INLINE_CAPACITY];
        Rep* iRep;
    };
    std::uint32_t iLength;
    bool iHeap;
};

/// Hashes the code units, as std::hash<std::u16string_view> does, so that
/// strings can key unordered containers.
namespace std {
template <> struct hash<OrvWstring> {
    std::size_t operator()(const OrvWstring& text) const noexcept {
        return std::hash<std::u16string_view>()(text.view());
    }
};
} // namespace std

#endif
