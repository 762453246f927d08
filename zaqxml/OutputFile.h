// SPDX-License-Identifier: Apache-2.0
// OutputFile.h - the file behind -o: replaced whole, or written through.
#ifndef ZAQXML_OUTPUT_FILE_H
#define ZAQXML_OUTPUT_FILE_H

#include <cstdio>
#include <string>

/// The output named by -o. A regular file (or a new one) is written to a
/// temporary file in the same directory and renamed over it once complete,
/// keeping the old file's mode, extended attributes and ACL and, where
/// permitted, its owner (`copyMetadata`; where they cannot be kept the file
/// is not replaced); a new file gets 0666 less the umask. Other hard links
/// to the old file keep the old contents. A symlink is followed, so its target is
/// replaced and the link kept. Anything else (a device, a FIFO, a socket)
/// is written through. The temporary file is removed if the process is
/// interrupted (SIGINT, SIGTERM, SIGHUP). One at a time per process.
class OutputFile {
public:
    explicit OutputFile(const std::string& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    /// Null when the file could not be opened; `error()` says why.
    std::FILE* file() const { return iFile; }
    const std::string& error() const { return iError; }
    /// Completes the output; false, with `error()` set, if it could not be.
    bool commit();

private:
    void discard();

    std::string iTarget; // after following symlinks
    std::string iTemp;   // empty when writing through
    std::FILE* iFile = nullptr;
    std::string iError;
};

#endif
