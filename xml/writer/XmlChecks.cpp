// SPDX-License-Identifier: Apache-2.0
// XmlChecks.cpp - Xerces-C's own character tables, applied to views.
#include "XmlChecks.h"

#include "XmlString.h"

#include <xercesc/util/XMLChar.hpp>

#include <cstdio>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace xmlchecks {

namespace {

bool isHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// XML 1.1's RestrictedChar: characters a 1.1 document holds only as
// references.
bool isRestricted(char16_t c) {
    return (c >= 0x1 && c <= 0x8) || c == 0xB || c == 0xC || (c >= 0xE && c <= 0x1F) || (c >= 0x7F && c <= 0x84) ||
           (c >= 0x86 && c <= 0x9F);
}

// How many of the code units from `text` on are printable ASCII (0x20 to
// 0x7E), which every context takes: eight at a time where SSE2 is there.
std::size_t printableAscii(const char16_t* text, std::size_t length) {
    std::size_t i = 0;
#if defined(__SSE2__)
    // In range exactly when (c - 0x20) is below 0x5F as an unsigned number:
    // flipping the top bit turns that into a signed comparison.
    const __m128i low = _mm_set1_epi16(0x20);
    const __m128i bound = _mm_set1_epi16(static_cast<short>(0x5F ^ 0x8000));
    const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
    for (; i + 8 <= length; i += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        const __m128i shifted = _mm_xor_si128(_mm_sub_epi16(units, low), flip);
        if (_mm_movemask_epi8(_mm_cmplt_epi16(shifted, bound)) != 0xFFFF)
            break;
    }
#endif
    while (i < length && text[i] >= 0x20 && text[i] < 0x7F)
        ++i;
    return i;
}

} // namespace

bool isNCName(std::u16string_view name, bool xml11) {
    if (name.empty())
        return false;
    // ASCII names, most of them, by hand: the same in both versions.
    std::size_t i = 0;
    for (; i < name.size() && name[i] < 0x80; ++i) {
        const char16_t c = name[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        if (!letter && (i == 0 || !((c >= '0' && c <= '9') || c == '.' || c == '-')))
            return false;
    }
    if (i == name.size())
        return true;
    // Xerces-C's XML 1.1 table takes a high surrogate at the end of a name
    // without its pair: every surrogate is checked for one here first.
    for (std::size_t k = i; k < name.size(); ++k) {
        if (isHigh(name[k]) && k + 1 < name.size() && isLow(name[k + 1]))
            ++k;
        else if (isHigh(name[k]) || isLow(name[k]))
            return false;
    }
    // XML 1.0 names by its fifth edition, which took XML 1.1's: the same
    // table for both versions. (Xerces-C's own 1.0 table follows the fifth
    // edition within the BMP only, and refuses every character beyond it.)
    (void)xml11;
    return xercesc::XMLChar1_1::isValidNCName(reinterpret_cast<const XMLCh*>(name.data()), name.size());
}

std::size_t firstForbidden(std::u16string_view text, bool xml11, bool referencesAllowed) {
    for (std::size_t i = printableAscii(text.data(), text.size()); i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0x20 && c < 0x7F)
            continue;
        if (isHigh(c)) {
            if (i + 1 < text.size() && isLow(text[i + 1])) {
                ++i;
                continue;
            }
            return i;
        }
        if (isLow(c) || c == 0)
            return i;
        if (xml11) {
            if (isRestricted(c) ? !referencesAllowed : !xercesc::XMLChar1_1::isXMLChar(c))
                return i;
        } else if (!xercesc::XMLChar1_0::isXMLChar(c)) {
            return i;
        }
    }
    return NONE;
}

bool isWhiteSpace(std::u16string_view text) {
    for (char16_t c : text)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
            return false;
    return true;
}

Reserved reservedRule(std::u16string_view prefix, std::u16string_view uri) {
    using zaq::XML_NAMESPACE_U16;
    using zaq::XMLNS_NAMESPACE_U16;
    if (prefix == u"xmlns")
        return Reserved::XmlnsPrefix;
    if ((prefix == u"xml") != (uri == XML_NAMESPACE_U16))
        return Reserved::XmlPairing;
    if (uri == XMLNS_NAMESPACE_U16)
        return Reserved::XmlnsNamespace;
    return Reserved::None;
}

bool utf8ToUtf16(std::string_view in, std::u16string& out) {
    out.clear();
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size();) {
        const unsigned char lead = static_cast<unsigned char>(in[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        std::size_t length;
        char32_t c;
        char32_t least;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, c = lead & 0x1Fu, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, c = lead & 0x0Fu, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, c = lead & 0x07u, least = 0x10000;
        } else {
            return false;
        }
        if (in.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(in[i + k]);
            if ((next & 0xC0u) != 0x80u)
                return false;
            c = (c << 6) | (next & 0x3Fu);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        i += length;
    }
    return true;
}

std::string quoted(std::u16string_view text, std::size_t most) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size() && i < most; ++i) {
        const char16_t c = text[i];
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
            out += escaped;
        }
    }
    if (text.size() > most)
        out += "...";
    return out + "\"";
}

} // namespace xmlchecks
