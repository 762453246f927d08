// SPDX-License-Identifier: Apache-2.0
// DocumentError.h - a document zaqxml cannot rewrite faithfully.
#ifndef ZAQXML_DOCUMENT_ERROR_H
#define ZAQXML_DOCUMENT_ERROR_H

#include <stdexcept>
#include <string>

/// Thrown from inside a parse when going on would write something other than
/// what the document means; reported with its position, exit status 2. The
/// position is taken where it is thrown: the parser's own is gone once the
/// parse has unwound.
class DocumentError : public std::runtime_error {
public:
    /// `entity`: the system id of the entity the position is in; empty for
    /// the document itself or unknown.
    explicit DocumentError(const std::string& message, unsigned long long line = 0, unsigned long long column = 0,
                           const std::string& entity = std::string())
        : std::runtime_error(message), iLine(line), iColumn(column), iEntity(entity) {}
    unsigned long long line() const { return iLine; }
    unsigned long long column() const { return iColumn; }
    const std::string& entity() const { return iEntity; }

private:
    unsigned long long iLine;
    unsigned long long iColumn;
    std::string iEntity;
};

#endif
