// SPDX-License-Identifier: Apache-2.0
// XmlTextOutput.h - buffered UTF-8 output of markup and escaped text.
#ifndef ZAQPREFIXMGR_XML_TEXT_OUTPUT_H
#define ZAQPREFIXMGR_XML_TEXT_OUTPUT_H

#include "OrvWstring.h"
#include "XmlSink.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace zaq {

/// The layer beneath `XmlWriter`: buffered UTF-8 output of markup and of
/// UTF-16 text escaped for its context, with no checks of its own. It is for
/// a program that already knows its markup is well formed, such as one that
/// copies what a parser reported (`zaqxml` does); any other program wants
/// `XmlWriter`.
///
/// Text and attribute values are escaped so that a parser reads back the
/// same characters: `&`, `<` and `>` always, `"` in attribute values, CR as
/// a character reference in text, and tab, CR and LF as references in
/// attribute values (which a parser would otherwise normalise to spaces).
/// Unpaired surrogates are written as U+FFFD.
///
/// **Ownership.** The sink is not owned and must outlive the output.
/// **Threads.** One thread at a time.
/// **Failures.** A failed write of the sink is remembered: `flush` answers
/// false from then on and nothing more is written. Growing the buffer may
/// throw std::bad_alloc.
///
/// The buffer only grows between flushes, so an offset into it (`size()`)
/// stays valid until the next `flush`.
class XmlTextOutput {
public:
    /// What a run of text needs escaped where it is written.
    enum class Escape { None, Text, Attribute };

    /// Buffers output for `sink` (not owned).
    explicit XmlTextOutput(XmlSink& sink);
    XmlTextOutput(const XmlTextOutput&) = delete;
    XmlTextOutput& operator=(const XmlTextOutput&) = delete;

    /// Appends a character as it is.
    void put(char c) {
        *room(1) = c;
        ++iSize;
    }
    /// Appends `length` bytes as they are.
    void put(const char* text, std::size_t length) {
        char* out = room(length);
        // Markup and names are short: copied by two overlapping words, not
        // by a call.
        if (length >= 8 && length <= 16) {
            copyWord<8>(out, text);
            copyWord<8>(out + length - 8, text + length - 8);
        } else if (length >= 4 && length < 8) {
            copyWord<4>(out, text);
            copyWord<4>(out + length - 4, text + length - 4);
        } else if (length < 4) {
            for (std::size_t i = 0; i < length; ++i)
                out[i] = text[i];
        } else {
            std::memcpy(out, text, length);
        }
        iSize += length;
    }
    /// Appends a string literal as it is.
    template <std::size_t N> void put(const char (&literal)[N]) { put(literal, N - 1); }
    /// Appends a string as it is.
    void put(const std::string& text) { put(text.data(), text.size()); }
    /// Appends UTF-16 text as UTF-8, escaped for its context.
    void append(const char16_t* text, std::size_t length, Escape escape) {
        // Most names and values are short plain ASCII: copied here, inline.
        if (length <= SHORT) {
            char* out = room(SHORT);
            const bool* special = specialOf(escape);
            std::size_t i = 0;
            while (i < length && text[i] < 0x80 && !special[text[i]])
                *out++ = static_cast<char>(text[i++]);
            iSize = static_cast<std::size_t>(out - iData.get());
            if (i == length)
                return;
            text += i;
            length -= i;
        }
        appendLong(text, length, escape);
    }
    /// The same for zero-terminated text.
    void append(const char16_t* text, Escape escape) {
        if (escape == Escape::None) {
            appendName(text);
            return;
        }
        const bool* special = specialOf(escape);
        for (;;) {
            char* out = room(SHORT);
            char* const end = out + SHORT;
            while (out < end && *text != 0 && *text < 0x80 && !special[*text])
                *out++ = static_cast<char>(*text++);
            iSize = static_cast<std::size_t>(out - iData.get());
            if (*text == 0)
                return;
            if (out < end)
                break; // a character that needs more than a copy
        }
        appendLong(text, lengthOf(text), escape);
    }
    /// Zero-terminated text that needs no escaping, such as a name.
    void appendName(const char16_t* text) {
        for (;;) {
            char* out = room(SHORT);
            char* const end = out + SHORT;
            // 1 to 0x7F: ASCII other than the terminator.
            while (out < end && static_cast<unsigned>(*text) - 1u < 0x7Fu)
                *out++ = static_cast<char>(*text++);
            iSize = static_cast<std::size_t>(out - iData.get());
            if (*text == 0)
                return;
            if (out < end)
                break;
        }
        appendLong(text, lengthOf(text), Escape::None);
    }
    /// The same for an OrvWstring.
    void append(const OrvWstring& text, Escape escape) { append(text.data(), text.length(), escape); }

