// SPDX-License-Identifier: Apache-2.0
// InputStream.cpp - a document's bytes: read once through a descriptor,
// counted, checked as UTF-8 and for oversized start tags, and its prolog
// scanned ahead of the parser.
#include "InputStream.h"

#include "DocumentError.h"
#include "StartTagGuard.h"
#include "Utf8Check.h"

#include "OrvWstring.h"

#include <xercesc/util/BinInputStream.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

using namespace xercesc;

namespace {

/// Reads a descriptor the caller owns, after what was read ahead of the
/// parser; EINTR is retried.
class DescriptorStream : public BinInputStream {
public:
    DescriptorStream(int fd, Limits& limits, const std::string& head, bool atEnd, int readError, RawWindow* window)
        : iFd(fd), iLimits(limits), iHead(head), iAtEnd(atEnd), iReadError(readError),
          iGuard(limits.settings().maxAttributes), iWindow(window) {}
    XMLFilePos curPos() const override { return iPosition; }
    XMLSize_t readBytes(XMLByte* const buffer, const XMLSize_t size) override {
        if (iHeadUsed < iHead.size()) {
            const std::size_t n = std::min<std::size_t>(size, iHead.size() - iHeadUsed);
            std::memcpy(buffer, iHead.data() + iHeadUsed, n);
            iHeadUsed += n;
            iPosition += static_cast<XMLFilePos>(n);
            iCheck.scan(buffer, n);
            iGuard.scan(buffer, n);
            if (iWindow != nullptr)
                iWindow->add(reinterpret_cast<const char*>(buffer), n);
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
                iLimits.addInput(static_cast<std::uint64_t>(n));
                iCheck.scan(buffer, static_cast<std::size_t>(n));
                iGuard.scan(buffer, static_cast<std::size_t>(n));
                if (iWindow != nullptr)
                    iWindow->add(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
                return static_cast<XMLSize_t>(n);
            }
            if (errno != EINTR)
                throw DocumentError(std::string("cannot read: ") + std::strerror(errno));
        }
    }
    const XMLCh* getContentType() const override { return nullptr; }

private:
    int iFd;
    Limits& iLimits;
    const std::string& iHead;
    std::size_t iHeadUsed = 0;
    bool iAtEnd;
    int iReadError;
    XMLFilePos iPosition = 0;
    Utf8Check iCheck;
    StartTagGuard iGuard;
    RawWindow* iWindow;
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

} // namespace

DescriptorInputSource::DescriptorInputSource(int fd, const std::string& name, Limits& limits, MemoryManager* manager)
    : InputSource(manager), iFd(fd), iLimits(limits) {
    const OrvWstring id = OrvWstring::fromUtf8(name);
    std::u16string text(id.data(), id.length());
    setSystemId(reinterpret_cast<const XMLCh*>(text.c_str()));
}

BinInputStream* DescriptorInputSource::makeStream() const {
    return new (getMemoryManager()) DescriptorStream(iFd, iLimits, iHead, iAtEnd, iReadError, iWindow);
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
            iLimits.addInput(static_cast<std::uint64_t>(n));
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
