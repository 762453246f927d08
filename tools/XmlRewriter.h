// XmlRewriter.h - SAX2 handler that writes a document back out with the
// namespace declarations a prefix manager decides.
#ifndef ZAQ_TOOLS_XML_REWRITER_H
#define ZAQ_TOOLS_XML_REWRITER_H

#include "OrvWstring.h"
#include "XMLPrefixManager.h"

#include <xercesc/sax2/DefaultHandler.hpp>

#include <cstdio>
#include <deque>
#include <string>
#include <utility>
#include <vector>

/// Buffered UTF-8 output to a stdio stream; reports write errors.
class Utf8Output {
public:
    explicit Utf8Output(std::FILE* file) : iFile(file) { iBuffer.reserve(FLUSH_AT + 4096); }
    std::string& buffer() { return iBuffer; }
    void maybeFlush() {
        if (iBuffer.size() >= FLUSH_AT)
            flush();
    }
    /// Writes what is buffered; false once any write has failed.
    bool flush();
    bool failed() const { return iFailed; }

private:
    static constexpr std::size_t FLUSH_AT = 1 << 16;
    std::FILE* iFile;
    std::string iBuffer;
    bool iFailed = false;
};

/// Streams a parsed document back out. At each start tag it opens a level,
/// registers (or binds, for a default namespace) what the input declared on
/// that element, asks the manager for the prefix of the element's and each
/// attribute's namespace, and declares exactly the prefixes the manager
/// newly bound; at each end tag it closes the level.
class XmlRewriter : public xercesc::DefaultHandler {
public:
    struct Options {
        bool generate = false; ///< ignore the input's prefixes
    };

    XmlRewriter(XMLPrefixManager& manager, Utf8Output& out, const Options& options);

    void startDocument() override;
    void endDocument() override;
    void startPrefixMapping(const XMLCh* prefix, const XMLCh* uri) override;
    void startElement(const XMLCh* uri, const XMLCh* localname, const XMLCh* qname,
                      const xercesc::Attributes& attrs) override;
    void endElement(const XMLCh* uri, const XMLCh* localname, const XMLCh* qname) override;
    void characters(const XMLCh* chars, XMLSize_t length) override;
    void ignorableWhitespace(const XMLCh* chars, XMLSize_t length) override;
    void processingInstruction(const XMLCh* target, const XMLCh* data) override;
    void comment(const XMLCh* chars, XMLSize_t length) override;
    void startCDATA() override;
    void endCDATA() override;
    void fatalError(const xercesc::SAXParseException& e) override;
    void error(const xercesc::SAXParseException& e) override;

private:
    struct Name {
        const OrvWstring* uri; // null: no namespace
        const XMLCh* local;
        bool element;
        OrvWstring prefix;
    };

    const OrvWstring& uriString(const XMLCh* uri);
    void resolve(Name& name);
    /// Whether this element declares the name's prefix for another URI.
    bool rebound(const Name& name) const;
    void closeStartTag();
    void writeName(const Name& name);

    XMLPrefixManager& iManager;
    Utf8Output& iOut;
    Options iOptions;
    const OrvWstring iXmlUri;                                        // input declarations of the reserved names are
    const OrvWstring iXmlnsUri;                                      // never turned into preferences
    std::vector<std::pair<OrvWstring, OrvWstring>> iPendingMappings; // prefix, URI
    std::deque<std::pair<const XMLCh*, OrvWstring>> iUris;           // parser's URI text -> string
    std::vector<Name> iNames;                                        // of the current start tag
    std::vector<std::pair<OrvWstring, OrvWstring>> iDeclarations;    // prefix, URI
    std::string iNameArena;                                          // written names of open elements
    std::vector<std::size_t> iNameStarts;
    std::vector<OrvWstring> iDefaults; // default namespace in force per open element
    bool iTagOpen = false;
    bool iInCdata = false;
    int iDepth = 0;
};

#endif
