// SPDX-License-Identifier: Apache-2.0
// ParserPosition.h - where the parser is reading, taken from its locator and
// handed to the diagnostics as plain numbers.
#ifndef ZAQXML_PARSER_POSITION_H
#define ZAQXML_PARSER_POSITION_H

#include "Diagnostics.h"
#include "DocumentError.h"

#include <xercesc/sax/Locator.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>

#include <string>

/// A reader hands its locator to a SAX2 content handler only: this one takes
/// it and steps aside as the document starts, so that no event is mapped to
/// SAX2 calls for a handler of the parser's own events. The locator stays
/// on the parser's side: what needs a position (a failure, a warning) is
/// given its line, column and entity as numbers and text.
class ParserPosition : public xercesc::DefaultHandler {
public:
    /// Installs itself on `reader`, for its next document.
    void attach(xercesc::SAX2XMLReader& reader) {
        iReader = &reader;
        iLocator = nullptr;
        reader.setContentHandler(this);
    }
    void setDocumentLocator(const xercesc::Locator* locator) override { iLocator = locator; }
    void startDocument() override { iReader->setContentHandler(nullptr); }

    /// The parser's locator once the document has started; null before.
    const xercesc::Locator* locator() const { return iLocator; }
    /// Gives a failure made `here` the position the parser is at now.
    void place(DocumentError& failure) const {
        if (failure.unplaced())
            failure.place(line(), column(), entity());
    }
    /// Writes the warnings `diagnostics` holds at the position the parser
    /// is at now.
    void placeWarnings(Diagnostics& diagnostics) const { diagnostics.placeWarnings(line(), column(), entity()); }
    /// The line, column and entity the parser is at now.
    unsigned long long line() const {
        return iLocator != nullptr ? static_cast<unsigned long long>(iLocator->getLineNumber()) : 0;
    }
    unsigned long long column() const {
        return iLocator != nullptr ? static_cast<unsigned long long>(iLocator->getColumnNumber()) : 0;
    }
    std::string entity() const { return iLocator != nullptr ? utf8(iLocator->getSystemId()) : std::string(); }

private:
    xercesc::SAX2XMLReader* iReader = nullptr;
    const xercesc::Locator* iLocator = nullptr;
};

#endif
