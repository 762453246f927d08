// SPDX-License-Identifier: Apache-2.0
// OrvFatalException.h - the exception raised for unrecoverable errors.
#ifndef ZAQPREFIXMGR_ORV_FATAL_EXCEPTION_H
#define ZAQPREFIXMGR_ORV_FATAL_EXCEPTION_H

#include "OrvLog.h"
#include "OrvServicesExport.h"
#include "OrvWstring.h"

#include <exception>
#include <string>

/// An unrecoverable error: where it was raised, which message it carries
/// (the message number with its two top bits set, 0xC000083F for 2111) and
/// the message's inserts, the first of which is the message text.
/// `what()` reads "ZAQ2111: Non-positive size memory pool (file:line, function)".
class ORV_SERVICES_EXPORT OrvFatalException : public OrvLog::Item, public std::exception {
public:
    /// Raised at `sourceFile`:`line` in `function` (both kept as pointers: pass literals)
    /// by `logSource` with the message numbered `messageId` (severity bits included).
    OrvFatalException(const char* sourceFile, int line, const char* function, const OrvWstring& logSource,
                      int messageId);
    /// An independent copy.
    OrvFatalException(const OrvFatalException&) = default;
    /// Becomes an independent copy of the other.
    OrvFatalException& operator=(const OrvFatalException&) = default;
    ~OrvFatalException() override;

    /// Throws an independent copy of this object; never returns.
    [[noreturn]] void throwThis() const;

    /// The message number, text and place, as in the class description.
    const char* what() const noexcept override;

    /// The source file that raised the exception.
    const char* sourceFile() const noexcept { return iSourceFile; }
    /// The line in `sourceFile`.
    int line() const noexcept { return iLine; }
    /// The name of the log source that raised it.
    const OrvWstring& logSource() const noexcept { return iLogSource; }
    /// The message number with its severity bits, e.g. 0xC000083F.
    int messageId() const noexcept { return iMessageId; }
    /// The message number without the severity bits, as "ZAQ2111".
    std::string messageNumber() const;

private:
    std::string describe() const;

    const char* iSourceFile;
    int iLine;
    OrvWstring iLogSource;
    int iMessageId;
    std::string iWhat;
};

#endif
