// SPDX-License-Identifier: Apache-2.0
// Diagnostics.cpp - the one printer of zaqxml's messages.
#include "Diagnostics.h"

#include "OrvWstring.h"

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

std::string utf8(const char16_t* text) { return text ? OrvWstring(text).toUtf8() : std::string(); }

void Diagnostics::startDocument(const std::string& name, const std::string& systemId) {
    iDocument = name;
    iSystemId = systemId;
    iHeld.clear();
}

void Diagnostics::error(const std::string& name, unsigned long long line, unsigned long long column,
                        const std::string& message) {
    std::string text = printable(name);
    if (line > 0)
        text += ":" + std::to_string(line) + ":" + std::to_string(column);
    emit(text + ": " + printable(message));
}

void Diagnostics::warning(const std::string& name, unsigned long long line, unsigned long long column,
                          const std::string& message) {
    if (iMuted)
        return;
    error(name, line, column, "warning: " + message);
}

std::string Diagnostics::where(const std::string& systemId) const {
    return systemId.empty() || systemId == iSystemId ? iDocument : iDocument + " (entity " + systemId + ")";
}

void Diagnostics::placeWarnings(unsigned long long line, unsigned long long column, const std::string& systemId) {
    const std::string name = where(systemId);
    for (const std::string& message : iHeld)
        warning(name, line, column, message);
    iHeld.clear();
}

void Diagnostics::emit(const std::string& line) { std::fprintf(iOut, "%s\n", line.c_str()); }
