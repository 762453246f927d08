// SPDX-License-Identifier: Apache-2.0
// HoldingSink.h - output held back until a document has shown it is worth
// writing, and counted.
#ifndef ZAQXML_HOLDING_SINK_H
#define ZAQXML_HOLDING_SINK_H

#include "XmlSink.h"

#include <cstddef>
#include <cstdint>
#include <string>

/// Passes a writer's bytes on to another sink, counting them, and keeps the
/// first `holdUpTo` bytes back: a document that fails early then leaves no
/// fragment behind (`drop`). Past that, bytes stream on as they come.
class HoldingSink : public zaq::XmlSink {
public:
    /// Passes bytes on to `next` (not owned).
    explicit HoldingSink(zaq::XmlSink& next) : iNext(next) {}
    /// Keeps up to `bytes` back before passing anything on.
    void holdUpTo(std::size_t bytes) { iHoldUpTo = bytes; }
    bool write(const char* data, std::size_t size) override;
    /// Passes on what is held, then flushes the next sink.
    bool flush() override;
    /// Whether any byte has been passed on.
    bool passing() const { return iPassing; }
    /// Forgets what is held and every byte that comes later: nothing of the
    /// document is written.
    void drop();
    /// Bytes received so far.
    std::uint64_t written() const { return iWritten; }

private:
    bool passHeld();

    zaq::XmlSink& iNext;
    std::size_t iHoldUpTo = 0;
    std::string iHeld;
    std::uint64_t iWritten = 0;
    bool iPassing = false;
    bool iDropped = false;
};

#endif
