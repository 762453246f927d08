// SPDX-License-Identifier: Apache-2.0
// XmlCanonicalWriter.h - Canonical XML 1.0, 1.1 and Exclusive XML
// Canonicalization of an event stream, in constant memory.
#ifndef ZAQPREFIXMGR_XML_CANONICAL_WRITER_H
#define ZAQPREFIXMGR_XML_CANONICAL_WRITER_H

#include "XmlSink.h"
#include "XmlTextOutput.h"
#include "XmlWriter.h"
#include "ZaqPrefixMgrExport.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/// Writes the canonical form of a document given as the events a parser
/// reports: each element with its prefix, local name and namespace URI, its
/// namespace declarations as the document wrote them, and its attributes.
/// Unlike `XmlWriter`, which chooses prefixes, it keeps the document's own
/// and renders the declarations each method asks for:
///
/// - `C14N10`, `C14N11`: every namespace in scope is rendered on the first
///   element written, and below it each declaration that changes a binding;
///   superfluous ones (`xmlns=""` where no default is in force, a binding
///   repeated) go.
/// - `Exclusive`: a namespace is rendered where it is visibly used (by the
///   element's name or an attribute's) and no element written above
///   rendered the same binding, and so is each prefix of
///   `Options::inclusivePrefixes` ("#default": the default namespace).
///
/// Declarations are sorted by prefix, attributes by namespace URI then
/// local name; empty elements are written as start and end tags; text
/// escapes `& < >` and CR, attribute values `& < "`, tab, LF and CR; CDATA is
/// text; the XML declaration and the DTD are not written. Outside the
/// document element, white space goes and each comment and PI takes a line
/// end on the side away from the document element. The caller gives entity
/// replacement text expanded, default attributes added, line ends and
/// attribute values normalised, as a parser reports them.
///
/// **Subtrees.** With `Options::subtrees`, nothing is written until
/// `beginSubtree`, called just before the start of an element whose subtree
/// is to be written (a signature's reference, say); writing stops at that
/// element's end. The namespaces in scope there are rendered on it (by the
/// method's rules), and for C14N 1.0 the `xml:` attributes it inherits; for
/// 1.1, `xml:lang` and `xml:space`, and `xml:base` joined with its
/// ancestors' values.
///
/// **Memory.** Only the current start tag and, per open element, its
/// declarations and `xml:` attributes are kept.
///
/// **Failures.** A relative namespace URI (which the Canonical XML 1.0
/// Recommendation makes an error) and events out of order throw
/// `XmlWriterError`; the sink's failure throws `XmlWriterError::Kind::Output`.
/// **Ownership.** The sink is not owned and must outlive the writer.
/// **Threads.** One thread at a time.
class ZAQ_PREFIXMGR_EXPORT XmlCanonicalWriter {
public:
    /// The canonicalization method.
    enum class Method { C14N10, C14N11, Exclusive };
    /// The writer's settings.
    struct Options {
        Method method = Method::C14N10;                ///< the canonicalization method
        bool comments = true;                          ///< keep comments ("with comments")
        bool subtrees = false;                         ///< write only what `beginSubtree` starts
        std::vector<std::u16string> inclusivePrefixes; ///< Exclusive only; u"#default" is the default namespace
    };

    /// A writer to `sink` (not owned).
    XmlCanonicalWriter(XmlSink& sink, const Options& options);
    XmlCanonicalWriter(const XmlCanonicalWriter&) = delete;
    XmlCanonicalWriter& operator=(const XmlCanonicalWriter&) = delete;
    ~XmlCanonicalWriter();

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
    /// Keeps up to `bytes` before writing anything (`XmlTextOutput::holdUpTo`).
    void holdUpTo(std::size_t bytes) { iOut.holdUpTo(bytes); }
    /// After a failure: drops the output if none was written yet, else
    /// writes what is buffered (`XmlTextOutput::abandon`).
    bool abandon() { return iOut.abandon(); }
    /// Bytes written so far, buffered ones included.
    std::uint64_t written() const { return iOut.written(); }

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
    std::vector<std::size_t> iNameStarts;
    std::u16string iNames; // qualified names of the open elements written
    // Scratch for sorting, kept to spare allocations.
    std::vector<const Binding*> iRender;
    std::vector<const Attribute*> iSorted;
};

#endif
