// SPDX-License-Identifier: Apache-2.0
// XmlOutput.h - buffered UTF-8 output of markup and escaped text.
#ifndef ZAQ_TOOLS_XML_OUTPUT_H
#define ZAQ_TOOLS_XML_OUTPUT_H

#include "OrvWstring.h"

#include <xercesc/util/XercesDefs.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

/// What a run of text needs escaped where it is written.
enum class Escape { None, Text, Attribute };

/// Buffered UTF-8 output to a stdio stream; reports write errors.
class Utf8Output {
public:
    explicit Utf8Output(std::FILE* file) : iFile(file) { iBuffer.reserve(FLUSH_AT + 4096); }
    std::string& buffer() { return iBuffer; }
    /// Appends UTF-16 text as UTF-8, escaped for its context.
    void append(const XMLCh* text, std::size_t length, Escape escape);
    void append(const XMLCh* text, Escape escape);
    void append(const OrvWstring& text, Escape escape) { append(text.data(), text.length(), escape); }
    /// XML 1.1 output: its restricted characters and its extra line ends
    /// are written as character references in text and attribute values.
    void setXml11(bool xml11) { iXml11 = xml11; }
    bool full() const { return iBuffer.size() >= FLUSH_AT; }
    /// Bytes written so far, buffered ones included.
    std::uint64_t written() const { return iWritten + iBuffer.size(); }
    /// Writes what is buffered; false once any write has failed.
    bool flush();
    bool failed() const { return iFailed; }

private:
    static constexpr std::size_t FLUSH_AT = 1 << 16;
    std::FILE* iFile;
    std::string iBuffer;
    std::uint64_t iWritten = 0;
    bool iFailed = false;
    bool iXml11 = false;
};

#endif
