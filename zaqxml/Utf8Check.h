// SPDX-License-Identifier: Apache-2.0
// Utf8Check.h - a UTF-8 document's bytes checked as they are read, and the
// encoding an XML declaration names.
#ifndef ZAQXML_UTF8_CHECK_H
#define ZAQXML_UTF8_CHECK_H

#include "DocumentError.h"

#include <xercesc/util/XercesDefs.hpp>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The encoding that an XML declaration at the start of `head` names, in
// lower case; empty where there is no declaration or it names none.
inline std::string declaredEncoding(const std::string& head) {
    if (head.compare(0, 5, "<?xml") != 0)
        return std::string();
    const std::size_t end = head.find("?>");
    const std::size_t at = head.find("encoding");
    if (at == std::string::npos || (end != std::string::npos && at > end))
        return std::string();
    std::size_t quote = head.find_first_of("\"'", at);
    std::string name;
    while (quote != std::string::npos && ++quote < head.size() && head[quote] != '"' && head[quote] != '\'')
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(head[quote])));
    return name;
}

/// Checks a UTF-8 document's bytes as they are read, so that a byte that is
/// not UTF-8, or a NUL, is reported where it stands (the parser transcodes
/// ahead and reports such bytes at the wrong place, or as the end of input).
/// Documents in any other encoding pass unchecked.
class Utf8Check {
public:
    void scan(const XMLByte* bytes, std::size_t size) {
        if (!iDecided)
            decide(bytes, size);
        if (!iActive)
            return;
        for (std::size_t i = 0; i < size; ++i) {
            // Many bytes at a time while they are ASCII and neither NUL nor
            // a line end: most of a document.
            if (iPending == 0) {
                const std::size_t from = i;
#if defined(__SSE2__)
                while (i + 32 <= size) {
                    const unsigned plain = plainOfThirtyTwo(bytes + i);
                    i += plain;
                    if (plain < 32)
                        break;
                }
#else
                while (i + 8 <= size && plainAscii(bytes + i))
                    i += 8;
#endif
                if (i > from) {
                    iColumn += i - from;
                    iAfterCr = false;
                }
                if (i == size)
                    break;
            }
            const XMLByte c = bytes[i];
            if (iPending > 0) {
                if ((c & 0xC0) != 0x80)
                    throw DocumentError("a UTF-8 sequence is cut short", iLine, iColumn);
                --iPending;
                continue;
            }
            // Line ends as the parser counts them: LF, CR, and CR LF as one.
            if (c == '\n' || c == '\r') {
                if (c == '\r' || !iAfterCr) {
                    ++iLine;
                    iColumn = 0;
                }
                iAfterCr = c == '\r';
                continue;
            }
            iAfterCr = false;
            ++iColumn;
            if (c == 0)
                throw DocumentError("a NUL byte (\\x00) is not allowed in XML", iLine, iColumn);
            if (c < 0x80)
                continue;
            if (c >= 0xC2 && c <= 0xDF)
                iPending = 1;
            else if (c >= 0xE0 && c <= 0xEF)
                iPending = 2;
            else if (c >= 0xF0 && c <= 0xF4) {
                iPending = 3;
                ++iColumn; // two UTF-16 code units, two columns for the parser
            } else
                invalid(c);
        }
    }

private:
#if defined(__SSE2__)
    // The bytes of sixteen that are not ASCII, or are NUL or a line end.
    static unsigned oddOfSixteen(const XMLByte* p) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i special = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_setzero_si128()), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))),
            _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')));
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(bytes, special)));
    }
    // How many of thirty-two bytes, from the first, are ASCII other than NUL
    // and the line ends.
    static unsigned plainOfThirtyTwo(const XMLByte* p) {
        const unsigned mask = oddOfSixteen(p) | oddOfSixteen(p + 16) << 16;
        return mask == 0 ? 32u : static_cast<unsigned>(__builtin_ctz(mask));
    }
#else
    static bool plainAscii(const XMLByte* p) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        constexpr std::uint64_t ONES = 0x0101010101010101u;
        constexpr std::uint64_t HIGH = 0x8080808080808080u;
        const std::uint64_t feeds = word ^ (ONES * '\n');
        const std::uint64_t returns = word ^ (ONES * '\r');
        // A byte is 0 in `word` (NUL), `feeds` or `returns` (a line end)
        // exactly when the classic zero-byte test sets its high bit.
        const std::uint64_t special =
            ((word - ONES) & ~word) | ((feeds - ONES) & ~feeds) | ((returns - ONES) & ~returns);
        return ((word | special) & HIGH) == 0;
    }
#endif

    [[noreturn]] void invalid(XMLByte c) const {
        char text[8];
        std::snprintf(text, sizeof text, "\\x%02X", c);
        throw DocumentError(std::string("the byte ") + text + " is not UTF-8, the document's encoding", iLine, iColumn);
    }

    // UTF-8 unless a byte order mark or the XML declaration says otherwise.
    void decide(const XMLByte* bytes, std::size_t size) {
        iDecided = true;
        const std::string_view head(reinterpret_cast<const char*>(bytes), size);
        if (head.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            iActive = true;
            return;
        }
        if (head.compare(0, 5, "<?xml") != 0) {
            // Markup or white space in ASCII: UTF-8, the default; followed by
            // a NUL, it is UTF-16LE or UTF-32LE without a byte order mark.
            // Anything else (UTF-16BE, EBCDIC) is the parser's to decode.
            iActive = !head.empty() &&
                      (head[0] == '<' || head[0] == ' ' || head[0] == '\t' || head[0] == '\r' || head[0] == '\n') &&
                      (head.size() < 2 || head[1] != 0);
            return;
        }
        // The whole declaration, however long: one that does not end in
        // these bytes leaves the encoding to the parser.
        const std::size_t end = head.find("?>");
        if (end == std::string_view::npos)
            return;
        const std::string name = declaredEncoding(std::string(head.substr(0, end + 2)));
        iActive = name.empty() || name == "utf-8" || name == "utf8";
    }

    bool iDecided = false;
    bool iActive = false;
    int iPending = 0;
    bool iAfterCr = false; // the last byte was a CR: an LF now ends no further line
    unsigned long long iLine = 1;
    unsigned long long iColumn = 0;
};

#endif
