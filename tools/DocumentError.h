// SPDX-License-Identifier: Apache-2.0
// DocumentError.h - a document zaqxml cannot rewrite faithfully.
#ifndef ZAQ_TOOLS_DOCUMENT_ERROR_H
#define ZAQ_TOOLS_DOCUMENT_ERROR_H

#include <stdexcept>
#include <string>

/// Thrown from inside a parse when going on would write something other than
/// what the document means; reported with its position, exit status 2. The
/// position is taken where it is thrown: the parser's own is gone once the
/// parse has unwound.
class DocumentError : public std::runtime_error {
public:
    explicit DocumentError(const std::string& message, unsigned long long line = 0, unsigned long long column = 0)
        : std::runtime_error(message), iLine(line), iColumn(column) {}
    unsigned long long line() const { return iLine; }
    unsigned long long column() const { return iColumn; }

private:
    unsigned long long iLine;
    unsigned long long iColumn;
};

#endif
