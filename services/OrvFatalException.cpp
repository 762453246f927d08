// SPDX-License-Identifier: Apache-2.0
// OrvFatalException.cpp - fatal exception identity and message.
#include "OrvFatalException.h"

#include <cstring>

OrvFatalException::OrvFatalException(const char* sourceFile, int line, const char* function,
                                     const OrvWstring& logSource, int messageId)
    : OrvLog::Item(function), iSourceFile(sourceFile), iLine(line), iLogSource(logSource), iMessageId(messageId) {}

OrvFatalException::~OrvFatalException() = default;

std::string OrvFatalException::messageNumber() const {
    return "ZAQ" + std::to_string(static_cast<unsigned int>(iMessageId) & 0xFFFFu);
}

std::string OrvFatalException::describe() const {
    // The inserts are the message text, the text again for the second
    // language slot, then the message's own values.
    std::string text = messageNumber();
    text += ": ";
    text += iInserts.empty() ? "fatal error" : iInserts.front();
    for (std::size_t i = 2; i < iInserts.size(); ++i) {
        text += i == 2 ? " [" : ", ";
        text += iInserts[i];
        if (i + 1 == iInserts.size())
            text += ']';
    }
    const char* file = iSourceFile ? iSourceFile : "?";
    if (const char* slash = std::strrchr(file, '/'))
        file = slash + 1;
    text += " (";
    text += file;
    text += ':';
    text += std::to_string(iLine);
    text += ", ";
    text += iFunction ? iFunction : "?";
    text += ')';
    return text;
}

void OrvFatalException::throwThis() const {
    OrvFatalException copy(*this);
    copy.iWhat = copy.describe();
    throw copy;
}

const char* OrvFatalException::what() const noexcept { return iWhat.empty() ? "OrvFatalException" : iWhat.c_str(); }
