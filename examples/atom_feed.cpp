// SPDX-License-Identifier: Apache-2.0
// atom_feed.cpp - writes an Atom feed with zaq::XmlWriter: the feed in the
// default namespace (zaq::UNPREFIXED), and an entry whose content is XHTML,
// given its own default namespace inside the content element.
//
// usage: atom_feed [TITLE]    (writes to standard output)
#include <zaqprefixmgr/XmlWriter.h>

#include <iostream>
#include <string>

int main(int argc, char** argv) {
    const std::string title = argc > 1 ? argv[1] : "Tea & biscuits";
    const char* const atom = "http://www.w3.org/2005/Atom";
    const char* const xhtml = "http://www.w3.org/1999/xhtml";

    zaq::XmlStreamSink sink(std::cout);
    try {
        zaq::XmlWriter::Options options;
        options.indent = true; // element-only content; the XHTML paragraph is mixed and kept as written
        zaq::XmlWriter w(sink, options);
        auto simple = [&w, atom](const char* name, const std::string& text) {
            w.startElement(atom, name);
            w.text(text);
            w.endElement();
        };
        w.startDocument();
        w.startElement(atom, "feed", zaq::UNPREFIXED); // <feed xmlns="http://www.w3.org/2005/Atom">
        simple("title", title);
        simple("id", "urn:uuid:60a76c80-d399-11d9-b93c-0003939e0af6");
        simple("updated", "2026-12-10T18:30:02Z");
        w.startElement(atom, "link");
        w.attribute("", "href", "http://example.org/");
        w.endElement();
        w.startElement(atom, "entry"); // the default namespace in force serves it
        simple("title", "Back in stock");
        simple("id", "urn:uuid:1225c695-cfb8-4ebb-aaaa-80da344efa6a");
        simple("updated", "2026-12-10T18:30:02Z");
        w.startElement(atom, "content");
        w.attribute("", "type", "xhtml");
        // The writer never rebinds a namespace in force by itself: XHTML as
        // the default namespace here is the caller's explicit declaration.
        w.startElement(xhtml, "div");
        w.declareNamespace(xhtml, "");
        w.startElement(xhtml, "p");
        w.text("Earl Grey is back: ");
        w.startElement(xhtml, "a");
        w.attribute("", "href", "http://example.org/tea?id=250&lang=en");
        w.text("order now");
        w.endElement();
        w.text(".");
        w.endDocument(); // closes p, div, content, entry and feed
    } catch (const zaq::XmlWriterError& e) {
        std::cerr << "atom_feed: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
