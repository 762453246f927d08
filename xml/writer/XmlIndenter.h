// SPDX-License-Identifier: Apache-2.0
// XmlIndenter.h - element-only content reindented as it is written.
#ifndef ZAQPREFIXMGR_XML_INDENTER_H
#define ZAQPREFIXMGR_XML_INDENTER_H

#include "XmlTextOutput.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zaq {

/// Reindents element-only content, two spaces a level, as `xmllint --format`
/// does, while the document streams. An element is mixed once it has text
/// that is not white space (character data, CDATA, entity text), however
/// late: nothing is added inside a mixed element or anywhere below it, nor
/// under `xml:space="preserve"`, and the white space of an element with no
/// child stays as it came. In element-only content the white space between
/// tags is replaced by a line end and the indentation of what follows.
///
/// Which of the two an element is shows only at its first text or at its
/// end, so what goes between its tags is decided then: the output from the
/// first such place on is held in the buffer (`XmlTextOutput::holdFrom`),
/// with the white space each place had, until the elements it lies in are
/// decided. At most `lookahead` bytes are held (the output, the indentation
/// it may take, and the records of it): past that the outermost
/// undecided element is taken as element-only and written out, and text
/// that comes in it later makes `beforeText` answer false (the caller may
/// stop; the output then has white space added to mixed content).
///
/// The caller closes a pending start tag before each call that writes
/// (`writesBeforeEnd` tells it for the end tag). `XmlWriter` indents through
/// it; a program on `XmlTextOutput` may too. The output is not owned and
/// must outlive the indenter.
class XmlIndenter {
public:
    /// The bytes of output held at most by default while elements are undecided.
    static constexpr std::size_t DEFAULT_LOOKAHEAD = std::size_t(1) << 20;

    /// Indents what goes to `out` (not owned); when not `enabled`, every call does nothing.
    XmlIndenter(XmlTextOutput& out, bool enabled, std::size_t lookahead = DEFAULT_LOOKAHEAD)
        : iOut(out), iEnabled(enabled), iLookahead(lookahead) {}

    /// An element started (its start tag is written, perhaps not closed);
    /// `space` is its xml:space value; null when it has none.
    void open(const std::u16string_view* space);
    /// The current element ended (its end tag is written).
    void close();
    /// Whether text of the current element is held back: white space only,
    /// in content that is not mixed (so far).
    bool hold(const char16_t* chars, std::size_t length);
    /// Text that is not held follows: the content is mixed. False when the
    /// element was already taken as element-only and indented (see above).
    bool beforeText();
    /// A child element, comment or processing instruction follows.
    void beforeChild();
    /// Whether `beforeEnd` writes anything (the start tag must be closed).
    bool writesBeforeEnd() const;
    /// The current element's end tag follows.
    void beforeEnd();
    /// The most bytes held while elements are undecided.
    std::size_t lookahead() const { return iLookahead; }
    /// Keeps what is held within the lookahead, after text or markup was
    /// written into held output; cheap when nothing is held.
    void bound() {
        if (iEnabled && !iGaps.empty())
            enforceLookahead();
    }

private:
    enum class Kind : unsigned char { Undecided, ElementOnly, Mixed };
    static constexpr std::size_t NONE = ~std::size_t(0);
    struct Level {
        Kind kind;
        bool children;        // had a child
        bool preserve;        // xml:space="preserve" in force
        std::size_t record;   // its record while undecided or held, else NONE
        std::size_t firstGap; // id of the first gap made after it opened
    };
    // An element opened while output is held; ids count from the first.
    struct Record {
        std::size_t parent; // id of the enclosing held element, or NONE
        Kind kind;
    };
    // A place between tags whose white space is not decided yet.
    struct Gap {
        std::uint64_t at;             // output position, less what releases inserted before it
        std::size_t record;           // id of the element it lies in
        std::size_t depth;            // indentation, in levels
        std::size_t original, length; // its own white space, in iOriginals
    };
    /// Whether `record` names a record still kept (NONE and dropped ones do not).
    bool held(std::size_t record) const { return record != NONE && record >= iFirstRecord; }
    void addGap(std::size_t depth);
    void enforceLookahead();
    void setKind(Level& level, Kind kind);
    void release();
    void writeHeld();
    void newLine(std::size_t depth);
    std::size_t heldCost() const;

    XmlTextOutput& iOut;
    bool iEnabled;
    std::size_t iLookahead;
    std::vector<Level> iLevels;
    std::u16string iHeld;         // white space not yet written
    std::vector<Record> iRecords; // records of ids iFirstRecord on
    std::size_t iFirstRecord = 0;
    std::vector<Gap> iGaps; // in output order, of ids iFirstGap on
    std::size_t iFirstGap = 0;
    std::string iOriginals;      // the gaps' own white space, escaped
    std::uint64_t iInserted = 0; // bytes releases inserted into the output
    std::size_t iGapBytes = 0;   // the most the gaps held may become
    std::size_t iDecided = 0;    // how many of the outermost levels are decided
    std::vector<bool> iIndented; // per record, while releasing
    std::string iScratch;
};
} // namespace zaq

#endif
