// SPDX-License-Identifier: Apache-2.0
// XmlIndenter.h - element-only content reindented as it is written.
#ifndef ZAQPREFIXMGR_XML_INDENTER_H
#define ZAQPREFIXMGR_XML_INDENTER_H

#include "XmlTextOutput.h"
#include "ZaqPrefixMgrExport.h"

#include <string>
#include <vector>

/// Reindents element-only content, two spaces a level, as `xmllint --format`
/// does, while the document streams: white space between tags is held back
/// until the next event shows what it was. Before a child (element, comment,
/// processing instruction) of an element that has had no other text, it is
/// replaced by a line end and the child's indentation, and before the end
/// tag of such an element with children, by the end tag's. Once an element
/// has text that is not white space, its content is mixed and written as it
/// came; so is everything under `xml:space="preserve"`, and the white space
/// of an element with no child. The caller closes a pending start tag before
/// each call that writes (`writesBeforeEnd` tells it for the end tag).
///
/// `XmlWriter` indents through it; a program on `XmlTextOutput` may too.
/// The output is not owned and must outlive the indenter.
class ZAQ_PREFIXMGR_EXPORT XmlIndenter {
public:
    /// Indents what goes to `out` (not owned); when not `enabled`, every call does nothing.
    XmlIndenter(XmlTextOutput& out, bool enabled) : iOut(out), iEnabled(enabled) {}

    /// An element started; `space` is its xml:space value, if it has one.
    void open(const XMLCh* space);
    /// The current element ended.
    void close();
    /// Whether text of the current element is held back: white space only,
    /// in content that is not mixed (so far).
    bool hold(const XMLCh* chars, std::size_t length);
    /// Text that is not held follows: the content is mixed.
    void beforeText();
    /// A child element, comment or processing instruction follows.
    void beforeChild();
    /// Whether `beforeEnd` writes anything (the start tag must be closed).
    bool writesBeforeEnd() const;
    /// The current element's end tag follows.
    void beforeEnd();

private:
    struct Level {
        bool mixed;    // had text that is not white space, or preserves it
        bool children; // had a child
    };
    void releaseHeld();
    void newLine(std::size_t depth);

    XmlTextOutput& iOut;
    bool iEnabled;
    std::vector<Level> iLevels;
    std::vector<bool> iPreserve; // xml:space of each open element
    std::u16string iHeld;        // white space not yet written
};

#endif
