// SPDX-License-Identifier: Apache-2.0
// XmlCanonicalWriter.h - Canonical XML 1.0, 1.1 and Exclusive XML
// Canonicalization of an event stream, in constant memory.
#ifndef ZAQPREFIXMGR_XML_CANONICAL_WRITER_H
#define ZAQPREFIXMGR_XML_CANONICAL_WRITER_H

#include "XmlSink.h"
#include "XmlString.h"
#include "XmlWriterError.h"
#include "ZaqPrefixMgrExport.h"

#include <memory>
#include <string>
#include <vector>

namespace zaq {

namespace detail {
class XmlCanonicalWriterImpl;
}

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
/// Every string argument is UTF-8 or UTF-16 (`XmlString`); names come URI
/// first, as in `XmlWriter`.
///
/// **Failures.** A prefix or local name that is not a name without a colon
/// (a URI given where a prefix goes, say) throws `XmlWriterError::Kind::Name`;
/// text and values are written as given, as a parser reports them. A relative namespace URI (which the Canonical
/// XML 1.0 Recommendation makes an error) and events out of order throw `XmlWriterError`; the sink's failure throws
/// `XmlWriterError::Kind::Output`.
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
    /// Takes over `other`'s document; `other` is left moved-from (only to be destroyed or assigned to).
    XmlCanonicalWriter(XmlCanonicalWriter&& other) noexcept;
    /// Destroys this writer (as the destructor does) and takes over `other`'s document.
    XmlCanonicalWriter& operator=(XmlCanonicalWriter&& other) noexcept;
    XmlCanonicalWriter(const XmlCanonicalWriter&) = delete;
    XmlCanonicalWriter& operator=(const XmlCanonicalWriter&) = delete;
    /// Hands what is buffered to the sink, ignoring its failures.
    ~XmlCanonicalWriter();

    /// Starts an element; its declarations and attributes follow.
    void startElement(XmlString uri, XmlString localName, XmlString prefix);
    /// A namespace declaration of the element just started, as written in
    /// the document (prefix empty: the default namespace).
    void namespaceDeclaration(XmlString uri, XmlString prefix);
    /// An attribute of the element just started.
    void attribute(XmlString uri, XmlString localName, XmlString value, XmlString prefix);
    /// Character data, CDATA sections included.
    void text(XmlString text);
    /// A comment (left out without `Options::comments`).
    void comment(XmlString text);
    /// A processing instruction.
    void processingInstruction(XmlString target, XmlString data);
    /// Ends the innermost open element.
    void endElement();
    /// With `Options::subtrees`: the next element starts a subtree to write.
    /// Ignored inside a subtree being written.
    void beginSubtree();
    /// Whether a subtree is being written (always, without `subtrees`).
    bool writing() const;
    /// Hands what is buffered to the sink and flushes it.
    void flush();

private:
    detail::XmlCanonicalWriterImpl& impl(const char* call) const;
    std::unique_ptr<detail::XmlCanonicalWriterImpl> d;
};

} // namespace zaq

#endif
