// SPDX-License-Identifier: Apache-2.0
// StartTagGuard.cpp - the markup followed just far enough to count attributes.
#include "StartTagGuard.h"

#include "DocumentError.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

bool isSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isQuote(unsigned char c) { return c == '"' || c == '\''; }

// Where `c` first stands in bytes[from, size), or `size`.
std::size_t find(const unsigned char* bytes, std::size_t from, std::size_t size, unsigned char c) {
    const void* at = std::memchr(bytes + from, c, size - from);
    return at != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char*>(at) - bytes) : size;
}

constexpr char XMLNS[] = "xmlns";

std::size_t lineFeeds(const unsigned char* bytes, std::size_t size) {
    std::size_t count = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    // Each byte lane counts its line feeds (a match is -1) for up to 255
    // blocks, then the lanes are summed; no population count is needed,
    // which a build for the baseline processor calls a function for.
    const __m128i feed = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128();
    while (i + 16 <= size) {
        __m128i lanes = zero;
        for (int blocks = 0; blocks < 255 && i + 16 <= size; ++blocks, i += 16) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
            lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(chunk, feed));
        }
        const __m128i sums = _mm_sad_epu8(lanes, zero);
        count += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
                 static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    }
#endif
    for (; i < size; ++i)
        count += bytes[i] == '\n';
    return count;
}

// The bytes that end an element name, and an attribute name, as classes of
// one table: most of a start tag is names, passed over a byte at a time.
constexpr unsigned char END_OF_NAME = 1;
constexpr unsigned char END_OF_ATTRIBUTE_NAME = 2;
struct Ends {
    unsigned char of[256] = {};
    constexpr Ends() {
        for (const unsigned char c : {' ', '\t', '\r', '\n', '>'})
            of[c] = END_OF_NAME | END_OF_ATTRIBUTE_NAME;
        of[static_cast<unsigned char>('/')] = END_OF_NAME;
        of[static_cast<unsigned char>('=')] = END_OF_ATTRIBUTE_NAME;
    }
};
constexpr Ends ENDS;
bool ends(unsigned char c, unsigned char which) { return (ENDS.of[c] & which) != 0; }

} // namespace

void StartTagGuard::scan(const unsigned char* bytes, std::size_t size) {
    if (iWidth != 0 && iStart.size() < 4) {
        // The first four bytes tell the encoding; fewer hold no start tag
        // that could be refused.
        iStart.append(reinterpret_cast<const char*>(bytes), size);
        if (iStart.size() < 4)
            return;
        const std::string start = std::move(iStart);
        iStart.assign(4, ' ');
        const auto* head = reinterpret_cast<const unsigned char*>(start.data());
        const std::size_t mark = decide(head);
        return scan(head + mark, start.size() - mark);
    }
    if (iWidth == 1)
        follow(bytes, size);
    else if (iWidth > 1)
        narrow(bytes, size);
}

std::size_t StartTagGuard::decide(const unsigned char* head) {
    auto startsWith = [&](std::initializer_list<unsigned char> bytes) {
        return std::equal(bytes.begin(), bytes.end(), head);
    };
    if (startsWith({0x00, 0x00, 0xFE, 0xFF}) || startsWith({0x00, 0x00, 0x00, 0x3C}))
        iWidth = 4;
    else if (startsWith({0xFF, 0xFE, 0x00, 0x00}) || startsWith({0x3C, 0x00, 0x00, 0x00}))
        iWidth = 4, iLittleEndian = true;
    else if (startsWith({0xFE, 0xFF}) || startsWith({0x00, 0x3C}))
        iWidth = 2;
    else if (startsWith({0xFF, 0xFE}) || startsWith({0x3C, 0x00}))
        iWidth = 2, iLittleEndian = true;
    else if (startsWith({0x4C, 0x6F, 0xA7, 0x94})) // "<?xm" in EBCDIC
        iWidth = 0;
    // A byte order mark is no character: positions count from after it.
    if (startsWith({0xEF, 0xBB, 0xBF}))
        return 3;
    return head[0] == 0xFE || head[0] == 0xFF || (iWidth == 4 && head[2] == 0xFE) ? iWidth : 0;
}

