// SPDX-License-Identifier: Apache-2.0
// DefaultLiterals.h - an attribute default as the DTD wrote it, recovered
// from the raw bytes, for the declared types the parser normalises wrongly.
#ifndef ZAQXML_DEFAULT_LITERALS_H
#define ZAQXML_DEFAULT_LITERALS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

/// The last bytes of a document read, by their offset in it: enough to
/// find the literal of the attribute default the parser has just read.
class RawWindow {
public:
    /// Keeps at least this many of the last bytes.
    static constexpr std::size_t KEPT = std::size_t(1) << 18;

    /// Bytes read next, kept while recording.
    void add(const char* bytes, std::size_t length) {
        if (iRecording)
            keep(bytes, length);
    }
    /// Whether the bytes read are kept: from the start of a document that
    /// has a DTD, to the DTD's end.
    void record(bool recording) { iRecording = recording; }
    /// A document in memory, whole: nothing need be kept.
    void view(const char* bytes, std::size_t size) {
        iView = std::string_view(bytes, size);
        iRecording = false;
    }
    /// The bytes from `from` up to `to` (offsets in the document), as far
    /// as they are kept.
    std::string_view span(std::uint64_t from, std::uint64_t to) const;

private:
    void keep(const char* bytes, std::size_t length);

    std::string iBytes;
    std::uint64_t iStart = 0; // the offset of iBytes[0]
    std::string_view iView;   // a document in memory
    bool iRecording = false;
};

/// The parser normalises the default of an attribute of a type other than
/// CDATA before the tool can tell it the type is CDATA, and then takes a
/// tab, line feed or CR written as a character reference for a separator,
/// where XML keeps them (only spaces separate tokens). `raw` ends with the
/// default's literal (quotes included) as the DTD wrote it, in UTF-8.
/// When its references are all character references or predefined, and it
/// normalises the parser's way to exactly `parsed` (so that it is the very
/// literal), `cdata` is set to the value as CDATA normalisation gives it,
/// references kept, and true is returned; for the tool to normalise as it
/// does written values.
bool recoverDefault(std::string_view raw, std::u16string_view parsed, std::u16string& cdata);

#endif
