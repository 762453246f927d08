// SPDX-License-Identifier: Apache-2.0
// Catalogs.cpp - identifier resolution by libxml2's catalogs.
#include "Catalogs.h"

#include "Diagnostics.h"

#include <libxml/catalog.h>
#include <libxml/parser.h>
#include <libxml/uri.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlmemory.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <set>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The one reader of catalog files. libxml2 reads a catalog (one listed in
// XML_CATALOG_FILES, or reached by nextCatalog or a delegate entry) through
// its input callbacks, which would fetch an http: or ftp: URL and block on
// a FIFO. These replace them all: a catalog is read only from a regular
// local file, and anything else is left out with one warning naming it.
Diagnostics* gDiagnostics = nullptr;

void leaveOut(const char* name, const std::string& why) {
    static std::set<std::string> told;
    if (gDiagnostics != nullptr && told.insert(name).second)
        gDiagnostics->warning("XML catalog '" + std::string(name) + "'", 0, 0, why + ": left out");
}

// The local path a catalog's name stands for: a path, or a file: URL on no
// host or on localhost, %-escapes undone. Empty, with `why` set, for
// anything else.
std::string localPath(const char* name, std::string& why) {
    std::unique_ptr<xmlURI, void (*)(xmlURIPtr)> uri(xmlParseURI(name), xmlFreeURI);
    if (uri == nullptr || uri->scheme == nullptr)
        return name; // a relative reference, or a path that is no URI
    const bool file = strcasecmp(uri->scheme, "file") == 0;
    if (!file || (uri->server != nullptr && *uri->server != 0 && strcasecmp(uri->server, "localhost") != 0)) {
        why = "not a local file (catalogs are never fetched from the network)";
        return std::string();
    }
    // The path comes with its escapes undone, where %00 would cut it short.
    if (uri->path == nullptr || std::strstr(name, "%00") != nullptr) {
        why = "a file: URL with no path or a NUL %-escape";
        return std::string();
    }
    return uri->path;
}

int matchAny(const char*) { return 1; }

void* openCatalog(const char* name) {
    std::string why;
    const std::string path = localPath(name, why);
    if (path.empty()) {
        leaveOut(name, why);
        return nullptr;
    }
    // Opened without blocking, then checked: a FIFO swapped in after a
    // stat would still not hold the reading up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno != ENOENT)
            leaveOut(name, std::strerror(errno));
        return nullptr; // libxml2 says nothing of a missing catalog either
    }
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        leaveOut(name, "not a regular file");
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return new int(fd);
}

int readCatalog(void* context, char* buffer, int length) {
    for (;;) {
        const ssize_t n = ::read(*static_cast<int*>(context), buffer, static_cast<std::size_t>(length));
        if (n >= 0 || errno != EINTR)
            return static_cast<int>(n);
    }
}

int closeCatalog(void* context) {
    int* fd = static_cast<int*>(context);
    const int result = ::close(*fd);
    delete fd;
    return result;
}

// Whether `resource` names a local file that exists, as libxml2 asks before
// looking a resolved identifier up again among the URI entries.
bool existsLocally(const std::string& resource) {
    std::string why;
    const std::string path = localPath(resource.c_str(), why);
    struct stat status;
    return !path.empty() && ::stat(path.c_str(), &status) == 0;
}

std::string taken(xmlChar* uri) {
    if (uri == nullptr)
        return std::string();
    std::string result(reinterpret_cast<const char*>(uri));
    xmlFree(uri);
    return result;
}

} // namespace

Catalogs::Catalogs(Diagnostics& diagnostics) {
    xmlInitParser();
    xmlSetGenericErrorFunc(&diagnostics, genericError);
    xmlSetStructuredErrorFunc(&diagnostics, structuredError);
    gDiagnostics = &diagnostics;
    xmlCleanupInputCallbacks();
    xmlRegisterInputCallbacks(matchAny, openCatalog, readCatalog, closeCatalog);
    xmlInitializeCatalog();
}

Catalogs::~Catalogs() {
    xmlCatalogCleanup();
    xmlCleanupParser();
    gDiagnostics = nullptr;
}

std::string Catalogs::resolve(const std::string& publicId, const std::string& systemId) const {
    if (publicId.empty() && systemId.empty())
        return std::string();
    // As libxml2 resolves an external entity: the public and system entries
    // first; then a result, or the system id itself, that is no local file
    // is looked up among the URI entries (uri, rewriteURI, delegateURI).
    std::string resource = taken(xmlCatalogResolve(text(publicId), text(systemId)));
    const std::string candidate = resource.empty() ? systemId : resource;
    if (!candidate.empty() && !existsLocally(candidate)) {
        std::string byUri = taken(xmlCatalogResolveURI(text(candidate)));
        if (!byUri.empty())
            resource = byUri;
    }
    return resource;
}
