// SPDX-License-Identifier: Apache-2.0
// DocumentError.h - a document zaqxml cannot rewrite faithfully.
#ifndef ZAQXML_DOCUMENT_ERROR_H
#define ZAQXML_DOCUMENT_ERROR_H

#include <stdexcept>
#include <string>

/// Thrown from inside a parse when going on would write something other than
/// what the document means; reported with its position, exit status 2. The
/// position is given on the parser's side before the parse unwinds (its
/// own is gone after): where it is thrown there, or, for one made by `here`
/// in a later stage, as it passes back through the handler of the event.
class DocumentError : public std::runtime_error {
public:
    /// `entity`: the system id of the entity the position is in; empty for
    /// the document itself or unknown.
    explicit DocumentError(const std::string& message, unsigned long long line = 0, unsigned long long column = 0,
                           const std::string& entity = std::string())
        : std::runtime_error(message), iLine(line), iColumn(column), iEntity(entity) {}
    /// A failure at the position being read, which the reading side
    /// gives it (`place`).
    static DocumentError here(const std::string& message) {
        DocumentError error(message);
        error.iUnplaced = true;
        return error;
    }
    /// Whether it waits for its position.
    bool unplaced() const { return iUnplaced; }
    void place(unsigned long long line, unsigned long long column, const std::string& entity) {
        iLine = line;
        iColumn = column;
        iEntity = entity;
        iUnplaced = false;
    }
    unsigned long long line() const { return iLine; }
    unsigned long long column() const { return iColumn; }
    const std::string& entity() const { return iEntity; }

private:
    unsigned long long iLine;
    unsigned long long iColumn;
    std::string iEntity;
    bool iUnplaced = false;
};

#endif
