// SPDX-License-Identifier: Apache-2.0
// WriterScript.h - XmlWriter calls as data: run them, remember what they
// meant, and read the output back with Xerces-C to compare.
#ifndef ZAQ_TESTS_WRITER_SCRIPT_H
#define ZAQ_TESTS_WRITER_SCRIPT_H

#include "OrvWstring.h"
#include "XMLPrefixManager.h"
#include "XmlWriter.h"

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/XMLString.hpp>

#if ZAQ_HAVE_EXPAT
#include <expat.h>
#endif

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

/// One call: S start (uri, local, hint; "(default)" for zaq::UNPREFIXED), A
/// attribute (uri, local, value, hint), N declareNamespace (uri, prefix), P
/// setPreferredPrefix (uri, prefix), T text,
/// C cdata, M comment, I processing instruction (target, data), E end,
/// D startDocument (a: "1.1" for XML 1.1), Z endDocument.
struct WriterOp {
    char code = 0;
    std::u16string a{}, b{}, c{}, d{};
};

/// What a document means, as the script intends it and as a parser reads
/// it: "{uri}local" per element with " @{uri}local=value" per attribute,
/// and the character data in document order. `rebound` holds, as "k p",
/// the prefixes element k binds again while they are in force for another
/// URI: as intended, those the caller declared (and the default namespace
/// on an element in no namespace); as read, those the document rebinds.
struct Meaning {
    std::vector<std::u16string> elements;
    std::u16string text;
    std::vector<std::u16string> rebound;
    bool operator==(const Meaning& other) const { return elements == other.elements && text == other.text; }
};

/// `k` in decimal, for `Meaning::rebound`.
inline std::u16string indexText(std::size_t k) {
    const std::string digits = std::to_string(k);
    return std::u16string(digits.begin(), digits.end());
}

/// Runs `op` on `w` and adds what it means to `meaning` (after the call, so
/// that a refused call adds nothing).
inline void runOp(zaq::XmlWriter& w, const WriterOp& op, Meaning& meaning) {
    switch (op.code) {
    case 'D':
        w.startDocument(op.a == u"1.1" ? zaq::XmlWriter::Version::Xml11 : zaq::XmlWriter::Version::Xml10);
        break;
    case 'S':
        if (op.c == u"(default)")
            w.startElement(op.a, op.b, zaq::UNPREFIXED);
        else
            w.startElement(op.a, op.b, op.c);
        meaning.elements.push_back(u"{" + op.a + u"}" + op.b);
        if (op.a.empty())
            meaning.rebound.push_back(indexText(meaning.elements.size() - 1) + u" ");
        break;
    case 'A':
        w.attribute(op.a, op.b, op.c, op.d);
        meaning.elements.back() += u" @{" + op.a + u"}" + op.b + u"=" + op.c;
        break;
    case 'N':
        w.declareNamespace(op.a, op.b);
        meaning.rebound.push_back(indexText(meaning.elements.size() - 1) + u" " + op.b);
        break;
    case 'P':
        w.setPreferredPrefix(op.a, op.b);
        break;
    case 'T':
        w.text(op.a);
        if (w.depth() > 0)
            meaning.text += op.a;
        break;
    case 'C':
        w.cdata(op.a);
        meaning.text += op.a;
        break;
    case 'M':
        w.comment(op.a);
        break;
    case 'I':
        w.processingInstruction(op.a, op.b);
        break;
    case 'E':
        w.endElement();
        break;
    case 'Z':
        w.endDocument();
        break;
    }
}

