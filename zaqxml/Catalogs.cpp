// SPDX-License-Identifier: Apache-2.0
// Catalogs.cpp - identifier resolution by libxml2's catalogs.
#include "Catalogs.h"

#include "Diagnostics.h"

#include <libxml/catalog.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlmemory.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <sys/stat.h>

namespace {

const xmlChar* text(const std::string& s) { return s.empty() ? nullptr : reinterpret_cast<const xmlChar*>(s.c_str()); }

// libxml2's messages about a catalog, line by line, escaped as every other
// message is: a catalog's text can hold terminal escapes.
void genericError(void* context, const char* format, ...) {
    static std::string pending;
    char buffer[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    pending += buffer;
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
        static_cast<Diagnostics*>(context)->error("zaqxml", 0, 0, "XML catalog: " + pending.substr(0, end));
}

void structuredError(void* context, xmlErrorPtr error) {
    if (error == nullptr || error->message == nullptr)
        return;
    std::string message = error->message;
    while (!message.empty() && message.back() == '\n')
        message.pop_back();
    static_cast<Diagnostics*>(context)->warning(error->file ? error->file : "XML catalog",
                                                static_cast<unsigned long long>(error->line > 0 ? error->line : 0),
                                                static_cast<unsigned long long>(error->int2), message);
}

} // namespace

Catalogs::Catalogs(Diagnostics& diagnostics) {
    xmlInitParser();
    xmlSetGenericErrorFunc(&diagnostics, genericError);
    xmlSetStructuredErrorFunc(&diagnostics, structuredError);
    // A listed catalog that is not a regular file (a FIFO would block the
    // reading, a device could be endless) is left out, and said so.
    const char* listed = std::getenv("XML_CATALOG_FILES");
    std::istringstream names(listed != nullptr ? listed : "/etc/xml/catalog");
    std::string kept;
    for (std::string name; names >> name;) {
        const std::string path = name.compare(0, 7, "file://") == 0 ? name.substr(7) : name;
        struct stat status;
        if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
            diagnostics.warning("XML catalog '" + name + "'", 0, 0, "not a regular file: left out");
            continue;
        }
        kept += (kept.empty() ? "" : " ") + name;
    }
    ::setenv("XML_CATALOG_FILES", kept.c_str(), 1);
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
