// SPDX-License-Identifier: Apache-2.0
// write_document.cpp - writes a small in-memory tree as namespaced XML,
// letting XMLPrefixManager choose every prefix and namespace declaration.
#include <zaqprefixmgr/XMLPrefixManager.h>

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

// What a character of text becomes in element content or in a double-quoted
// attribute value (where white space other than a space must be escaped too
// to survive attribute value normalisation); nullptr: itself.
const char* entity(char c, bool attribute) {
    switch (c) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '\r':
        return "&#13;";
    case '"':
        return attribute ? "&quot;" : nullptr;
    case '\t':
        return attribute ? "&#9;" : nullptr;
    case '\n':
        return attribute ? "&#10;" : nullptr;
    default:
        return nullptr;
    }
}

std::string escape(const std::u16string& text, bool attribute) {
    std::string out;
    for (char c : OrvWstring(text).toUtf8()) {
        if (const char* replacement = entity(c, attribute))
            out += replacement;
        else
            out += c;
    }
    return out;
}

class Writer {
public:
    explicit Writer(std::ostream& out) : iOut(out), iPrefixes(nullptr) {}

    // Registers the prefix a namespace gets when it is first needed.
    void prefer(const std::u16string& uri, const std::u16string& prefix) {
        iPrefixes.addNamespace(OrvWstring(uri), OrvWstring(prefix));
    }

    void write(const Element& element) {
        iPrefixes.addLevel();
        std::string declarations;
        const std::string name = qualifiedName(element.uri, element.localName, true, declarations);
        std::string attributes;
        for (const Attribute& a : element.attributes)
            attributes +=
                ' ' + qualifiedName(a.uri, a.localName, false, declarations) + "=\"" + escape(a.value, true) + '"';
        iOut << '<' << name << declarations << attributes << '>' << escape(element.text, false);
        for (const Element& child : element.children)
            write(child);
        iOut << "</" << name << '>';
        iPrefixes.removeLevel();
    }

private:
    // The name to write; appends the declaration of a prefix bound just now.
    std::string qualifiedName(const std::u16string& uri, const std::u16string& localName, bool isElement,
                              std::string& declarations) {
        std::string local = OrvWstring(localName).toUtf8();
        if (uri.empty()) {
            // No namespace. Never ask the manager: for an empty URI it binds a
            // generated prefix, and xmlns:NS1="" is not XML. An unprefixed
            // element must only undo a default namespace in force.
            if (isElement && iPrefixes.isDefaultSpace()) {
                iPrefixes.addNamespaceAndPrefix(OrvWstring(), OrvWstring());
                declarations += " xmlns=\"\"";
            }
            return local;
        }
        OrvWstring prefix;
        // Attributes never take the default namespace: unprefixed attributes have none.
        if (!iPrefixes.getNamespacePrefix(OrvWstring(uri), prefix, isElement))
            declarations += " xmlns:" + prefix.toUtf8() + "=\"" + escape(uri, true) + '"';
        return prefix.isEmpty() ? local : prefix.toUtf8() + ':' + local;
    }

    std::ostream& iOut;
    XMLPrefixManager iPrefixes; // no owner: trace records name no source
};

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

    Writer writer(std::cout);
    writer.prefer(orders, u"o");
    writer.write(order); // products gets a generated prefix: NS1
    std::cout << '\n';
    return std::cout ? 0 : 1;
}
