// SPDX-License-Identifier: Apache-2.0
// MarkupEmitter.cpp - the declarations, and CDATA sections split where a
// section cannot hold what it is given.
#include "MarkupEmitter.h"

namespace zaq {

void MarkupEmitter::declaration(bool xml11, std::string_view standalone) {
    iOut.put(xml11 ? "<?xml version=\"1.1\" encoding=\"UTF-8\"" : "<?xml version=\"1.0\" encoding=\"UTF-8\"");
    if (!standalone.empty()) {
        iOut.put(" standalone=\"");
        iOut.put(standalone.data(), standalone.size());
        iOut.put('"');
    }
    iOut.put("?>\n");
}

void MarkupEmitter::doctype(std::u16string_view name, std::u16string_view publicId, std::u16string_view systemId) {
    iOut.put("<!DOCTYPE ");
    raw(name);
    if (!publicId.empty()) {
        iOut.put(" PUBLIC \"");
        raw(publicId);
        iOut.put('"');
    } else {
        iOut.put(" SYSTEM");
    }
    const char quote = systemId.find(u'"') == std::u16string_view::npos ? '"' : '\'';
    iOut.put(' ');
    iOut.put(quote);
    raw(systemId);
    iOut.put(quote);
    iOut.put(">\n");
}

// A section holds its characters raw. "]]>" cannot stand in one: "]]" ends
// a section and ">" starts the next. The characters a parser reads back
// only from a reference (CR, and in XML 1.1 the controls, NEL and LINE
// SEPARATOR) go between sections, as references. Sections open only where
// there is something to hold.
void MarkupEmitter::cdata(std::u16string_view piece, Cdata& section) {
    const char16_t* units = piece.data();
    std::size_t from = 0;
    auto rawUpTo = [&](std::size_t end) {
        if (end == from)
            return;
        if (!section.open)
            iOut.put("<![CDATA[");
        section.open = true;
        iOut.append(units + from, end - from, Escape::None);
    };
    for (std::size_t i = 0; i < piece.size(); ++i) {
        if (piece.compare(i, 3, u"]]>") == 0) {
            rawUpTo(i + 2);
            iOut.put("]]>");
            section.open = false;
            from = i + 2;
        } else if (iOut.needsReference(units[i])) {
            rawUpTo(i);
            if (section.open)
                iOut.put("]]>");
            section.open = false;
            iOut.append(units + i, 1, Escape::Text);
            from = i + 1;
        }
    }
    rawUpTo(piece.size());
    section.written += piece.size();
}

void MarkupEmitter::endCdata(Cdata& section) {
    if (section.written == 0)
        iOut.put("<![CDATA[");
    if (section.open || section.written == 0)
        iOut.put("]]>");
    section = Cdata();
}

} // namespace zaq
