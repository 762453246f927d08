// SPDX-License-Identifier: Apache-2.0
// InputStream.h - how zaqxml reads a document's bytes: a descriptor opened
// once, counted and checked as it is read, and its prolog scanned ahead.
#ifndef ZAQXML_INPUT_STREAM_H
#define ZAQXML_INPUT_STREAM_H

#include "DefaultLiterals.h"
#include "Limits.h"

#include <xercesc/sax/InputSource.hpp>

#include <cstddef>
#include <string>

/// What the first bytes of a document show of its prolog.
enum class Prolog {
    Plain,   ///< no document type declaration before the root element
    Unknown, ///< one, or something else, or an encoding these bytes do not show as ASCII
    NeedMore ///< the bytes end before the root element or a declaration
};

/// Reads `size` first bytes of a document: a UTF-8 byte order mark, then
/// white space, comments and processing instructions (the XML declaration
/// among them) up to the root element's start tag make it `Plain`.
Prolog scanProlog(const unsigned char* bytes, std::size_t size);

/// A document read through a file descriptor opened once: a named file or
/// standard input. Counts the bytes read in `limits`, for the expansion
/// bound, and refuses start tags of more attributes than they allow as they
/// are read.
class DescriptorInputSource : public xercesc::InputSource {
public:
    /// `fd` stays the caller's; `name` becomes the system id, the base of
    /// relative external entities.
    DescriptorInputSource(int fd, const std::string& name, Limits& limits, xercesc::MemoryManager* manager);
    xercesc::BinInputStream* makeStream() const override;
    /// Reads ahead, keeping what it reads for the parser, until the prolog
    /// is known to be `Plain`, or up to 64 KiB; false if it is not.
    bool plainProlog();
    /// The bytes read are also given to `window` (not owned), which keeps
    /// them while it records.
    void recordInto(RawWindow* window) { iWindow = window; }

private:
    RawWindow* iWindow = nullptr;
    int iFd;
    Limits& iLimits;
    std::string iHead;   // read ahead, for the parser first
    bool iAtEnd = false; // the descriptor is at its end after iHead
    int iReadError = 0;  // errno of a failed read ahead, reported when the parser comes to it
};

/// Opens a named input for reading; on failure returns -1 with a message
/// in words ("is a directory", "No such file or directory").
int openInput(const std::string& path, std::string& error);

#endif
