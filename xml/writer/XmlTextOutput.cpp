// SPDX-License-Identifier: Apache-2.0
// XmlTextOutput.cpp - UTF-16 to UTF-8 with the escaping of each context.
#include "XmlTextOutput.h"

#include <cstdio>

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zaq {

namespace {

#if defined(__SSE2__)
// Whether each of sixteen bytes is other than printable ASCII or one of
// & < > " (which go out as they are in every context): as signed bytes,
// 0x80 and above are "below space".
inline unsigned oddOfSixteen(__m128i bytes) {
    __m128i odd = _mm_or_si128(_mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20)), _mm_cmpeq_epi8(bytes, _mm_set1_epi8(0x7F)));
    odd = _mm_or_si128(odd, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('&')));
    odd = _mm_or_si128(odd, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('<')));
    odd = _mm_or_si128(odd, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('>')));
    odd = _mm_or_si128(odd, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')));
    return static_cast<unsigned>(_mm_movemask_epi8(odd));
}

// Stores sixteen code units as bytes and returns how many of them, from the
// first, are plain (see above); the bytes past those are scratch. The pack
// saturates: a unit above 0xFF becomes 0xFF or 0x00, both odd.
inline unsigned plainOfSixteen(const char16_t* text, char* out) {
    const __m128i bytes = _mm_packus_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text)),
                                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 8)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    const unsigned mask = oddOfSixteen(bytes);
    return mask == 0 ? 16u : static_cast<unsigned>(__builtin_ctz(mask));
}

// The same for eight code units.
inline unsigned plainOfEight(const char16_t* text, char* out) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    const __m128i bytes = _mm_packus_epi16(units, units);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
    const unsigned mask = oddOfSixteen(bytes) & 0xFFu;
    return mask == 0 ? 8u : static_cast<unsigned>(__builtin_ctz(mask));
}
#endif

// The most bytes one UTF-16 code unit becomes: "&#8232;".
constexpr std::size_t MOST_PER_UNIT = 8;
// Text is converted in slices, so that room for the worst case stays small.
constexpr std::size_t SLICE = 4096;

char* reference(char* out, std::uint32_t c, bool hex) {
    return out + std::sprintf(out, hex ? "&#x%X;" : "&#%u;", static_cast<unsigned>(c));
}

} // namespace

// Copied rather than referred to, so that they are ready before any static
// object of another file could write.
const bool XmlTextOutput::NOTHING_SPECIAL[128] = {};
const bool XmlTextOutput::TEXT_SPECIAL[128] = {
    true,  true,  true,  true,  true,  true,  true,  true,  true,  false, false, true,  true,  true,  true,  true,
    true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,
    false, false, false, false, false, false, true,  false, false, false, false, false, false, false, false, false,
    false, false, false, false, false, false, false, false, false, false, false, false, true,  false, true,  false,
    false, false, false, false, false, false, false, false, false, false, false, false, false, false, false, false,
    false, false, false, false, false, false, false, false, false, false, false, false, false, false, false, false,
    false, false, false, false, false, false, false, false, false, false, false, false, false, false, false, false,
    false, false, false, false, false, false, false, false, false, false, false, false, false, false, false, true};
const bool XmlTextOutput::ATTRIBUTE_SPECIAL[128] = {
    true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,
    true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,
    false, false, true,  false, false, false, true,  false, false, false, false, false, false, false, false, false,
    false, false, false, false, false, false, false, false, false, false, false, false, true,  false, false, false,
    false, false, false, false, false, false, false, false, false, false, false, false, false, false, false, false,
    false, false, false, false, false, false, false, false, false, false, false, false, false, false, false, false,
    false, false, false, false, false, false, false, false, false, false, false, false, false, false, false, false,
    false, false, false, false, false, false, false, false, false, false, false, false, false, false, false, true};

XmlTextOutput::XmlTextOutput(XmlSink& sink)
    : iSink(sink), iData(new char[FLUSH_AT + 2 * SLICE * MOST_PER_UNIT]),
      iCapacity(FLUSH_AT + 2 * SLICE * MOST_PER_UNIT) {}

void XmlTextOutput::grow(std::size_t length) {
    std::size_t capacity = iCapacity * 2;
    while (capacity - iSize < length)
        capacity *= 2;
    std::unique_ptr<char[]> data(new char[capacity]);
    std::memcpy(data.get(), iData.get(), iSize);
    iData = std::move(data);
    iCapacity = capacity;
}