/// Reads `xml` back with Xerces-C (namespaces on); false when it is not
/// namespace-well-formed.
inline bool readBack(const std::string& xml, Meaning& meaning) {
    struct Handler : xercesc::DefaultHandler {
        Meaning& iMeaning;
        // The bindings in force, innermost last, with the depth that made each.
        std::vector<std::pair<std::u16string, std::u16string>> iScope;
        std::vector<std::size_t> iScopeSizes;
        explicit Handler(Meaning& m) : iMeaning(m) {}
        const std::u16string* inForce(const std::u16string& prefix) const {
            for (auto binding = iScope.rbegin(); binding != iScope.rend(); ++binding)
                if (binding->first == prefix)
                    return &binding->second;
            return nullptr;
        }
        void endElement(const XMLCh*, const XMLCh*, const XMLCh*) override {
            iScope.resize(iScopeSizes.back());
            iScopeSizes.pop_back();
        }
        void startElement(const XMLCh* uri, const XMLCh* localName, const XMLCh*,
                          const xercesc::Attributes& attributes) override {
            std::u16string record = u"{" + std::u16string(uri) + u"}" + localName;
            iScopeSizes.push_back(iScope.size());
            for (XMLSize_t i = 0; i < attributes.getLength(); ++i) {
                const std::u16string qname = attributes.getQName(i);
                if (qname == u"xmlns" || qname.compare(0, 6, u"xmlns:") == 0) {
                    const std::u16string prefix = qname == u"xmlns" ? u"" : qname.substr(6);
                    const std::u16string* was = inForce(prefix);
                    if (was && !was->empty() && *was != attributes.getValue(i))
                        iMeaning.rebound.push_back(indexText(iMeaning.elements.size()) + u" " + prefix);
                    iScope.emplace_back(prefix, attributes.getValue(i));
                    continue;
                }
                record += u" @{" + std::u16string(attributes.getURI(i)) + u"}" + attributes.getLocalName(i) + u"=" +
                          attributes.getValue(i);
            }
            iMeaning.elements.push_back(record);
        }
        void characters(const XMLCh* chars, const XMLSize_t length) override { iMeaning.text.append(chars, length); }
        void fatalError(const xercesc::SAXParseException& e) override { throw e; }
    } handler(meaning);
    std::unique_ptr<xercesc::SAX2XMLReader> reader(xercesc::XMLReaderFactory::createXMLReader());
    reader->setFeature(xercesc::XMLUni::fgSAX2CoreNameSpaces, true);
    reader->setFeature(xercesc::XMLUni::fgSAX2CoreNameSpacePrefixes, true);
    reader->setContentHandler(&handler);
    reader->setErrorHandler(&handler);
    xercesc::MemBufInputSource input(reinterpret_cast<const XMLByte*>(xml.data()), xml.size(), "written");
    try {
        reader->parse(input);
    } catch (const xercesc::SAXParseException&) {
        return false;
    }
    return true;
}

#if ZAQ_HAVE_EXPAT
/// Reads `xml` back with expat (namespaces on, XML 1.0 only); false when it
/// is not namespace-well-formed.
inline bool readBackExpat(const std::string& xml, Meaning& meaning) {
    auto utf16 = [](const char* text, std::size_t length) {
        return std::u16string(OrvWstring::fromUtf8(text, length).view());
    };
    // Expat gives "uri\x01local", or "local" in no namespace.
    auto expanded = [&](const char* name) {
        const std::u16string n = utf16(name, std::strlen(name));
        const std::size_t cut = n.find(u'\x01');
        return cut == std::u16string::npos ? u"{}" + n : u"{" + n.substr(0, cut) + u"}" + n.substr(cut + 1);
    };
    struct State {
        Meaning& meaning;
        decltype(utf16)& toUtf16;
        decltype(expanded)& name;
    } state{meaning, utf16, expanded};
    std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(XML_ParserCreateNS("UTF-8", '\x01'),
                                                                        &XML_ParserFree);
    XML_SetUserData(parser.get(), &state);
    XML_SetElementHandler(
        parser.get(),
        [](void* data, const XML_Char* name, const XML_Char** attributes) {
            State& st = *static_cast<State*>(data);
            std::u16string record = st.name(name);
            for (std::size_t i = 0; attributes[i] != nullptr; i += 2)
                record += u" @" + st.name(attributes[i]) + u"=" +
                          st.toUtf16(attributes[i + 1], std::strlen(attributes[i + 1]));
            st.meaning.elements.push_back(record);
        },
        nullptr);
    XML_SetCharacterDataHandler(parser.get(), [](void* data, const XML_Char* text, int length) {
        State& st = *static_cast<State*>(data);
        st.meaning.text += st.toUtf16(text, static_cast<std::size_t>(length));
    });
    return XML_Parse(parser.get(), xml.data(), static_cast<int>(xml.size()), 1) == XML_STATUS_OK;
}
#endif