    /// What is buffered, from `data()` on.
    const char* data() const { return iData.get(); }
    /// How many bytes are buffered.
    std::size_t size() const { return iSize; }
    /// XML 1.1 output: its restricted characters and its extra line ends
    /// are written as character references in text and attribute values.
    void setXml11(bool xml11) { iXml11 = xml11; }
    /// Character references in hexadecimal (`&#xD;`), as canonical XML
    /// writes them; decimal (`&#13;`) otherwise.
    void setHexReferences(bool hex) { iHexReferences = hex; }
    /// Whether a parser would read `c` back as itself only from a character
    /// reference: CR, and in XML 1.1 the controls, NEL and LINE SEPARATOR.
    bool needsReference(char16_t c) const {
        return c == '\r' ||
               (iXml11 && ((c < 0x20 && c != '\t' && c != '\n') || (c >= 0x7F && c <= 0x9F) || c == 0x2028));
    }
    /// Whether the buffer has reached the size at which a flush is due.
    bool full() const { return iSize >= FLUSH_AT; }
    /// Bytes written so far, buffered ones included: the position the next
    /// byte will have in the output.
    std::uint64_t written() const { return iWritten + iSize; }
    /// Keeps what comes from the output position `position` on buffered:
    /// `flush` writes only what is before it. The indenter holds back an
    /// element's content so while it cannot yet tell what goes between its
    /// tags.
    void holdFrom(std::uint64_t position) { iHoldFrom = position; }
    /// Ends `holdFrom`: the next `flush` writes everything.
    void releaseHold() { iHoldFrom = NO_HOLD; }
    /// Replaces what is buffered from the output position `position` on (it
    /// must not have been written yet) by `length` bytes at `bytes`, which
    /// must not point into the buffer.
    void replaceFrom(std::uint64_t position, const char* bytes, std::size_t length);
    /// Whether a write of the sink has failed.
    bool failed() const { return iFailed; }
    /// Writes what is buffered; false once any write has failed.
    bool flush();

private:
    static constexpr std::size_t FLUSH_AT = 1 << 16;
    static constexpr std::uint64_t NO_HOLD = ~std::uint64_t(0);
    std::uint64_t iHoldFrom = NO_HOLD; // flush writes only what is before this position
    static constexpr std::size_t SHORT = 64;
    static const bool TEXT_SPECIAL[128];
    static const bool ATTRIBUTE_SPECIAL[128];
    static const bool NOTHING_SPECIAL[128];

    /// Which ASCII characters the context cannot take as they are.
    static const bool* specialOf(Escape escape) {
        return escape == Escape::None ? NOTHING_SPECIAL : escape == Escape::Text ? TEXT_SPECIAL : ATTRIBUTE_SPECIAL;
    }

    /// At least `length` writable bytes at the end of the buffer.
    template <std::size_t N> static void copyWord(char* out, const char* in) {
        char word[N];
        std::memcpy(word, in, N);
        std::memcpy(out, word, N);
    }
    char* room(std::size_t length) {
        if (iCapacity - iSize < length)
            grow(length);
        return iData.get() + iSize;
    }
    void grow(std::size_t length);
    static std::size_t lengthOf(const char16_t* text) {
        std::size_t length = 0;
        while (text[length] != 0)
            ++length;
        return length;
    }
    void appendLong(const char16_t* text, std::size_t length, Escape escape);
    void appendSlice(const char16_t* text, std::size_t length, const bool* special);

    XmlSink& iSink;
    std::unique_ptr<char[]> iData;
    std::size_t iSize = 0;
    std::size_t iCapacity;
    std::uint64_t iWritten = 0;
    bool iFailed = false;
    bool iXml11 = false;
    bool iHexReferences = false;
};
} // namespace zaq

#endif
