// SPDX-License-Identifier: Apache-2.0
// XmlSink.h - where a writer's UTF-8 bytes go: the interface and ready sinks.
#ifndef ZAQPREFIXMGR_XML_SINK_H
#define ZAQPREFIXMGR_XML_SINK_H

#include "ZaqPrefixMgrExport.h"

#include <cstddef>
#include <cstdio>
#include <iosfwd>
#include <string>

namespace zaq {

/// Receives the bytes a writer produces, in large blocks (the writers buffer
/// 64 KiB between writes).
///
/// **Failures.** `write` answers false when the bytes could not be written;
/// the writer then reports the failure (`XmlWriterError::Kind::Output`) and
/// writes nothing more. A sink that throws passes its exception on to the
/// caller of the writer's call that filled the buffer; that writer has then
/// failed as if the write had answered false (the call's event may be cut
/// short in what the sink received).
///
/// **Threads.** A sink is used by one writer, on that writer's thread.
class ZAQ_PREFIXMGR_EXPORT XmlSink {
public:
    virtual ~XmlSink();
    /// Takes `size` bytes; false when they could not be written.
    virtual bool write(const char* data, std::size_t size) = 0;
    /// Passes on what the sink itself buffers; false on failure.
    virtual bool flush() { return true; }
};

/// Writes to a stdio stream, which is not owned and is not closed.
class ZAQ_PREFIXMGR_EXPORT XmlFileSink : public XmlSink {
public:
    /// Writes to `file` (not owned).
    explicit XmlFileSink(std::FILE* file) : iFile(file) {}
    bool write(const char* data, std::size_t size) override;
    bool flush() override;

private:
    std::FILE* iFile;
};

/// Writes to a file descriptor, which is not owned and is not closed;
/// interrupted and partial writes are resumed.
class ZAQ_PREFIXMGR_EXPORT XmlDescriptorSink : public XmlSink {
public:
    /// Writes to the descriptor `fd` (not owned).
    explicit XmlDescriptorSink(int fd) : iFd(fd) {}
    bool write(const char* data, std::size_t size) override;

private:
    int iFd;
};

/// Writes to a standard stream, which is not owned; a stream in a failed
/// state refuses the bytes.
class ZAQ_PREFIXMGR_EXPORT XmlStreamSink : public XmlSink {
public:
    /// Writes to `stream` (not owned).
    explicit XmlStreamSink(std::ostream& stream) : iStream(stream) {}
    bool write(const char* data, std::size_t size) override;
    bool flush() override;

private:
    std::ostream& iStream;
};

/// Appends to a string, which is not owned.
class ZAQ_PREFIXMGR_EXPORT XmlStringSink : public XmlSink {
public:
    /// Appends to `text` (not owned).
    explicit XmlStringSink(std::string& text) : iText(text) {}
    bool write(const char* data, std::size_t size) override;

private:
    std::string& iText;
};

} // namespace zaq

#endif
