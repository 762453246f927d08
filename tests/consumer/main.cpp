// SPDX-License-Identifier: Apache-2.0
// main.cpp - uses every exported class of an installed zaqprefixmgr, through
// both include forms.
#include <zaqprefixmgr/OrvXmlMemoryManager.h>
#include <zaqprefixmgr/Version.h>
#include <zaqprefixmgr/XMLPrefixManager.h>
#include <zaqprefixmgr/XmlWriter.h>

#include "OrvShared.h"
#include "XMLPrefixManager.h" // the flat form names the same header

#include <cstdio>
#include <memory>
#include <string>

static_assert(ZAQPREFIXMGR_VERSION_MAJOR == 2 && ZAQPREFIXMGR_VERSION >= ZAQPREFIXMGR_MAKE_VERSION(2, 0, 0),
              "the installed version macros");

int main() {
    XMLPrefixManager prefixes(nullptr);
    prefixes.addNamespace(OrvWstring(u"urn:a"), OrvWstring(u"a"));
    prefixes.addLevel();
    OrvWstring prefix;
    const bool inForce = prefixes.getNamespacePrefix(OrvWstring(u"urn:a"), prefix, true);
    prefixes.removeLevel();

    auto memory = std::make_unique<OrvXmlMemoryManager>();
    void* p = memory->allocate(100);
    const bool pooled = memory->getPool(1)->getNalloc() == 1;
    memory->deallocate(p);

    std::string xml;
    zaq::XmlStringSink sink(xml);
    zaq::XmlWriter writer(sink);
    writer.setPreferredPrefix(u"urn:a", u"a");
    writer.startElement(u"urn:a", u"r");
    writer.text("caf\xC3\xA9 & tea");
    writer.endElement();
    writer.endDocument();
    bool refused = false;
    try {
        writer.comment(u"late");
    } catch (const zaq::XmlWriterError& e) {
        refused = e.kind() == zaq::XmlWriterError::Kind::Order;
    }
    const bool written = xml == "<a:r xmlns:a=\"urn:a\">caf\xC3\xA9 &amp; tea</a:r>" && refused;

    OrvShared shared;
    const bool ok = !inForce && prefix == OrvWstring(u"a") && pooled && written && shared.share() == 1;
    std::printf("consumer %s: %s\n", ZAQPREFIXMGR_VERSION_STRING, ok ? "ok" : "wrong answers");
    return ok ? 0 : 1;
}