// Each code unit as its ASCII byte, or as 0x80 (no markup) when it is not
// ASCII; a unit cut by the end of a read is completed by the next one.
void StartTagGuard::narrow(const unsigned char* bytes, std::size_t size) {
    iNarrow.clear();
    const unsigned asciiAt = iLittleEndian ? 0 : iWidth - 1;
    for (std::size_t i = 0; i < size; ++i) {
        iUnit[iUnitFill++] = bytes[i];
        if (iUnitFill < iWidth)
            continue;
        iUnitFill = 0;
        bool ascii = iUnit[asciiAt] < 0x80;
        for (unsigned k = 0; k < iWidth; ++k)
            ascii = ascii && (k == asciiAt || iUnit[k] == 0);
        iNarrow.push_back(static_cast<char>(ascii ? iUnit[asciiAt] : 0x80));
    }
    follow(reinterpret_cast<const unsigned char*>(iNarrow.data()), iNarrow.size());
}

bool StartTagGuard::precededBy(const unsigned char* bytes, std::size_t at, unsigned char first,
                               unsigned char second) const {
    const unsigned char last = at >= 1 ? bytes[at - 1] : iTail[1];
    const unsigned char beforeLast = at >= 2 ? bytes[at - 2] : at == 1 ? iTail[1] : iTail[0];
    return beforeLast == first && last == second;
}

