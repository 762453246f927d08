// SPDX-License-Identifier: Apache-2.0
// Validity.h - the validity errors of one document: held until the element
// they belong to is known, printed with its path, counted and capped.
#ifndef ZAQXML_VALIDITY_H
#define ZAQXML_VALIDITY_H

#include "Diagnostics.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

/// The validator reports an error while it reads the markup that shows it:
/// a start tag, an end tag, text, the end of the document. The error is held
/// until the next event names the element it concerns, then printed as one
/// line: "NAME:LINE:COLUMN: invalid: MESSAGE (at /p:a/p:b[3])", the path
/// giving each element's name as written and, past the first, its position
/// among the siblings of that name. At most `maxErrors` are printed; one line
/// then says how many more there were.
class Validity {
public:
    Validity(Diagnostics& diagnostics, unsigned long maxErrors) : iDiagnostics(diagnostics), iMaxErrors(maxErrors) {}

    /// An error of the document being read, at `line`:`column` of the
    /// entity `systemId`.
    /// `ofValue`: the error is a value breaking its type's facets.
    void found(const std::string& message, unsigned long long line, unsigned long long column,
               const std::string& systemId, bool ofValue = false);
    /// Whether an error of a value waits among those held.
    bool foundOfValue() const { return iOfValue; }
    /// Whether an error of a value quoting `value` waits among those held.
    bool foundOfValue(const std::string& value) const;
    /// The error the parser holds of `value`, said as `parsers`, becomes
    /// `message`, unless it is a pattern's (the parser checks a type's
    /// patterns, base first, before its other facets). One past
    /// --max-errors is left as it is, uncounted again.
    void supersede(const std::string& parsers, const std::string& value, std::string message);
    /// Whether errors wait for their element.
    bool holds() const { return !iHeld.empty() || !iUnshown.empty(); }
    /// Prints the errors held, at the innermost open element.
    void report();
    /// An element opens; the next `report` names it. `name` identifies its
    /// expanded name for the document (siblings are counted by it), and
    /// `local` stays valid as long; `prefix` is as written.
    void enter(const void* name, std::u16string_view prefix, const char16_t* local);
    /// The innermost element closes.
    void leave();
    /// The document ended (or failed): what is held, then the count past the cap.
    void finish();
    unsigned long errors() const { return iErrors; }

private:
    struct Held {
        std::string message, systemId;
        unsigned long long line, column;
        bool ofValue;
    };
    struct Level {
        std::u16string prefix; // as written
        const char16_t* local = nullptr;
        unsigned long position = 0; // among its parent's children of its name
        // How many children of each name so far: the first few names in
        // slots reused from element to element, the rest in a map.
        std::vector<std::pair<const void*, unsigned long>> few;
        std::size_t fewUsed = 0;
        std::unordered_map<const void*, unsigned long> many;
        unsigned long count(const void* name);
    };
    /// "/a/b[2]" of the open elements.
    std::string path() const;

    Diagnostics& iDiagnostics;
    unsigned long iMaxErrors;
    unsigned long iErrors = 0;
    bool iOfValue = false;
    std::vector<Held> iHeld;
    std::vector<std::string> iUnshown;                  // errors of values past --max-errors, until their event ends
    std::vector<Level> iLevels = std::vector<Level>(1); // the document's, then one an open element
    std::size_t iDepth = 0;                             // open elements (levels are kept for reuse)
};

#endif
