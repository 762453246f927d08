// SPDX-License-Identifier: Apache-2.0
// OrvWstring.cpp - UTF-16 string storage, comparison and UTF-8 conversion.
#include "OrvWstring.h"

#include <cstddef>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace {

template <typename Unit> std::size_t textLength(const Unit* text) {
    std::size_t n = 0;
    if (text)
        while (text[n] != 0)
            ++n;
    return n;
}

std::uint32_t checkedLength(std::uint64_t length) {
    static_assert(OrvWstring::MAX_LENGTH <= std::numeric_limits<std::uint32_t>::max() / 2,
                  "a length and its doubled capacity fit in 32 bits");
    if (length > OrvWstring::MAX_LENGTH)
        throw std::length_error("OrvWstring: more than " + std::to_string(OrvWstring::MAX_LENGTH) + " code units");
    return static_cast<std::uint32_t>(length);
}

} // namespace

OrvWstring::Rep* OrvWstring::newRep(std::uint32_t capacity) {
    const std::size_t bytes = offsetof(Rep, iText) + std::size_t(capacity) * sizeof(char16_t);
    void* block = ::operator new(bytes);
    Rep* rep = static_cast<Rep*>(block);
    new (&rep->iRefs) std::atomic<std::uint32_t>(1);
    rep->iCapacity = capacity;
    return rep;
}

void OrvWstring::release() noexcept {
    // The last holder frees the block; acq_rel orders every earlier holder's
    // reads before the free.
    if (iRep->iRefs.fetch_sub(1, std::memory_order_acq_rel) == 1)
        ::operator delete(iRep);
}

OrvWstring::OrvWstring(const unsigned short* text) : OrvWstring(reinterpret_cast<const char16_t*>(text)) {}

OrvWstring::OrvWstring(const char16_t* text) : OrvWstring(text, checkedLength(textLength(text))) {}

OrvWstring::OrvWstring(const char16_t* text, std::size_t length) : iLength(0), iHeap(false) {
    char16_t* out = writable(length); // checks the length first
    if (length)
        std::memcpy(out, text, length * sizeof(char16_t));
    iLength = static_cast<std::uint32_t>(length);
}

char16_t* OrvWstring::writable(std::uint64_t length) {
    const std::uint32_t needed = checkedLength(length);
    if (!iHeap) {
        if (needed <= INLINE_CAPACITY)
            return iInline;
        Rep* rep = newRep(needed < 2 * INLINE_CAPACITY ? 2 * INLINE_CAPACITY : needed);
        std::memcpy(rep->iText, iInline, std::size_t(iLength) * sizeof(char16_t));
        iRep = rep;
        iHeap = true;
        return rep->iText;
    }
    if (iRep->iRefs.load(std::memory_order_acquire) == 1 && iRep->iCapacity >= needed)
        return iRep->iText;
    std::uint32_t capacity = iRep->iCapacity;
    if (capacity < needed)
        capacity = needed / 2 < capacity ? checkedLength(std::uint64_t(capacity) * 2) : needed;
    Rep* rep = newRep(capacity);
    std::memcpy(rep->iText, iRep->iText, std::size_t(iLength) * sizeof(char16_t));
    release();
    iRep = rep;
    return rep->iText;
}

OrvWstring& OrvWstring::assign(const unsigned short* text) { return assign(reinterpret_cast<const char16_t*>(text)); }

OrvWstring& OrvWstring::assign(const char16_t* text) {
    // Built aside first: `text` may point into this string.
    *this = OrvWstring(text);
    return *this;
}

OrvWstring& OrvWstring::append(const OrvWstring& other) {
    if (other.iLength == 0)
        return *this;
    const OrvWstring keep(other); // keeps the text alive when other is *this
    char16_t* out = writable(std::uint64_t(iLength) + keep.iLength);
    std::memcpy(out + iLength, keep.data(), std::size_t(keep.iLength) * sizeof(char16_t));
    iLength += keep.iLength;
    return *this;
}

OrvWstring& OrvWstring::insert(unsigned int position, unsigned int count, unsigned short codeUnit) {
    if (position > iLength)
        throw std::out_of_range("OrvWstring::insert: position past the end");
    if (count == 0)
        return *this;
    char16_t* out = writable(std::uint64_t(iLength) + count);
    std::memmove(out + position + count, out + position, std::size_t(iLength - position) * sizeof(char16_t));
    for (unsigned int i = 0; i < count; ++i)
        out[position + i] = static_cast<char16_t>(codeUnit);
    iLength += count;
    return *this;
}

OrvWstring OrvWstring::fromUtf8(const char* text, std::size_t size) {
    std::u16string out;
    out.reserve(size);
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    std::size_t i = 0;
    while (i < size) {
        std::uint32_t c = s[i];
        std::size_t extra = 0;
        std::uint32_t min = 0;
        if (c < 0x80) {
            extra = 0;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, c &= 0x1F, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, c &= 0x0F, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, c &= 0x07, min = 0x10000;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        std::size_t j = 1;
        for (; j <= extra; ++j) {
            if (i + j >= size || (s[i + j] & 0xC0) != 0x80)
                break;
            c = (c << 6) | (s[i + j] & 0x3F);
        }
        if (j <= extra || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out.push_back(0xFFFD);
            i += j;
            continue;
        }
        i += j;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return OrvWstring(out.data(), out.size());
}

void OrvWstring::appendUtf8To(std::string& out) const {
    const char16_t* p = data();
    for (std::uint32_t i = 0; i < iLength; ++i) {
        std::uint32_t c = p[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < iLength && p[i + 1] >= 0xDC00 && p[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (p[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
}

std::string OrvWstring::toUtf8() const {
    std::string out;
    out.reserve(iLength);
    appendUtf8To(out);
    return out;
}
