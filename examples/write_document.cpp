// SPDX-License-Identifier: Apache-2.0
// write_document.cpp - writes a small in-memory tree as namespaced XML with
// XmlWriter, which asks XMLPrefixManager for every prefix and writes the
// declarations, the escaping and the UTF-8.
#include <zaqprefixmgr/XmlWriter.h>

#include <iostream>
#include <string>
#include <vector>

namespace {

struct Attribute {
    std::u16string uri, localName, value;
};

struct Element {
    std::u16string uri, localName; // an empty URI: no namespace
    std::vector<Attribute> attributes;
    std::u16string text;
    std::vector<Element> children;
};

void write(zaq::XmlWriter& writer, const Element& element) {
    writer.startElement(element.uri, element.localName);
    for (const Attribute& a : element.attributes)
        writer.attribute(a.uri, a.localName, a.value);
    writer.text(element.text);
    for (const Element& child : element.children)
        write(writer, child);
    writer.endElement();
}

} // namespace

int main() {
    const std::u16string orders = u"urn:example:orders";
    const std::u16string products = u"urn:example:products";
    const Element order{orders,
                        u"order",
                        {{u"", u"id", u"A&B \"42\""}},
                        u"",
                        {{orders, u"item", {{products, u"sku", u"tea<1kg>"}}, u"Tea & biscuits", {}},
                         {u"", u"note", {}, u"5 < 6, deliver after 6pm", {}}}};

    zaq::XmlStreamSink sink(std::cout);
    try {
        zaq::XmlWriter writer(sink);
        writer.setPreferredPrefix(orders, u"o"); // products gets a generated prefix: NS1
        writer.startDocument();
        write(writer, order);
        writer.endDocument();
    } catch (const zaq::XmlWriterError& e) {
        std::cerr << "write_document: " << e.what() << '\n';
        return 1;
    }
    std::cout << '\n';
    return std::cout ? 0 : 1;
}
