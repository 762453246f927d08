// SPDX-License-Identifier: Apache-2.0
// DefaultLiterals.cpp - a default's literal read again: references, line
// ends and the two normalisations.
#include "DefaultLiterals.h"

#include <cstdlib>
#include <vector>

void RawWindow::keep(const char* bytes, std::size_t length) {
    iBytes.append(bytes, length);
    if (iBytes.size() > 2 * KEPT) {
        const std::size_t drop = iBytes.size() - KEPT;
        iBytes.erase(0, drop);
        iStart += drop;
    }
}

std::string_view RawWindow::span(std::uint64_t from, std::uint64_t to) const {
    if (!iView.empty()) {
        if (to > iView.size())
            to = iView.size();
        return from < to ? iView.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from))
                         : std::string_view();
    }
    const std::uint64_t end = iStart + iBytes.size();
    if (to > end)
        to = end;
    if (from < iStart)
        from = iStart;
    if (from >= to)
        return std::string_view();
    return std::string_view(iBytes).substr(static_cast<std::size_t>(from - iStart),
                                           static_cast<std::size_t>(to - from));
}

namespace {

struct Unit {
    char16_t c;
    bool escaped; // from a reference
};

void push(std::vector<Unit>& out, std::uint32_t c, bool escaped) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out.push_back(Unit{static_cast<char16_t>(0xD800 + (c >> 10)), escaped});
        out.push_back(Unit{static_cast<char16_t>(0xDC00 + (c & 0x3FF)), escaped});
    } else {
        out.push_back(Unit{static_cast<char16_t>(c), escaped});
    }
}

// The literal's characters, references replaced; false for a reference to
// an entity other than the predefined ones, or bytes that are not UTF-8.
bool decode(std::string_view literal, std::vector<Unit>& out) {
    for (std::size_t i = 0; i < literal.size();) {
        const unsigned char b = static_cast<unsigned char>(literal[i]);
        if (b == '&') {
            const std::size_t end = literal.find(';', i);
            if (end == std::string_view::npos || end - i > 12)
                return false;
            const std::string name(literal.substr(i + 1, end - i - 1));
            static const char* const NAMES[] = {"lt", "gt", "amp", "apos", "quot"};
            static const char VALUES[] = {'<', '>', '&', '\'', '"'};
            std::uint32_t c = 0;
            if (name.size() > 1 && name[0] == '#') {
                const bool hex = name[1] == 'x';
                char* stop = nullptr;
                const unsigned long value = std::strtoul(name.c_str() + (hex ? 2 : 1), &stop, hex ? 16 : 10);
                if (*stop != 0 || value == 0 || value > 0x10FFFF)
                    return false;
                c = static_cast<std::uint32_t>(value);
            } else {
                std::size_t k = 0;
                while (k < 5 && name != NAMES[k])
                    ++k;
                if (k == 5)
                    return false;
                c = static_cast<unsigned char>(VALUES[k]);
            }
            push(out, c, true);
            i = end + 1;
        } else if (b == '\r') {
            push(out, '\n', false); // a line end, CR LF or CR alone
            i += i + 1 < literal.size() && literal[i + 1] == '\n' ? 2 : 1;
        } else if (b < 0x80) {
            if (b == '<')
                return false;
            push(out, b, false);
            ++i;
        } else {
            const std::size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
            if (length == 0 || i + length > literal.size())
                return false;
            std::uint32_t c = b & (0xFF >> (length + 1));
            for (std::size_t k = 1; k < length; ++k) {
                const unsigned char next = static_cast<unsigned char>(literal[i + k]);
                if ((next & 0xC0) != 0x80)
                    return false;
                c = (c << 6) | (next & 0x3F);
            }
            push(out, c, false);
            i += length;
        }
    }
    return true;
}

bool isWhite(char16_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

} // namespace

bool recoverDefault(std::string_view raw, std::u16string_view parsed, std::u16string& cdata) {
    while (!raw.empty() && isWhite(static_cast<char16_t>(raw.back())))
        raw.remove_suffix(1);
    if (raw.empty() || (raw.back() != '"' && raw.back() != '\''))
        return false;
    const std::size_t open = raw.substr(0, raw.size() - 1).rfind(raw.back());
    if (open == std::string_view::npos)
        return false;
    std::vector<Unit> units;
    if (!decode(raw.substr(open + 1, raw.size() - open - 2), units))
        return false;
    // The parser's normalisation of the other types: every white space
    // character, a referenced one too, separates tokens.
    std::u16string theirs;
    bool inWhite = true, any = false;
    for (const Unit& u : units) {
        if (isWhite(u.c)) {
            inWhite = true;
            continue;
        }
        if (inWhite && any)
            theirs += u' ';
        inWhite = false;
        any = true;
        theirs += u.c;
    }
    if (theirs != parsed)
        return false; // not this default's literal
    cdata.clear();
    for (const Unit& u : units)
        cdata += !u.escaped && isWhite(u.c) ? u' ' : u.c;
    return true;
}
