// SPDX-License-Identifier: Apache-2.0
// StartTagGuard.h - counts the attributes of each start tag in a document's
// bytes before the parser reads them.
#ifndef ZAQXML_START_TAG_GUARD_H
#define ZAQXML_START_TAG_GUARD_H

#include <cstddef>
#include <cstdint>
#include <string>

/// Xerces-C spends time quadratic in a start tag's attributes: its
/// well-formedness scanner compares each name with every earlier one, and its
/// namespace check puts attributes of one local name in one hash bucket. The
/// parser reports a tag only once it has scanned all of it, so the bound is
/// checked here, on the bytes as they are read: a start tag with more than
/// `maxAttributes` attributes (namespace declarations included), or a DTD
/// literal with more namespace declarations than that (an entity holding such
/// a tag), throws a DocumentError. Markup is followed just far enough for
/// that: text, comments, CDATA sections, processing instructions, end tags,
/// and the document type declaration with its literals. UTF-8 and other
/// ASCII-compatible encodings are read as bytes, UTF-16 and UTF-32 (by byte
/// order mark or by the first character, '<') by their ASCII code units;
/// EBCDIC is not followed.
class StartTagGuard {
public:
    explicit StartTagGuard(std::size_t maxAttributes) : iMax(maxAttributes) {}
    /// Follows `size` more bytes of the document.
    void scan(const unsigned char* bytes, std::size_t size);

private:
    enum class State : unsigned char {
        Text,
        Open,        // after '<'
        Bang,        // after "<!"
        Comment,     // to "-->"
        CData,       // to "]]>"
        Pi,          // to "?>"
        EndTag,      // to '>'
        TagName,     // a start tag's name
        TagSpace,    // between attributes
        AttrName,    // an attribute's name
        BeforeValue, // after the name, to the opening quote
        Value,       // to the closing quote
        Doctype,     // the document type declaration outside its subset
        Subset,      // its internal subset
        SubsetOpen,  // after '<' in the subset
        SubsetBang,  // after "<!" in the subset
        Literal,     // a quoted literal in the declaration or the subset
    };

    // Sets the code unit from the first four bytes; returns the length of
    // a byte order mark there.
    std::size_t decide(const unsigned char* head);
    void narrow(const unsigned char* bytes, std::size_t size);
    void follow(const unsigned char* bytes, std::size_t size);
    // Whether the two bytes before bytes[at] (carried over from earlier
    // chunks where needed) are `first` and `second`.
    bool precededBy(const unsigned char* bytes, std::size_t at, unsigned char first, unsigned char second) const;
    // Throws, at bytes[at] of the current read.
    [[noreturn]] void refuse(const unsigned char* bytes, std::size_t at, const std::string& message) const;

    std::size_t iMax;
    State iState = State::Text;
    State iReturn = State::Text; // where a comment, PI or literal goes back to
    unsigned char iQuote = 0;
    std::size_t iAttributes = 0;
    std::size_t iDeclarations = 0; // "xmlns" in the current DTD literal
    unsigned iMatched = 0;         // of "xmlns", at the start of an attribute name or in a literal
    unsigned char iTail[2] = {0, 0};
    // The code unit: 1 byte, or 2 or 4 with the ASCII byte first (little
    // endian) or last; 0 once the encoding is one this does not follow.
    unsigned iWidth = 1;
    bool iLittleEndian = false;
    std::string iStart; // the first bytes, until there are four: then four blanks
    unsigned char iUnit[4] = {0, 0, 0, 0};
    unsigned iUnitFill = 0;
    std::string iNarrow;
    std::uint64_t iLine = 1;
    std::uint64_t iOffset = 0;    // of the next byte (code unit), from the start
    std::uint64_t iLineStart = 0; // offset just after the last line feed
};

#endif
