// SPDX-License-Identifier: Apache-2.0
// XercesDocuments.h - generated namespaced documents and a platform guard.
#ifndef ZAQ_TESTS_XERCES_DOCUMENTS_H
#define ZAQ_TESTS_XERCES_DOCUMENTS_H

#include <xercesc/util/PlatformUtils.hpp>

#include <string>

/// Keeps the Xerces-C platform initialised for its lifetime.
struct XercesPlatform {
    XercesPlatform() { xercesc::XMLPlatformUtils::Initialize(); }
    ~XercesPlatform() { xercesc::XMLPlatformUtils::Terminate(); }
    XercesPlatform(const XercesPlatform&) = delete;
    XercesPlatform& operator=(const XercesPlatform&) = delete;
};

/// A document of `elements` elements over four namespaces (one of them the
/// default), with attributes, xml:lang, comments and text. No DTD.
inline std::string namespacedDocument(int elements) {
    std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<o:orders xmlns:o=\"urn:example:orders\" xmlns=\"urn:example:default\" "
                      "xmlns:a=\"http://www.w3.org/2005/Atom\" xmlns:x=\"urn:example:ext\" xml:lang=\"en\">\n";
    for (int i = 1; i < elements; i += 3) {
        doc += "  <!-- order " + std::to_string(i) + " -->\n";
        doc += "  <o:order id=\"" + std::to_string(i) + "\" x:flag=\"" + (i % 2 ? "y" : "n") + "\">";
        doc += "<line qty=\"" + std::to_string(i % 7) + "\" a:rel=\"item\">widget &amp; co " + std::to_string(i) +
               "</line>";
        doc += "<a:title xml:lang=\"fr\">Titre &lt;" + std::to_string(i) + "&gt;</a:title></o:order>\n";
    }
    doc += "</o:orders>\n";
    return doc;
}

#endif
