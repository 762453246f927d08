// SPDX-License-Identifier: Apache-2.0
// main.cpp - uses every exported class of an installed zaqprefixmgr, through
// both include forms.
#include <zaqprefixmgr/OrvXmlMemoryManager.h>
#include <zaqprefixmgr/Version.h>
#include <zaqprefixmgr/XMLPrefixManager.h>

#include "OrvShared.h"
#include "XMLPrefixManager.h" // the flat form names the same header

#include <cstdio>
#include <memory>

static_assert(ZAQPREFIXMGR_VERSION_MAJOR == 1 && ZAQPREFIXMGR_VERSION >= ZAQPREFIXMGR_MAKE_VERSION(1, 0, 0),
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

    OrvShared shared;
    const bool ok = !inForce && prefix == OrvWstring(u"a") && pooled && shared.share() == 1;
    std::printf("consumer %s: %s\n", ZAQPREFIXMGR_VERSION_STRING, ok ? "ok" : "wrong answers");
    return ok ? 0 : 1;
}
