// SPDX-License-Identifier: Apache-2.0
// LocatorListener.h - takes the parser's locator for the diagnostics.
#ifndef ZAQXML_LOCATOR_LISTENER_H
#define ZAQXML_LOCATOR_LISTENER_H

#include "Diagnostics.h"

#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>

/// A reader hands its locator to a SAX2 content handler only: this one takes
/// it for `Diagnostics` and steps aside as the document starts, so that no
/// event is mapped to SAX2 calls for a handler of the parser's own events.
class LocatorListener : public xercesc::DefaultHandler {
public:
    explicit LocatorListener(Diagnostics& diagnostics) : iDiagnostics(diagnostics) {}
    /// Installs itself on `reader`.
    void attach(xercesc::SAX2XMLReader& reader) {
        iReader = &reader;
        iDiagnostics.setLocator(nullptr);
        reader.setContentHandler(this);
    }
    void setDocumentLocator(const xercesc::Locator* locator) override { iDiagnostics.setLocator(locator); }
    void startDocument() override { iReader->setContentHandler(nullptr); }

private:
    Diagnostics& iDiagnostics;
    xercesc::SAX2XMLReader* iReader = nullptr;
};

#endif