/// A call sequence drawn from `next` (a byte each call): names, prefixes,
/// URIs and texts from small sets that hold the hard cases, so that
/// refusals, shadowing and escaping all come up often.
inline std::vector<WriterOp> randomOps(const std::function<unsigned()>& next, std::size_t count) {
    static const std::u16string uris[] = {u"",
                                          u"urn:a",
                                          u"urn:b",
                                          XMLPrefixManager::XML_NAMESPACE_URI,
                                          u"http://x/?a&b='c'",
                                          XMLPrefixManager::XMLNS_NAMESPACE_URI};
    static const std::u16string names[] = {u"a", u"b", u"c", u"x", u"\u00e9t\u00e9", u"1bad", u"a:b", u"", u"space"};
    static const std::u16string prefixes[] = {u"", u"p", u"q", u"xml", u"xmlns", u"NS1", u"NS2", u"bad:"};
    static const std::u16string texts[] = {u"",   u" ",   u"t",        u"]]>",    u"a\r\nb\r",    u"<&>\"'",
                                           u"--", u"x-",  u"?>",       u"\x01",   u"\xD800",      u"\U0001F600\u0085",
                                           u"\t", u"\n ", u"preserve", u"]]]]>>", u"\u2028\uFFFE"};
    auto pick = [&](const auto& set) { return set[next() % (sizeof set / sizeof set[0])]; };
    std::vector<WriterOp> ops;
    for (std::size_t i = 0; i < count; ++i) {
        switch (next() % 16) {
        case 0:
            ops.push_back({'D', next() % 2 ? u"1.1" : u""});
            break;
        case 1:
        case 2:
        case 3:
            ops.push_back({'S', pick(uris), pick(names),
                           next() % 3   ? u""
                           : next() % 4 ? pick(prefixes)
                                        : std::u16string(u"(default)")});
            break;
        case 4:
        case 5:
            ops.push_back({'A', pick(uris), pick(names), pick(texts), next() % 4 ? u"" : pick(prefixes)});
            break;
        case 6:
            ops.push_back({'N', pick(uris), pick(prefixes)});
            break;
        case 7:
            ops.push_back({'P', pick(uris), pick(prefixes)});
            break;
        case 8:
        case 9:
            ops.push_back({'T', pick(texts)});
            break;
        case 10:
            ops.push_back({'C', pick(texts)});
            break;
        case 11:
            ops.push_back({'M', pick(texts)});
            break;
        case 12:
            ops.push_back({'I', pick(names), pick(texts)});
            break;
        default:
            ops.push_back({'E'});
            break;
        }
    }
    return ops;
}

/// Runs `ops`, each refused call checked to change neither the output nor
/// the depth, then ends the document and reads it back with Xerces-C and
/// (for XML 1.0) expat. Empty when all holds, else what went wrong.
inline std::string checkScript(const std::vector<WriterOp>& ops) {
    std::string out;
    zaq::XmlStringSink sink(out);
    zaq::XmlWriter w(sink);
    Meaning intended;
    bool xml11 = false;
    bool rooted = false;
    for (const WriterOp& op : ops) {
        w.flush();
        const std::size_t size = out.size(), depth = w.depth();
        try {
            runOp(w, op, intended);
            xml11 = xml11 || (op.code == 'D' && op.a == u"1.1");
            rooted = rooted || op.code == 'S';
        } catch (const zaq::XmlWriterError& e) {
            w.flush();
            if (out.size() != size || w.depth() != depth)
                return std::string("a refused call changed the document: ") + e.what();
        }
    }
    try {
        while (w.depth() > 0)
            w.endElement();
        if (!rooted) {
            runOp(w, {'S', u"", u"r"}, intended);
            w.endElement();
        }
        w.endDocument();
    } catch (const zaq::XmlWriterError& e) {
        return std::string("ending the document: ") + e.what();
    }
    Meaning read;
    if (!readBack(out, read))
        return "Xerces-C refuses the output:\n" + out;
    if (!(read == intended))
        return "Xerces-C reads another document:\n" + out;
    for (const std::u16string& rebinding : read.rebound)
        if (std::find(intended.rebound.begin(), intended.rebound.end(), rebinding) == intended.rebound.end())
            return "the writer bound again a prefix in force (element, prefix: " + OrvWstring(rebinding).toUtf8() +
                   "):\n" + out;
#if ZAQ_HAVE_EXPAT
    Meaning byExpat;
    if (!xml11 && !(readBackExpat(out, byExpat) && byExpat == intended))
        return "expat refuses or reads another document:\n" + out;
#else
    (void)xml11;
#endif
    return "";
}

#endif
