// SPDX-License-Identifier: Apache-2.0
// InputPolicy.cpp - opening inputs, parser features and external entities.
#include "InputPolicy.h"

#include "Diagnostics.h"
#include "DocumentError.h"
#include "OrvWstring.h"
#include "StartTagGuard.h"
#include "Utf8Check.h"

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/SAX2XMLReaderImpl.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/util/XMLResourceIdentifier.hpp>
#include <xercesc/framework/XMLValidityCodes.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLURL.hpp>
#include <xercesc/validators/DTD/DTDGrammar.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

using namespace xercesc;

namespace {

/// Reads a descriptor the caller owns, after what was read ahead of the
/// parser; EINTR is retried.
class DescriptorStream : public BinInputStream {
public:
    DescriptorStream(int fd, std::uint64_t& bytesRead, std::size_t maxAttributes, const std::string& head, bool atEnd,
                     int readError)
        : iFd(fd), iBytesRead(bytesRead), iHead(head), iAtEnd(atEnd), iReadError(readError), iGuard(maxAttributes) {}
    XMLFilePos curPos() const override { return iPosition; }
    XMLSize_t readBytes(XMLByte* const buffer, const XMLSize_t size) override {
        if (iHeadUsed < iHead.size()) {
            const std::size_t n = std::min<std::size_t>(size, iHead.size() - iHeadUsed);
            std::memcpy(buffer, iHead.data() + iHeadUsed, n);
            iHeadUsed += n;
            iPosition += static_cast<XMLFilePos>(n);
            iCheck.scan(buffer, n);
            iGuard.scan(buffer, n);
            return static_cast<XMLSize_t>(n);
        }
        if (iReadError != 0)
            throw DocumentError(std::string("cannot read: ") + std::strerror(iReadError));
        if (iAtEnd)
            return 0;
        for (;;) {
            const ssize_t n = ::read(iFd, buffer, size);
            if (n >= 0) {
                iPosition += static_cast<XMLFilePos>(n);
                iBytesRead += static_cast<std::uint64_t>(n);
                iCheck.scan(buffer, static_cast<std::size_t>(n));
                iGuard.scan(buffer, static_cast<std::size_t>(n));
                return static_cast<XMLSize_t>(n);
            }
            if (errno != EINTR)
                throw DocumentError(std::string("cannot read: ") + std::strerror(errno));
        }
    }
    const XMLCh* getContentType() const override { return nullptr; }

private:
    int iFd;
    std::uint64_t& iBytesRead;
    const std::string& iHead;
    std::size_t iHeadUsed = 0;
    bool iAtEnd;
    int iReadError;
    XMLFilePos iPosition = 0;
    Utf8Check iCheck;
    StartTagGuard iGuard;
};

bool isSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// ASCII name start characters, and any byte of a UTF-8 sequence.
bool isNameStartByte(unsigned char c) {
    return c == '_' || c == ':' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80;
}

// Whether an encoding (a lower-case name; empty: UTF-8) writes every ASCII
// character as that one byte and uses those bytes for nothing else.
bool asciiTransparent(const std::string& name) {
    auto family = [&](const char* stem) {
        const std::size_t length = std::strlen(stem);
        return name.size() > length && name.compare(0, length, stem) == 0;
    };
    return name.empty() || name == "utf-8" || name == "utf8" || name == "us-ascii" || name == "ascii" ||
           name == "latin1" || family("iso-8859-") || family("iso8859-") || family("iso_8859-") ||
           family("windows-125") || family("cp125");
}

// Where `marker` first ends in bytes[from, size), or 0.
std::size_t pastMarker(const unsigned char* bytes, std::size_t from, std::size_t size, const char* marker) {
    const std::string_view text(reinterpret_cast<const char*>(bytes), size);
    const std::size_t at = text.find(marker, from);
    return at == std::string_view::npos ? 0 : at + std::strlen(marker);
}

// What a skipped part of the DTD reads as: a blank, which declares nothing.
// (Xerces-C leaks a little on an external subset of no characters at all.)
InputSource* blankDeclarations(const XMLCh* systemId) {
    static const XMLByte blank[] = {' '};
    return new MemBufInputSource(blank, sizeof blank, systemId, false);
}

// The path of a file: URL's path, with its %XX escapes undone; false where
// one is malformed or undoes to a NUL, which would cut the path short.
bool decodePath(const std::string& escaped, std::string& path) {
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '%') {
            path.push_back(escaped[i]);
            continue;
        }
        if (i + 2 >= escaped.size() || !std::isxdigit(static_cast<unsigned char>(escaped[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(escaped[i + 2])))
            return false;
        const char byte = static_cast<char>(std::stoi(escaped.substr(i + 1, 2), nullptr, 16));
        if (byte == 0)
            return false;
        path.push_back(byte);
        i += 2;
    }
    return true;
}

} // namespace