void XmlTextOutput::appendLong(const char16_t* text, std::size_t length, Escape escape) {
    const bool* special = specialOf(escape);
    while (length > 0) {
        std::size_t slice = length < SLICE ? length : SLICE;
        // A surrogate pair stays in one slice.
        if (slice < length && text[slice - 1] >= 0xD800 && text[slice - 1] <= 0xDBFF)
            ++slice;
        appendSlice(text, slice, special);
        text += slice;
        length -= slice;
    }
}

// Text keeps CR as a reference (a parser would turn a raw one into LF);
// attribute values also keep tab and newlines, which a parser would
// normalise to spaces.
void XmlTextOutput::appendSlice(const char16_t* text, std::size_t length, const bool* special) {
    char* out = room(length * MOST_PER_UNIT);
    const bool escaping = special != NOTHING_SPECIAL;
    for (std::size_t i = 0; i < length; ++i) {
#if defined(__SSE2__)
        unsigned plain = 16;
        while (plain == 16 && i + 16 <= length) {
            plain = plainOfSixteen(text + i, out);
            i += plain;
            out += plain;
        }
        if (plain == 16 && i + 8 <= length) {
            plain = plainOfEight(text + i, out);
            i += plain;
            out += plain;
        }
        if (i == length)
            break;
#endif
        std::uint32_t c = text[i];
        if (c < 0x80) {
            if (!special[c]) {
                *out++ = static_cast<char>(c);
                continue;
            }
            switch (c) {
            case '&':
                std::memcpy(out, "&amp;", 5);
                out += 5;
                break;
            case '<':
                std::memcpy(out, "&lt;", 4);
                out += 4;
                break;
            case '>':
                std::memcpy(out, "&gt;", 4);
                out += 4;
                break;
            case '"':
                std::memcpy(out, "&quot;", 6);
                out += 6;
                break;
            case '\r':
            case '\n':
            case '\t':
                out = reference(out, c, iHexReferences);
                break;
            default:
                // XML 1.1 takes the other C0 controls and DEL only as
                // references; XML 1.0 has them raw or not at all.
                if (iXml11)
                    out = reference(out, c, iHexReferences);
                else
                    *out++ = static_cast<char>(c);
                break;
            }
            continue;
        }
        // XML 1.1 restricts the C1 controls and reads NEL and LINE SEPARATOR
        // as line ends: only references keep them.
        if (iXml11 && escaping && (c <= 0x9F || c == 0x2028)) {
            out = reference(out, c, iHexReferences);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x800) {
            *out++ = static_cast<char>(0xC0 | (c >> 6));
        } else if (c < 0x10000) {
            *out++ = static_cast<char>(0xE0 | (c >> 12));
            *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        } else {
            *out++ = static_cast<char>(0xF0 | (c >> 18));
            *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        }
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    iSize = static_cast<std::size_t>(out - iData.get());
}

bool XmlTextOutput::flush() {
    std::size_t upTo = iSize;
    if (iHoldFrom != NO_HOLD && iHoldFrom < iWritten + iSize)
        upTo = iHoldFrom > iWritten ? static_cast<std::size_t>(iHoldFrom - iWritten) : 0;
    if (upTo > 0 && !iFailed && !iSink.write(iData.get(), upTo))
        iFailed = true;
    if (upTo < iSize && upTo > 0)
        std::memmove(iData.get(), iData.get() + upTo, iSize - upTo);
    iWritten += upTo;
    iSize -= upTo;
    // A buffer grown for one long item (an attribute value is written
    // whole) is given back once it is empty, keeping a stream's memory what
    // the stream needs now.
    constexpr std::size_t FIRST_CAPACITY = FLUSH_AT + 2 * SLICE * MOST_PER_UNIT;
    if (iSize == 0 && iCapacity > 8 * FIRST_CAPACITY) {
        iData.reset(new char[FIRST_CAPACITY]);
        iCapacity = FIRST_CAPACITY;
    }
    return !iFailed;
}

void XmlTextOutput::replaceFrom(std::uint64_t position, const char* bytes, std::size_t length) {
    iSize = static_cast<std::size_t>(position - iWritten);
    put(bytes, length);
}

} // namespace zaq
