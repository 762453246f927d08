// SPDX-License-Identifier: Apache-2.0
// XmlOutput.cpp - UTF-16 to UTF-8 with the escaping of each context.
#include "XmlOutput.h"

#include <xercesc/util/XMLString.hpp>

#include <cstdint>

namespace {

void appendReference(std::string& out, std::uint32_t c) {
    out += "&#";
    out += std::to_string(c);
    out += ';';
}

} // namespace

// Text keeps CR as a reference (a parser would turn a raw one into LF);
// attribute values also keep tab and newlines, which a parser would
// normalise to spaces.
void Utf8Output::append(const XMLCh* text, std::size_t length, Escape escape) {
    std::string& out = iBuffer;
    for (std::size_t i = 0; i < length; ++i) {
        std::uint32_t c = text[i];
        if (c < 0x80) {
            if (escape != Escape::None) {
                switch (c) {
                case '&':
                    out += "&amp;";
                    continue;
                case '<':
                    out += "&lt;";
                    continue;
                case '>':
                    if (escape == Escape::Text) {
                        out += "&gt;";
                        continue;
                    }
                    break;
                case '"':
                    if (escape == Escape::Attribute) {
                        out += "&quot;";
                        continue;
                    }
                    break;
                case '\r':
                    out += "&#13;";
                    continue;
                case '\n':
                    if (escape == Escape::Attribute) {
                        out += "&#10;";
                        continue;
                    }
                    break;
                case '\t':
                    if (escape == Escape::Attribute) {
                        out += "&#9;";
                        continue;
                    }
                    break;
                default:
                    // XML 1.1 takes the other C0 controls and DEL only as
                    // references.
                    if (iXml11 && (c < 0x20 || c == 0x7F)) {
                        appendReference(out, c);
                        continue;
                    }
                    break;
                }
            }
            out.push_back(static_cast<char>(c));
            continue;
        }
        // XML 1.1 restricts the C1 controls and reads NEL and LINE SEPARATOR
        // as line ends: only references keep them.
        if (iXml11 && escape != Escape::None && (c <= 0x9F || c == 0x2028)) {
            appendReference(out, c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        }
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void Utf8Output::append(const XMLCh* text, Escape escape) { append(text, xercesc::XMLString::stringLen(text), escape); }

bool Utf8Output::flush() {
    if (!iBuffer.empty() && !iFailed && std::fwrite(iBuffer.data(), 1, iBuffer.size(), iFile) != iBuffer.size())
        iFailed = true;
    iWritten += iBuffer.size();
    iBuffer.clear();
    return !iFailed;
}
