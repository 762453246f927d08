// SPDX-License-Identifier: Apache-2.0
// MarkupEmitter.h - the markup of XML output, each piece written in one
// place for the three serializers.
#ifndef ZAQPREFIXMGR_MARKUP_EMITTER_H
#define ZAQPREFIXMGR_MARKUP_EMITTER_H

#include "XmlTextOutput.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zaq {

/// Writes the markup of a document into an `XmlTextOutput`: the XML
/// declaration, the document type declaration, start tags with their
/// attributes and namespace declarations, end tags from a stack of the open
/// elements' names as written, text, CDATA sections (split around `]]>` and
/// around the characters only a reference brings back), comments and
/// processing instructions. The serializers (`XmlWriter`,
/// `XmlCanonicalWriter`, zaqxml's rewriter) decide what is written: names,
/// prefixes, order, checks. None writes a `<`, a `&` or a `]]>` itself.
///
/// It checks nothing: the caller gives names, targets and comment text that
/// are well formed where they go. Internal; the output is not owned.
class MarkupEmitter {
public:
    using Escape = XmlTextOutput::Escape;

    /// A CDATA section written in pieces (`cdata`, then `endCdata`).
    struct Cdata {
        bool open = false;       // a "<![CDATA[" is written and not yet closed
        std::size_t written = 0; // code units given so far
    };

    explicit MarkupEmitter(XmlTextOutput& out) : iOut(out) {}
    MarkupEmitter(const MarkupEmitter&) = delete;
    MarkupEmitter& operator=(const MarkupEmitter&) = delete;

    /// The output written into.
    XmlTextOutput& out() { return iOut; }

    /// The XML declaration, UTF-8, with `standalone` ("yes", "no", or empty
    /// for none), and a line end.
    void declaration(bool xml11, std::string_view standalone);
    /// A document type declaration naming its external subset, and a line
    /// end; `publicId` may be empty. The system literal takes the quote it
    /// does not hold.
    void doctype(std::u16string_view name, std::u16string_view publicId, std::u16string_view systemId);

    /// Starts a start tag: the element's name follows (`name`, `rawName`).
    void beginStartTag() {
        iOut.put('<');
        iNameFrom = iOut.size();
    }
    /// A qualified name as it is written, prefix (may be empty) and local part.
    void name(std::u16string_view prefix, std::u16string_view localName) {
        if (!prefix.empty()) {
            text(prefix, Escape::None);
            iOut.put(':');
        }
        text(localName, Escape::None);
    }
    /// The same with a zero-terminated local part (as a parser gives it).
    void name(std::u16string_view prefix, const char16_t* localName) {
        if (!prefix.empty()) {
            text(prefix, Escape::None);
            iOut.put(':');
        }
        iOut.appendName(localName);
    }
    /// A name already in UTF-8.
    void rawName(const char* name, std::size_t length) { iOut.put(name, length); }
    /// Pushes the element's name, as written since `beginStartTag`, on the
    /// stack `endTag` pops; before anything else of the tag is written.
    void pushName() {
        iNameStarts.push_back(iNames.size());
        iNames.append(iOut.data() + iNameFrom, iOut.size() - iNameFrom);
    }
    /// Starts an attribute: its name follows, then `attributeValue`.
    void beginAttribute() { iOut.put(' '); }
    /// The attribute's value, quoted and escaped.
    void attributeValue(std::u16string_view value) {
        iOut.put("=\"");
        text(value, Escape::Attribute);
        iOut.put('"');
    }
    /// The same for a zero-terminated value.
    void attributeValue(const char16_t* value) {
        iOut.put("=\"");
        iOut.append(value, Escape::Attribute);
        iOut.put('"');
    }
    /// A namespace declaration on the open start tag (prefix empty: the
    /// default namespace).
    void namespaceDeclaration(std::u16string_view prefix, std::u16string_view uri) {
        iOut.put(" xmlns");
        if (!prefix.empty()) {
            iOut.put(':');
            text(prefix, Escape::None);
        }
        attributeValue(uri);
    }
    /// Ends a start tag whose content follows.
    void endStartTag() { iOut.put('>'); }
    /// Ends a start tag as an empty-element tag, popping its name.
    void endEmptyTag() {
        iOut.put("/>");
        popName();
    }
    /// The end tag of the innermost open element, popping its name.
    void endTag() {
        iOut.put("</");
        iOut.put(iNames.data() + iNameStarts.back(), iNames.size() - iNameStarts.back());
        iOut.put('>');
        popName();
    }
    /// Forgets the names of the open elements (a new document).
    void clearNames() {
        iNames.clear();
        iNameStarts.clear();
    }

    /// Character data, escaped.
    void text(std::u16string_view text, Escape escape = Escape::Text) { iOut.append(text.data(), text.size(), escape); }
    /// The same for zero-terminated or counted char16_t text.
    void text(const char16_t* text, std::size_t length) { iOut.append(text, length, Escape::Text); }
    /// A piece of a CDATA section's text.
    void cdata(std::u16string_view piece, Cdata& section);
    /// Ends a CDATA section given in pieces; an empty one is written empty.
    void endCdata(Cdata& section);

    /// Starts a comment; its text follows in pieces (`raw`), then `endComment`.
    void beginComment() { iOut.put("<!--"); }
    void endComment() { iOut.put("-->"); }
    /// Starts a processing instruction; its data follows in pieces (`raw`)
    /// after `beginInstructionData`, then `endInstruction`.
    void beginInstruction(std::u16string_view target) {
        iOut.put("<?");
        text(target, Escape::None);
    }
    void beginInstructionData() { iOut.put(' '); }
    void endInstruction() { iOut.put("?>"); }
    /// Text written as it is (a comment's, a PI's data).
    void raw(std::u16string_view text) { this->text(text, Escape::None); }

    /// A whole comment.
    void comment(std::u16string_view text) {
        beginComment();
        raw(text);
        endComment();
    }
    /// A whole processing instruction; no data, no space.
    void processingInstruction(std::u16string_view target, std::u16string_view data) {
        beginInstruction(target);
        if (!data.empty()) {
            beginInstructionData();
            raw(data);
        }
        endInstruction();
    }

private:
    void popName() {
        iNames.resize(iNameStarts.back());
        iNameStarts.pop_back();
    }

    XmlTextOutput& iOut;
    std::size_t iNameFrom = 0;
    std::string iNames; // the open elements' names as written, one after another
    std::vector<std::size_t> iNameStarts;
};

} // namespace zaq

#endif
