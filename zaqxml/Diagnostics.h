// SPDX-License-Identifier: Apache-2.0
// Diagnostics.h - how zaqxml writes a message about a document: one printer
// for errors and warnings, escaping what a terminal would act on, with the
// position of what is being read.
#ifndef ZAQXML_DIAGNOSTICS_H
#define ZAQXML_DIAGNOSTICS_H

#include "DocumentError.h"

#include <cstdio>
#include <string>
#include <vector>

/// A message as a person can read it on a terminal: control characters and
/// bytes that are not UTF-8 are shown escaped (\x1B, \xFF).
std::string printable(const std::string& text);

/// The text of a zero-terminated UTF-16 string as UTF-8 (empty for null).
std::string utf8(const char16_t* text);

/// The messages of a run. Each is one line, "NAME:LINE:COLUMN: MESSAGE" (or
/// "NAME: MESSAGE" without a position), the name and message made
/// printable. While a document is read it knows the document's name, so
/// that any part of the pipeline can report, or fail, without reaching for
/// the parser: a failure or warning "here" is given its position by the
/// parser's side (ParserEvents, as the event that caused it returns;
/// ParserPosition, between events).
class Diagnostics {
public:
    /// Messages go to `out` (not owned).
    explicit Diagnostics(std::FILE* out = stderr) : iOut(out) {}
    virtual ~Diagnostics() = default;

    /// A document is read: `name` names it in messages, `systemId` is the
    /// parser's name for it (positions in other entities name the entity).
    void startDocument(const std::string& name, const std::string& systemId);
    /// Drops warnings while `muted` (a second reading of a document gives
    /// them again).
    void muteWarnings(bool muted) { iMuted = muted; }
    const std::string& document() const { return iDocument; }
    /// The parser's name for the document being read.
    const std::string& systemId() const { return iSystemId; }

    void error(const std::string& name, unsigned long long line, unsigned long long column, const std::string& message);
    void warning(const std::string& name, unsigned long long line, unsigned long long column,
                 const std::string& message);
    /// A warning about what is being read, held until its position comes
    /// (`placeWarnings`).
    void warningHere(const std::string& message) {
        if (!iMuted)
            iHeld.push_back(message);
    }
    bool holdsWarnings() const { return !iHeld.empty(); }
    /// Writes the warnings held, at `line`:`column` of the entity `systemId`
    /// (line 0: no position).
    void placeWarnings(unsigned long long line, unsigned long long column, const std::string& systemId);
    /// The error to throw to stop the parse where it is reading.
    DocumentError failureHere(const std::string& message) const { return DocumentError::here(message); }
    /// An error the parse stopped with: in the document, or in the entity
    /// `systemId` it was reading.
    void errorIn(const std::string& systemId, unsigned long long line, unsigned long long column,
                 const std::string& message) {
        error(where(systemId), line, column, message);
    }

protected:
    /// Writes one finished line; a test may collect them instead.
    virtual void emit(const std::string& line);

private:
    std::string where(const std::string& systemId) const;

    std::FILE* iOut;
    std::string iDocument;
    std::string iSystemId;
    std::vector<std::string> iHeld; // warnings waiting for their position
    bool iMuted = false;
};

#endif
