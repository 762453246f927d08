// SPDX-License-Identifier: Apache-2.0
// Catalogs.cpp - identifier resolution by libxml2's catalogs.
#include "Catalogs.h"

#include <libxml/catalog.h>
#include <libxml/parser.h>
#include <libxml/xmlmemory.h>

namespace {

const xmlChar* text(const std::string& s) { return s.empty() ? nullptr : reinterpret_cast<const xmlChar*>(s.c_str()); }

} // namespace

Catalogs::Catalogs() {
    xmlInitParser();
    xmlInitializeCatalog();
}

Catalogs::~Catalogs() {
    xmlCatalogCleanup();
    xmlCleanupParser();
}

std::string Catalogs::resolve(const std::string& publicId, const std::string& systemId) const {
    if (publicId.empty() && systemId.empty())
        return std::string();
    xmlChar* uri = xmlCatalogResolve(text(publicId), text(systemId));
    if (uri == nullptr)
        return std::string();
    std::string result(reinterpret_cast<const char*>(uri));
    xmlFree(uri);
    return result;
}
