// XmlRewriter.cpp - namespace-correct streaming output of SAX2 events.
#include "XmlRewriter.h"

#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cstring>

namespace {

enum class Escape { None, Text, Attribute };

// Appends UTF-16 text as UTF-8, escaping what the context needs. Text keeps
// CR as a reference (a parser would turn a raw one into LF); attribute values
// also keep tab and newlines, which a parser would normalise to spaces.
void appendUtf8(std::string& out, const XMLCh* text, std::size_t length, Escape escape) {
    for (std::size_t i = 0; i < length; ++i) {
        std::uint32_t c = text[i];
        if (c < 0x80) {
            if (escape != Escape::None) {
                switch (c) {
                case '&':
                    out += "&amp;";
                    continue;
                case '<':
                    out += "&lt;";
                    continue;
                case '>':
                    if (escape == Escape::Text) {
                        out += "&gt;";
                        continue;
                    }
                    break;
                case '"':
                    if (escape == Escape::Attribute) {
                        out += "&quot;";
                        continue;
                    }
                    break;
                case '\r':
                    out += "&#13;";
                    continue;
                case '\n':
                    if (escape == Escape::Attribute) {
                        out += "&#10;";
                        continue;
                    }
                    break;
                case '\t':
                    if (escape == Escape::Attribute) {
                        out += "&#9;";
                        continue;
                    }
                    break;
                default:
                    break;
                }
            }
            out.push_back(static_cast<char>(c));
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        }
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void appendUtf8(std::string& out, const XMLCh* text, Escape escape) {
    appendUtf8(out, text, xercesc::XMLString::stringLen(text), escape);
}

void appendUtf8(std::string& out, const OrvWstring& text, Escape escape) {
    appendUtf8(out, text.data(), text.length(), escape);
}

} // namespace

bool Utf8Output::flush() {
    if (!iBuffer.empty() && !iFailed && std::fwrite(iBuffer.data(), 1, iBuffer.size(), iFile) != iBuffer.size())
        iFailed = true;
    iBuffer.clear();
    return !iFailed;
}

XmlRewriter::XmlRewriter(XMLPrefixManager& manager, Utf8Output& out, const Options& options)
    : iManager(manager), iOut(out), iOptions(options), iXmlUri(XMLPrefixManager::XML_NAMESPACE_URI),
      iXmlnsUri(XMLPrefixManager::XMLNS_NAMESPACE_URI) {}

void XmlRewriter::startDocument() {
    iOut.buffer() += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    iUris.clear();
    iPendingMappings.clear();
    iNameArena.clear();
    iNameStarts.clear();
    iDefaults.clear();
    iTagOpen = false;
    iInCdata = false;
    iDepth = 0;
}

void XmlRewriter::endDocument() { iOut.flush(); }

void XmlRewriter::startPrefixMapping(const XMLCh* prefix, const XMLCh* uri) {
    if (iOptions.generate)
        return;
    const std::size_t prefixLength = xercesc::XMLString::stringLen(prefix);
    iPendingMappings.emplace_back(OrvWstring(prefix, static_cast<unsigned>(prefixLength)), uriString(uri));
}

const OrvWstring& XmlRewriter::uriString(const XMLCh* uri) {
    // The parser hands out each URI from its own string pool, so the text's
    // address identifies it; the content check guards against reuse.
    const std::size_t length = xercesc::XMLString::stringLen(uri);
    for (auto& known : iUris)
        if (known.first == uri && known.second.length() == length &&
            std::memcmp(known.second.data(), uri, length * sizeof(XMLCh)) == 0)
            return known.second;
    if (iUris.size() >= 256 && iNames.empty())
        iUris.clear();
    iUris.emplace_back(uri, OrvWstring(uri, static_cast<unsigned>(length)));
    return iUris.back().second;
}

void XmlRewriter::resolve(Name& name) {
    if (name.uri == nullptr) {
        name.prefix = OrvWstring();
        return;
    }
    if (!iManager.getNamespacePrefix(*name.uri, name.prefix, name.element))
        iDeclarations.emplace_back(name.prefix, *name.uri);
}

bool XmlRewriter::rebound(const Name& name) const {
    for (const auto& declaration : iDeclarations)
        if (declaration.first.equals(name.prefix) && !declaration.second.equals(*name.uri))
            return true;
    return false;
}

void XmlRewriter::closeStartTag() {
    if (iTagOpen) {
        iOut.buffer() += '>';
        iTagOpen = false;
    }
}

void XmlRewriter::writeName(const Name& name) {
    std::string& out = iOut.buffer();
    if (!name.prefix.isEmpty()) {
        appendUtf8(out, name.prefix, Escape::None);
        out += ':';
    }
    appendUtf8(out, name.local, Escape::None);
}

void XmlRewriter::startElement(const XMLCh* uri, const XMLCh* localname, const XMLCh*,
                               const xercesc::Attributes& attrs) {
    closeStartTag();
    iManager.addLevel();
    ++iDepth;
    iDeclarations.clear();
    iNames.clear();

    // What the input declared here: prefixes become preferences, so that they
    // come out as they came in, declared where first needed; a default
    // namespace is kept as a binding of this element.
    // The default namespace is bound only by this writer, so it knows which
    // one is in force and never declares it again where it already holds.
    OrvWstring defaultUri = iDefaults.empty() ? OrvWstring() : iDefaults.back();
    for (const auto& mapping : iPendingMappings) {
        const OrvWstring& prefix = mapping.first;
        const OrvWstring& mappedUri = mapping.second;
        if (prefix.isEmpty()) {
            if (!mappedUri.isEmpty() && !mappedUri.equals(defaultUri)) {
                iManager.addNamespaceAndPrefix(mappedUri, prefix);
                iDeclarations.emplace_back(prefix, mappedUri);
                defaultUri = mappedUri;
            }
        } else if (!mappedUri.equals(iXmlUri) && !mappedUri.equals(iXmlnsUri)) {
            iManager.addNamespace(mappedUri, prefix);
        }
    }
    iPendingMappings.clear();

    const bool elementHasUri = uri != nullptr && *uri != 0;
    if (elementHasUri) {
        iNames.push_back(Name{&uriString(uri), localname, true, OrvWstring()});
    } else {
        iNames.push_back(Name{nullptr, localname, true, OrvWstring()});
        // An unprefixed name in no namespace must not fall under a default one.
        if (iManager.isDefaultSpace()) {
            iManager.addNamespaceAndPrefix(OrvWstring(), OrvWstring());
            iDeclarations.emplace_back(OrvWstring(), OrvWstring());
            defaultUri = OrvWstring();
        }
    }
    iDefaults.push_back(defaultUri);
    const XMLSize_t attributeCount = attrs.getLength();
    for (XMLSize_t i = 0; i < attributeCount; ++i) {
        const XMLCh* attributeUri = attrs.getURI(i);
        const bool hasUri = attributeUri != nullptr && *attributeUri != 0;
        iNames.push_back(Name{hasUri ? &uriString(attributeUri) : nullptr, attrs.getLocalName(i), false, OrvWstring()});
    }
    for (Name& name : iNames)
        resolve(name);

    // A binding made on this element can shadow a prefix that an earlier
    // name of the same element took from an enclosing one: such a name asks
    // again (and gets a prefix in force, or a new one) until none clashes.
    bool clash = !iDeclarations.empty();
    while (clash) {
        clash = false;
        for (Name& name : iNames) {
            if (name.uri == nullptr || !rebound(name))
                continue;
            if (!iManager.getNamespacePrefix(*name.uri, name.prefix, name.element))
                iDeclarations.emplace_back(name.prefix, *name.uri);
            clash = true;
        }
    }

    std::string& out = iOut.buffer();
    out += '<';
    iNameStarts.push_back(iNameArena.size());
    const std::size_t nameStart = out.size();
    writeName(iNames.front());
    iNameArena.append(out, nameStart, std::string::npos);
    for (const auto& declaration : iDeclarations) {
        if (declaration.first.isEmpty()) {
            out += " xmlns=\"";
        } else {
            out += " xmlns:";
            appendUtf8(out, declaration.first, Escape::None);
            out += "=\"";
        }
        appendUtf8(out, declaration.second, Escape::Attribute);
        out += '"';
    }
    for (XMLSize_t i = 0; i < attributeCount; ++i) {
        out += ' ';
        writeName(iNames[i + 1]);
        out += "=\"";
        appendUtf8(out, attrs.getValue(i), Escape::Attribute);
        out += '"';
    }
    iNames.clear();
    iTagOpen = true;
    iOut.maybeFlush();
}

void XmlRewriter::endElement(const XMLCh*, const XMLCh*, const XMLCh*) {
    std::string& out = iOut.buffer();
    const std::size_t start = iNameStarts.back();
    iNameStarts.pop_back();
    if (iTagOpen) {
        out += "/>";
        iTagOpen = false;
    } else {
        out += "</";
        out.append(iNameArena, start, std::string::npos);
        out += '>';
    }
    iNameArena.resize(start);
    iDefaults.pop_back();
    iManager.removeLevel();
    if (--iDepth == 0)
        out += '\n';
    iOut.maybeFlush();
}

void XmlRewriter::characters(const XMLCh* chars, XMLSize_t length) {
    closeStartTag();
    appendUtf8(iOut.buffer(), chars, length, iInCdata ? Escape::None : Escape::Text);
    iOut.maybeFlush();
}

void XmlRewriter::ignorableWhitespace(const XMLCh* chars, XMLSize_t length) { characters(chars, length); }

void XmlRewriter::processingInstruction(const XMLCh* target, const XMLCh* data) {
    closeStartTag();
    std::string& out = iOut.buffer();
    out += "<?";
    appendUtf8(out, target, Escape::None);
    if (data != nullptr && *data != 0) {
        out += ' ';
        appendUtf8(out, data, Escape::None);
    }
    out += "?>";
    if (iDepth == 0)
        out += '\n';
}

void XmlRewriter::comment(const XMLCh* chars, XMLSize_t length) {
    closeStartTag();
    std::string& out = iOut.buffer();
    out += "<!--";
    appendUtf8(out, chars, length, Escape::None);
    out += "-->";
    if (iDepth == 0)
        out += '\n';
}

void XmlRewriter::startCDATA() {
    closeStartTag();
    iOut.buffer() += "<![CDATA[";
    iInCdata = true;
}

void XmlRewriter::endCDATA() {
    iOut.buffer() += "]]>";
    iInCdata = false;
}

void XmlRewriter::fatalError(const xercesc::SAXParseException& e) { throw e; }

void XmlRewriter::error(const xercesc::SAXParseException& e) { throw e; }
