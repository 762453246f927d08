// SPDX-License-Identifier: Apache-2.0
// Diagnostics.h - how zaqxml writes a message about a document: one printer
// for errors and warnings, escaping what a terminal would act on, with the
// position the parser is at.
#ifndef ZAQXML_DIAGNOSTICS_H
#define ZAQXML_DIAGNOSTICS_H

#include "DocumentError.h"

#include <xercesc/sax/Locator.hpp>

#include <cstdio>
#include <string>

/// A message as a person can read it on a terminal: control characters and
/// bytes that are not UTF-8 are shown escaped (\x1B, \xFF).
std::string printable(const std::string& text);

/// The text of a parser string as UTF-8 (empty for null).
std::string utf8(const XMLCh* text);

/// The messages of a run. Each is one line, "NAME:LINE:COLUMN: MESSAGE" (or
/// "NAME: MESSAGE" without a position), the name and message made
/// printable. While a document is read it knows the document's name and the
/// parser's locator, so that any part of the pipeline can report, or fail,
/// at the parser's position without reaching for the parser.
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
    /// The parser's locator for the document being read; null once it ends.
    void setLocator(const xercesc::Locator* locator) { iLocator = locator; }
    const xercesc::Locator* locator() const { return iLocator; }
    const std::string& document() const { return iDocument; }
    /// The parser's name for the document being read.
    const std::string& systemId() const { return iSystemId; }

    void error(const std::string& name, unsigned long long line, unsigned long long column, const std::string& message);
    void warning(const std::string& name, unsigned long long line, unsigned long long column,
                 const std::string& message);
    /// An error or a warning about the document at the parser's position.
    void errorHere(const std::string& message) { atHere(message, false); }
    void warningHere(const std::string& message) { atHere(message, true); }
    /// The error to throw to stop the parse at its position.
    DocumentError failureHere(const std::string& message) const;
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
    void atHere(const std::string& message, bool isWarning);

    std::FILE* iOut;
    std::string iDocument;
    std::string iSystemId;
    const xercesc::Locator* iLocator = nullptr;
    bool iMuted = false;
};

#endif
