// SPDX-License-Identifier: Apache-2.0
// Diagnostics.cpp - the one printer of zaqxml's messages.
#include "Diagnostics.h"

#include <cstdio>

std::string printable(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        for (std::size_t k = 1; k < length; ++k)
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                length = 0;
        if (length == 0 || (c < 0x20 && c != '\t') || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
            ++i;
            continue;
        }
        out.append(text, i, length);
        i += length;
    }
    return out;
}

void report(const std::string& name, unsigned long long line, unsigned long long column, const std::string& message) {
    if (line > 0)
        std::fprintf(stderr, "%s:%llu:%llu: %s\n", printable(name).c_str(), line, column, printable(message).c_str());
    else
        std::fprintf(stderr, "%s: %s\n", printable(name).c_str(), printable(message).c_str());
}

void warning(const std::string& name, unsigned long long line, unsigned long long column, const std::string& message) {
    report(name, line, column, "warning: " + message);
}
