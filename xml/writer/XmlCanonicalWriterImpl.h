// SPDX-License-Identifier: Apache-2.0
// XmlCanonicalWriterImpl.h - XmlCanonicalWriter's state, behind its one pointer.
#ifndef ZAQPREFIXMGR_XML_CANONICAL_WRITER_IMPL_H
#define ZAQPREFIXMGR_XML_CANONICAL_WRITER_IMPL_H

#include "MarkupEmitter.h"
#include "XmlSink.h"
#include "XmlTextOutput.h"
#include "XmlCanonicalWriter.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zaq {

/// The state and the work of an `XmlCanonicalWriter` (see XmlCanonicalWriter.h).
namespace detail {

class XmlCanonicalWriterImpl {
public:
    using Method = XmlCanonicalWriter::Method;
    using Options = XmlCanonicalWriter::Options;
    /// A writer to `sink` (not owned).
    XmlCanonicalWriterImpl(XmlSink& sink, const Options& options);
    XmlCanonicalWriterImpl(const XmlCanonicalWriterImpl&) = delete;
    XmlCanonicalWriterImpl& operator=(const XmlCanonicalWriterImpl&) = delete;
    ~XmlCanonicalWriterImpl();

    /// Starts an element; its declarations and attributes follow.
    void startElement(std::u16string_view prefix, std::u16string_view localName, std::u16string_view uri);
    /// A namespace declaration of the element just started, as written in
    /// the document (prefix empty: the default namespace).
    void namespaceDeclaration(std::u16string_view prefix, std::u16string_view uri);
    /// An attribute of the element just started.
    void attribute(std::u16string_view prefix, std::u16string_view localName, std::u16string_view uri,
                   std::u16string_view value);
    /// Character data, CDATA sections included.
    void text(std::u16string_view text);
    /// A comment (left out without `Options::comments`).
    void comment(std::u16string_view text);
    /// A processing instruction.
    void processingInstruction(std::u16string_view target, std::u16string_view data);
    /// Ends the innermost open element.
    void endElement();
    /// With `Options::subtrees`: the next element starts a subtree to write.
    /// Ignored inside a subtree being written.
    void beginSubtree();
    /// Whether a subtree is being written (always, without `subtrees`).
    bool writing() const { return !iOptions.subtrees || iWritingDepth > 0; }
    /// Hands what is buffered to the sink and flushes it.
    void flush();
    /// Scratch for the UTF-8 arguments of one call.
    std::u16string iArguments[4];

private:
    struct Binding {
        std::u16string prefix, uri;
        std::size_t depth; // of the element that declared or rendered it
    };
    struct Attribute {
        std::u16string prefix, localName, uri, value;
    };

    void closeStartTag();
    const std::u16string* inScope(std::u16string_view prefix) const;
    const std::u16string* rendered(std::u16string_view prefix) const;
    bool utilised(std::u16string_view prefix) const;
    void writeStartTag();
    void inheritXmlAttributes();
    void checkSink();

    XmlSink& iSink;
    Options iOptions;
    XmlTextOutput iOut;
    MarkupEmitter iMarkup{iOut};
    std::size_t iDepth = 0;
    std::size_t iWritingDepth = 0; // depth of the subtree's top element while one is written; 0: none
    bool iSubtreeNext = false;
    bool iRootSeen = false; // the document element has started (for the top-level line ends)
    bool iTagPending = false;
    // The pending start tag.
    std::u16string iPrefix, iLocalName, iUri;
    std::vector<Binding> iDeclared; // this tag's declarations
    std::vector<Attribute> iAttributes;
    std::size_t iAttributeCount = 0;
    // Per open element, what it declared (in scope) and what was rendered.
    std::vector<Binding> iScope;
    std::vector<Binding> iRendered;
    std::vector<Binding> iXmlAttributes; // prefix holds the local name: lang, space, base, id
    // Scratch for sorting, kept to spare allocations.
    std::vector<const Binding*> iRender;
    std::vector<const Attribute*> iSorted;
};
} // namespace detail

} // namespace zaq

#endif
