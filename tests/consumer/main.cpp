// SPDX-License-Identifier: Apache-2.0
// main.cpp - uses every exported class of an installed zaqprefixmgr.
#include "OrvShared.h"
#include "OrvXmlMemoryManager.h"
#include "XMLPrefixManager.h"

#include <cstdio>
#include <memory>

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
    const bool ok = !inForce && prefix.toUtf8() == "a" && pooled && shared.share() == 1;
    std::printf("consumer: %s\n", ok ? "ok" : "wrong answers");
    return ok ? 0 : 1;
}