std::string utf8(const XMLCh* text) { return text ? OrvWstring(text).toUtf8() : std::string(); }

bool isVersionNumber(const std::string& version) {
    return version.size() > 2 && version.compare(0, 2, "1.") == 0 &&
           std::all_of(version.begin() + 2, version.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string expansionMessage(const InputSettings& settings) {
    return "the output would exceed " + std::to_string(settings.maxExpansionFactor) +
           " times the input plus 10 MB (entity expansion or DTD default attributes); --max-expansion raises the bound";
}

DescriptorInputSource::DescriptorInputSource(int fd, const std::string& name, std::uint64_t& bytesRead,
                                             std::size_t maxAttributes, MemoryManager* manager)
    : InputSource(manager), iFd(fd), iBytesRead(bytesRead), iMaxAttributes(maxAttributes) {
    const OrvWstring id = OrvWstring::fromUtf8(name);
    std::u16string text(id.data(), id.length());
    setSystemId(reinterpret_cast<const XMLCh*>(text.c_str()));
}

BinInputStream* DescriptorInputSource::makeStream() const {
    return new (getMemoryManager()) DescriptorStream(iFd, iBytesRead, iMaxAttributes, iHead, iAtEnd, iReadError);
}

bool DescriptorInputSource::plainProlog() {
    constexpr std::size_t MOST = 1 << 16;
    for (;;) {
        const Prolog prolog = scanProlog(reinterpret_cast<const unsigned char*>(iHead.data()), iHead.size());
        if (prolog != Prolog::NeedMore || iAtEnd || iReadError != 0 || iHead.size() >= MOST)
            return prolog == Prolog::Plain;
        char chunk[8192];
        const ssize_t n = ::read(iFd, chunk, sizeof chunk);
        if (n > 0) {
            iHead.append(chunk, static_cast<std::size_t>(n));
            iBytesRead += static_cast<std::uint64_t>(n);
        } else if (n == 0) {
            iAtEnd = true;
        } else if (errno != EINTR) {
            iReadError = errno;
        }
    }
}

Prolog scanProlog(const unsigned char* bytes, std::size_t size) {
    static const unsigned char BOM[] = {0xEF, 0xBB, 0xBF};
    if (size < 3 && std::memcmp(bytes, BOM, size) == 0)
        return Prolog::NeedMore; // perhaps a byte order mark, cut short
    std::size_t i = size >= 3 && std::memcmp(bytes, BOM, 3) == 0 ? 3 : 0;
    // The bytes below are read as ASCII: right only where the declared
    // encoding keeps ASCII as it is (in UTF-7 or ISO-2022-JP, ASCII bytes
    // can spell other characters, and a "?>" here need not be one).
    const std::string_view rest(reinterpret_cast<const char*>(bytes + i), size - i);
    if (rest.compare(0, 5, "<?xml") == 0 ||
        (rest.size() < 5 && std::string_view("<?xml").compare(0, rest.size(), rest) == 0)) {
        const std::size_t end = rest.find("?>");
        if (end == std::string_view::npos)
            return Prolog::NeedMore;
        if (!asciiTransparent(declaredEncoding(std::string(rest.substr(0, end + 2)))))
            return Prolog::Unknown;
    }
    for (;;) {
        while (i < size && isSpace(bytes[i]))
            ++i;
        if (i + 1 >= size)
            return Prolog::NeedMore;
        if (bytes[i] != '<')
            return Prolog::Unknown;
        const unsigned char next = bytes[i + 1];
        if (isNameStartByte(next))
            return Prolog::Plain;
        if (next == '?') {
            i = pastMarker(bytes, i + 2, size, "?>");
        } else if (next == '!') {
            if (size - i < 4)
                return Prolog::NeedMore;
            if (bytes[i + 2] != '-' || bytes[i + 3] != '-')
                return Prolog::Unknown; // a document type declaration, or not well-formed
            i = pastMarker(bytes, i + 4, size, "-->");
        } else {
            return Prolog::Unknown;
        }
        if (i == 0)
            return Prolog::NeedMore;
    }
}

int openInput(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    struct stat status;
    if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        ::close(fd);
        error = "is a directory";
        return -1;
    }
    return fd;
}

void ExternalEntityPolicy::warn(const XMLResourceIdentifier& resource, const std::string& message) const {
    const Locator* at = resource.getLocator();
    ::warning(iDocumentName, at ? static_cast<unsigned long long>(at->getLineNumber()) : 0,
              at ? static_cast<unsigned long long>(at->getColumnNumber()) : 0, message);
}

InputSource* ExternalEntityPolicy::resolveEntity(XMLResourceIdentifier* resource) {
    const std::string id = utf8(resource->getSystemId());
    const Locator* at = resource->getLocator();
    if (!iLoadExternal)
        throw DocumentError("the external entity '" + id + "' is not read; --load-external reads it from a local file",
                            at ? static_cast<unsigned long long>(at->getLineNumber()) : 0,
                            at ? static_cast<unsigned long long>(at->getColumnNumber()) : 0);
    auto skip = [&](const std::string& why) -> InputSource* {
        if (!iInDtd) {
            throw DocumentError("cannot read the external entity '" + id + "': " + why,
                                at ? static_cast<unsigned long long>(at->getLineNumber()) : 0,
                                at ? static_cast<unsigned long long>(at->getColumnNumber()) : 0);
        }
        warn(*resource, "skipped the external entity '" + id + "': " + why);
        return blankDeclarations(resource->getSystemId());
    };
    // What the catalogs map the identifiers to (a DTD's public id to its
    // copy in /usr/share/xml, say) replaces the system id.
    const std::string mapped = iCatalogs ? iCatalogs->resolve(utf8(resource->getPublicId()), id) : std::string();
    const OrvWstring mappedWide = OrvWstring::fromUtf8(mapped);
    const std::u16string mappedId(mappedWide.data(), mappedWide.length());
    const XMLCh* systemId = mapped.empty() ? resource->getSystemId() : reinterpret_cast<const XMLCh*>(mappedId.c_str());
    const std::string notMapped = iCatalogs && mapped.empty() ? " (and no XML catalog maps it)" : "";
    // A relative reference or a path is a file beside the document; of the
    // URLs, only file: ones without a host other than localhost are local.
    std::string path = mapped.empty() ? id : mapped;
    XMLURL url;
    if (!XMLURL::parse(systemId, url))
        return skip("only local files are read" + notMapped);
    if (url.getProtocol() != XMLURL::Unknown) {
        const XMLCh* host = url.getHost();
        if (url.getProtocol() != XMLURL::File)
            return skip("only local files are read" + notMapped);
        if (host != nullptr && *host != 0 && XMLString::compareIStringASCII(host, XMLUni::fgLocalHostString) != 0)
            return skip("a file: URL on the host '" + utf8(host) + "' is not a local file");
        path.clear();
        if (!decodePath(utf8(url.getPath()), path))
            return skip("a file: URL with a malformed or NUL %-escape is not read");
    }
    const OrvWstring wide = OrvWstring::fromUtf8(path);
    const std::u16string relative(wide.data(), wide.length());
    auto source = std::make_unique<LocalFileInputSource>(resource->getBaseURI(),
                                                         reinterpret_cast<const XMLCh*>(relative.c_str()));
    const std::string resolved = utf8(source->getSystemId());
    // A FIFO would block the parse until a writer came, a device could be
    // endless (/dev/zero) or the terminal: only regular files are entities.
    struct stat status;
    if (::stat(resolved.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
        return skip(resolved + ": not a regular file");
    std::string error;
    const int fd = openInput(resolved, error);
    if (fd < 0)
        return skip(resolved + ": " + error);
    ::close(fd);
    return source.release();
}

ToolReader::ToolReader(MemoryManager* manager, ExternalEntityPolicy& entities, bool loadExternal)
    : SAX2XMLReaderImpl(manager), iEntities(entities), iLoadExternal(loadExternal) {
    // Installing a resolver is what makes the scanner ask this reader; the
    // request then reaches the override below.
    setXMLEntityResolver(&iEntities);
}

void ToolReader::doctypeDecl(const DTDElementDecl& root, const XMLCh* const publicId, const XMLCh* const systemId,
                             const bool hasIntSubset, const bool hasExtSubset) {
    iPendingSubset.clear();
    iUnreadSubset.clear();
    iInDtd = hasIntSubset || hasExtSubset;
    iExternalSubset = hasExtSubset;
    if (hasExtSubset && systemId != nullptr)
        iPendingSubset = reinterpret_cast<const char16_t*>(systemId);
    SAX2XMLReaderImpl::doctypeDecl(root, publicId, systemId, hasIntSubset, hasExtSubset);
}

InputSource* ToolReader::resolveEntity(XMLResourceIdentifier* resource) {
    // The validating scanner always asks for the external subset; unless it
    // is to be read it comes out empty, as if not loaded. References to what
    // it would have declared are then reported as undefined.
    const XMLCh* id = resource->getSystemId();
    if (!iLoadExternal && !iPendingSubset.empty() && id != nullptr &&
        iPendingSubset == reinterpret_cast<const char16_t*>(id)) {
        iPendingSubset.clear();
        iUnreadSubset = utf8(id);
        return blankDeclarations(id);
    }
    iEntities.setInDtd(iInDtd);
    return iEntities.resolveEntity(resource);
}

void ToolReader::endIntSubset() {
    if (!iExternalSubset)
        iInDtd = false;
    takeDeclaredTypes();
    SAX2XMLReaderImpl::endIntSubset();
}

void ToolReader::endExtSubset() {
    iInDtd = false;
    takeDeclaredTypes();
    SAX2XMLReaderImpl::endExtSubset();
}

void ToolReader::takeDeclaredTypes() {
    auto* dtd = dynamic_cast<DTDGrammar*>(getGrammar(XMLUni::fgDTDEntityString));
    if (dtd == nullptr)
        return;
    NameIdPoolEnumerator<DTDElementDecl> elements = dtd->getElemEnumerator();
    while (elements.hasMoreElements()) {
        DTDElementDecl& element = elements.nextElement();
        if (!element.hasAttDefs())
            continue;
        XMLAttDefList& definitions = element.getAttDefList();
        for (XMLSize_t i = 0; i < definitions.getAttDefCount(); ++i) {
            XMLAttDef& definition = definitions.getAttDef(i);
            if (definition.getType() == XMLAttDef::CData)
                continue;
            iDeclaredTypes.emplace(&definition, definition.getType());
            definition.setType(XMLAttDef::CData);
        }
    }
}

void ToolReader::error(const unsigned int code, const XMLCh* const domain, const XMLErrorReporter::ErrTypes type,
                       const XMLCh* const text, const XMLCh* const systemId, const XMLCh* const publicId,
                       const XMLFileLoc line, const XMLFileLoc column) {
    // Validation runs only so that a reference to an entity that no
    // declaration it read defines is reported rather than dropped; every
    // other validity finding is no concern of a rewriter.
    if (XMLString::equals(domain, XMLUni::fgValidityDomain)) {
        if (code == XMLValid::VC_EntityNotFound)
            throw DocumentError(
                utf8(text) + " (the entity is not defined by any declaration that was read" +
                    (iLoadExternal ? std::string(")") : "; --load-external reads the external DTD subset)"),
                line, column);
        return;
    }
    SAX2XMLReaderImpl::error(code, domain, type, text, systemId, publicId, line, column);
}

void configureReader(ToolReader& reader, SecurityManager& security, bool plainProlog, std::size_t maxAttributes) {
    reader.setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
    reader.setFeature(XMLUni::fgSAX2CoreNameSpacePrefixes, false);
    reader.setFeature(XMLUni::fgSAX2CoreValidation, true);
    reader.setFeature(XMLUni::fgXercesDynamic, true);
    reader.setFeature(XMLUni::fgXercesSchema, false);
    reader.setFeature(XMLUni::fgXercesCacheGrammarFromParse, false);
    reader.setFeature(XMLUni::fgXercesLoadExternalDTD, true);
    reader.setFeature(XMLUni::fgXercesDisableDefaultEntityResolution, true);
    if (plainProlog) {
        // Without a DTD the only entities are the predefined ones, which
        // expand to one character each: nothing for the security manager to
        // bound, and this scanner would count every &amp; against its limit.
        if (maxAttributes <= InputSettings().maxAttributes)
            reader.setProperty(XMLUni::fgXercesScannerName, const_cast<XMLCh*>(XMLUni::fgWFXMLScanner));
    } else {
        reader.setProperty(XMLUni::fgXercesSecurityManager, &security);
    }
}