void StartTagGuard::follow(const unsigned char* bytes, std::size_t size) {
    if (size == 0)
        return; // a read that only began a code unit
    std::size_t i = 0;
    // The states that only look for their end jump to it.
    auto closeAt = [&](unsigned char c) {
        const std::size_t at = find(bytes, i, size, c);
        i = at < size ? at + 1 : size;
        return at < size ? at : std::size_t(-1);
    };
    while (i < size) {
        const unsigned char c = bytes[i];
        switch (iState) {
        case State::Text:
            if (closeAt('<') != std::size_t(-1))
                iState = State::Open;
            break;
        case State::Open:
            iState = c == '!' ? State::Bang : c == '?' ? State::Pi : c == '/' ? State::EndTag : State::TagName;
            iReturn = State::Text;
            iAttributes = 0;
            ++i;
            break;
        case State::Bang:
            if (c == '-' || c == '[') {
                iState = c == '-' ? State::Comment : State::CData;
                ++i;
            } else {
                iState = State::Doctype;
            }
            break;
        case State::Comment:
        case State::CData:
        case State::Pi: {
            const std::size_t at = closeAt('>');
            if (at == std::size_t(-1))
                break;
            if ((iState == State::Comment && precededBy(bytes, at, '-', '-')) ||
                (iState == State::CData && precededBy(bytes, at, ']', ']')) ||
                (iState == State::Pi && (at >= 1 ? bytes[at - 1] : iTail[1]) == '?'))
                iState = iReturn;
            break;
        }
        case State::EndTag:
            if (closeAt('>') != std::size_t(-1))
                iState = State::Text;
            break;
        case State::TagName:
            while (i < size && !ends(bytes[i], END_OF_NAME))
                ++i;
            if (i < size) {
                iState = bytes[i] == '>' ? State::Text : State::TagSpace;
                ++i;
            }
            break;
        case State::TagSpace:
            // One attribute after another in this loop; where a read ends
            // inside one, the state says where to go on.
            while (iState == State::TagSpace) {
                while (i < size && (isSpace(bytes[i]) || bytes[i] == '/'))
                    ++i;
                if (i == size)
                    break;
                if (bytes[i] == '>') {
                    iState = State::Text;
                    ++i;
                    break;
                }
                if (++iAttributes > iMax) {
                    refuse(bytes, i,
                           "a start tag with more than " + std::to_string(iMax) +
                               " attributes; --max-attributes raises the limit");
                }
                while (++i < size && !ends(bytes[i], END_OF_ATTRIBUTE_NAME)) {
                }
                if (i == size) {
                    iState = State::AttrName;
                    break;
                }
                if (bytes[i] == '>') {
                    iState = State::Text;
                    ++i;
                    break;
                }
                while (i < size && (bytes[i] == '=' || isSpace(bytes[i])))
                    ++i;
                if (i == size) {
                    iState = State::BeforeValue;
                    break;
                }
                if (!isQuote(bytes[i]))
                    continue; // not well-formed: the parser says so
                iQuote = bytes[i++];
                if (closeAt(iQuote) == std::size_t(-1))
                    iState = State::Value;
            }
            break;
        case State::AttrName:
            while (i < size && !ends(bytes[i], END_OF_ATTRIBUTE_NAME))
                ++i;
            if (i < size) {
                iState = bytes[i] == '>' ? State::Text : State::BeforeValue;
                ++i;
            }
            break;
        case State::BeforeValue:
            if (isQuote(c)) {
                iQuote = c;
                iState = State::Value;
                ++i;
            } else if (c == '=' || isSpace(c)) {
                ++i;
            } else {
                iState = State::TagSpace; // not well-formed: the parser says so
            }
            break;
        case State::Value:
            if (closeAt(iQuote) != std::size_t(-1))
                iState = State::TagSpace;
            break;
        case State::Doctype:
        case State::Subset:
            if (isQuote(c)) {
                iQuote = c;
                iReturn = iState;
                iDeclarations = 0;
                iMatched = 0;
                iState = State::Literal;
            } else if (iState == State::Doctype) {
                iState = c == '[' ? State::Subset : c == '>' ? State::Text : State::Doctype;
            } else {
                iState = c == '<' ? State::SubsetOpen : c == ']' ? State::Doctype : State::Subset;
            }
            ++i;
            break;
        case State::SubsetOpen:
            iReturn = State::Subset;
            iState = c == '?' ? State::Pi : c == '!' ? State::SubsetBang : State::Subset;
            if (c == '?' || c == '!')
                ++i;
            break;
        case State::SubsetBang:
            if (c == '-') {
                iState = State::Comment;
                ++i;
            } else {
                iState = State::Subset; // a declaration: its literals are followed there
            }
            break;
        case State::Literal:
            // An entity's value may hold a start tag: its namespace
            // declarations are counted, as the parser will read them there.
            for (; i < size && bytes[i] != iQuote; ++i) {
                const unsigned char b = bytes[i];
                iMatched = b == static_cast<unsigned char>(XMLNS[iMatched]) ? iMatched + 1 : b == 'x' ? 1 : 0;
                if (iMatched == 5) {
                    iMatched = 0;
                    if (++iDeclarations > iMax)
                        refuse(bytes, i,
                               "a literal in the DTD with more than " + std::to_string(iMax) +
                                   " namespace declarations; --max-attributes raises the limit");
                }
            }
            if (i < size) {
                iState = iReturn;
                ++i;
            }
            break;
        }
    }

    // The position, for a later refusal, and the tail, for a later close.
    const std::size_t lines = lineFeeds(bytes, size);
    if (lines > 0) {
        iLine += lines;
        std::size_t last = size;
        while (bytes[--last] != '\n') {
        }
        iLineStart = iOffset + last + 1;
    }
    iOffset += size;
    iTail[0] = size >= 2 ? bytes[size - 2] : iTail[1];
    iTail[1] = bytes[size - 1];
}

void StartTagGuard::refuse(const unsigned char* bytes, std::size_t at, const std::string& message) const {
    std::uint64_t line = iLine;
    std::uint64_t lineStart = iLineStart;
    for (std::size_t k = 0; k < at; ++k)
        if (bytes[k] == '\n') {
            ++line;
            lineStart = iOffset + k + 1;
        }
    throw DocumentError(message, line, iOffset + at - lineStart + 1);
}
