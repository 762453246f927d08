// SPDX-License-Identifier: Apache-2.0
// XmlSink.cpp - the ready sinks.
#include "XmlSink.h"

#include "XmlFormatTargetSink.h"

#include <xercesc/framework/XMLFormatter.hpp>
#include <xercesc/util/XMLException.hpp>

#include <cerrno>
#include <ostream>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zaq {

XmlSink::~XmlSink() = default;

bool XmlFileSink::write(const char* data, std::size_t size) { return std::fwrite(data, 1, size, iFile) == size; }

bool XmlFileSink::flush() { return std::fflush(iFile) == 0; }

bool XmlDescriptorSink::write(const char* data, std::size_t size) {
    while (size > 0) {
#if defined(_WIN32)
        const unsigned chunk = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
        const int written = ::_write(iFd, data, chunk);
#else
        const ssize_t written = ::write(iFd, data, size);
#endif
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool XmlStreamSink::write(const char* data, std::size_t size) {
    iStream.write(data, static_cast<std::streamsize>(size));
    return !iStream.fail();
}

bool XmlStreamSink::flush() { return !iStream.flush().fail(); }

bool XmlStringSink::write(const char* data, std::size_t size) {
    iText.append(data, size);
    return true;
}

bool XmlFormatTargetSink::write(const char* data, std::size_t size) {
    try {
        iTarget.writeChars(reinterpret_cast<const XMLByte*>(data), size, nullptr);
    } catch (const xercesc::XMLException&) {
        return false;
    }
    return true;
}

bool XmlFormatTargetSink::flush() {
    try {
        iTarget.flush();
    } catch (const xercesc::XMLException&) {
        return false;
    }
    return true;
}

} // namespace zaq
