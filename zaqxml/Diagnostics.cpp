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

std::string utf8(const XMLCh* text) { return text ? OrvWstring(text).toUtf8() : std::string(); }

void Diagnostics::startDocument(const std::string& name, const std::string& systemId) {
    iDocument = name;
    iSystemId = systemId;
    iLocator = nullptr;
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

void Diagnostics::atHere(const std::string& message, bool isWarning) {
    if (isWarning && iMuted)
        return;
    const unsigned long long line = iLocator ? static_cast<unsigned long long>(iLocator->getLineNumber()) : 0;
    const unsigned long long column = iLocator ? static_cast<unsigned long long>(iLocator->getColumnNumber()) : 0;
    const std::string name = iLocator ? where(utf8(iLocator->getSystemId())) : iDocument;
    if (isWarning)
        warning(name, line, column, message);
    else
        error(name, line, column, message);
}

DocumentError Diagnostics::failureHere(const std::string& message) const {
    if (iLocator == nullptr)
        return DocumentError(message);
    return DocumentError(message, static_cast<unsigned long long>(iLocator->getLineNumber()),
                         static_cast<unsigned long long>(iLocator->getColumnNumber()), utf8(iLocator->getSystemId()));
}

void Diagnostics::emit(const std::string& line) { std::fprintf(iOut, "%s\n", line.c_str()); }
