// SPDX-License-Identifier: Apache-2.0
// Catalogs.h - OASIS XML catalogs, through libxml2's catalog API.
#ifndef ZAQXML_CATALOGS_H
#define ZAQXML_CATALOGS_H

#include <string>

class Diagnostics;

/// The XML catalogs of the system, as xmllint reads them: the files listed
/// (space-separated) in XML_CATALOG_FILES, else /etc/xml/catalog, with their
/// nextCatalog, delegate, rewrite and URI entries. Only regular local files
/// are read as catalogs: any other (an http: URL, a FIFO, a device), however
/// it is named, is left out with one warning, and no connection is ever
/// opened. One per process: it takes over libxml2's input callbacks; the
/// catalogs are loaded on the first lookup and released by the destructor.
/// libxml2's messages about them go to `diagnostics`, which must outlive
/// this object.
class Catalogs {
public:
    explicit Catalogs(Diagnostics& diagnostics);
    ~Catalogs();
    Catalogs(const Catalogs&) = delete;
    Catalogs& operator=(const Catalogs&) = delete;

    /// The URI the catalogs give for a public identifier, a system
    /// identifier, or both (either may be empty), as libxml2 resolves an
    /// external entity: by the public and system entries, then, where that
    /// gives no local file, by the URI entries. Empty when none maps them.
    std::string resolve(const std::string& publicId, const std::string& systemId) const;
};

#endif
