// SPDX-License-Identifier: Apache-2.0
// XmlWriter.h - a streaming XML writer that repairs namespaces.
#ifndef ZAQPREFIXMGR_XML_WRITER_H
#define ZAQPREFIXMGR_XML_WRITER_H

#include "XmlSink.h"
#include "XmlString.h"
#include "XmlWriterError.h"
#include "ZaqPrefixMgrExport.h"

#include <cstddef>
#include <memory>
#include <string>

namespace zaq {

namespace detail {
class XmlWriterImpl;
}

/// Writes a document as a stream of events, in UTF-8, choosing the
/// namespace prefixes and declaring each binding on the element where it is
/// first needed. Elements and attributes are named by namespace URI first,
/// then local name; every string argument is UTF-8 or UTF-16 (`XmlString`):
///
/// ```
/// std::string xml;
/// zaq::XmlStringSink sink(xml);
/// zaq::XmlWriter w(sink);
/// w.setPreferredPrefix("urn:orders", "o");
/// w.startElement("urn:orders", "order");   // <o:order xmlns:o="urn:orders"
/// w.attribute("", "id", "42");             //  id="42">
/// w.startElement("urn:orders", "item");    // <o:item>
/// w.text("5 < 6");                         // 5 &lt; 6
/// w.endDocument();                         // </o:item></o:order>, flushed
/// ```
///
/// **Prefixes.** A name in no namespace (the empty URI) is written
/// unprefixed; where a default namespace is in force, the element declares
/// `xmlns=""`. Otherwise the writer uses, in this order:
/// 1. the call's prefix hint, when it can: `UNPREFIXED` asks an element for
///    the default namespace;
/// 2. a binding in force for the URI: for an element, the default namespace
///    first when it is the URI's (see `Options::defaultNamespace`), else
///    the newest prefixed binding; an attribute is always prefixed;
/// 3. a new binding: the URI's preferred prefix (`setPreferredPrefix`),
///    else the prefix the writer generated for that URI earlier in the
///    document, else a new one ("NS1", "NS2", ...), declared on the tag.
///
/// **The writer never changes what a prefix in force means.** A prefix it
/// picks by itself (a hint, a preferred or a generated prefix, and the
/// default namespace for `UNPREFIXED`) is never one in force for another
/// URI, on this tag or above: such a candidate is passed over for the next.
/// A hint that cannot be used for any reason (it is in force for another
/// URI, it is `xml` or `xmlns` for another namespace, the name is in no
/// namespace, `UNPREFIXED` for an attribute) is ignored in the same way;
/// a hint that is not a name is refused. Only `declareNamespace` may bind
/// again, on its tag, a prefix in force: that is how to write QNames in
/// attribute values and text (`type="xs:string"`) safely; `prefixInForce`
/// answers which prefix to write in them.
///
/// **Well formed by construction.** Every call checks its arguments and its
/// place before it changes anything; on a refusal (`XmlWriterError` of any
/// kind but `Output`) the writer and the output are as they were before the
/// call, and the caller may go on. Names are checked by the rules of XML
/// 1.0's fifth edition, which are XML 1.1's, for every character, within the
/// BMP and beyond it. (libxml2 reads all such names; Xerces-C 3.2 reads XML
/// 1.0 names beyond the BMP as errors, and expat keeps the fourth edition's
/// narrower rules: a program for those readers keeps to their names.)
/// Namespace names may not hold a character no IRI may hold (space, `<`,
/// `>`, `"`, `{`, `}`, `|`, `\`, `^`, `` ` ``). Text escapes `&`, `<` and `>`
/// (so `]]>` cannot occur) and writes CR as `&#13;`; attribute values also
/// escape `"`, tab, CR and LF. Outside the document element only space, tab
/// and LF may be written. A CDATA section containing `]]>` is split in two,
/// and a CR in it is written as a reference between sections. In XML 1.1,
/// the restricted characters, NEL and LINE SEPARATOR are written as
/// references in text and values. Comments and PI data cannot hold
/// references: a parser reads a CR in them (in XML 1.1 also NEL and LINE
/// SEPARATOR) back as LF, and drops white space at the start of PI data.
///
/// **Indentation.** With `Options::indent`, element-only content is
/// indented two spaces a level, as `xmllint --format` does; content with
/// text, and elements under `xml:space="preserve"`, are written as given.
///
/// **Memory.** Strings are copied only into buffers the writer keeps and
/// reuses: once the document's URIs and nesting depth have been seen, an
/// element with its attributes allocates nothing, and a URI takes one
/// generated prefix for the whole document. Text, CDATA, comments and PI
/// data of any length go through the 64 KiB output buffer in pieces. An open
/// element costs about 60 bytes on x86-64 (its qualified name, the writer's
/// and the prefix manager's records of its level), more while it declares
/// bindings.
///
/// **Failures.** A refusal changes nothing (above). Any other exception that
/// escapes a call (`std::bad_alloc`, a sink's own exception) and a sink's
/// failed write leave the writer *failed*: that call and every later one
/// throw (`Kind::Output` for the later ones) and nothing more reaches the
/// sink, not even what was buffered. What the sink received ends with the
/// last write before the failure: after an allocation failure, at a complete
/// event; after the sink's own failure, perhaps inside the failing call's
/// event (long text goes out in pieces as it is written). `failed()` tells.
///
/// **Ending.** `endDocument` closes the elements still open and flushes.
/// The destructor only hands what is buffered to the sink (unless the
/// writer has failed) and reports nothing: a document left unfinished is
/// written unfinished, so call `endDocument` (or `flush`) to learn of
/// failures and to complete it.
///
/// **Ownership.** The sink is not owned and must outlive the writer.
/// Writers move; a moved-from writer may only be destroyed or assigned to.
/// **Threads.** One thread at a time per writer.
class ZAQ_PREFIXMGR_EXPORT XmlWriter {
public:
    /// The XML version written in the declaration and checked for.
    enum class Version { Xml10, Xml11 };
    /// The declaration's standalone pseudo-attribute: left out, "yes" or "no".
    enum class Standalone { Omit, Yes, No };
    /// Which binding in force names an element whose URI has both the
    /// default namespace and a prefix.
    enum class DefaultNamespace {
        Unprefixed, ///< the default namespace: written unprefixed
        Prefixed,   ///< the newest binding, even one made for an attribute
        /// as the prefix manager's environment variable
        /// `VOSK_USE_EMPTY_PREFIX_FOR_DEFAULT_NS` says when the writer is
        /// made: defined, `Unprefixed`; else `Prefixed`
        FromEnvironment
    };
    /// The writer's settings.
    struct Options {
        /// The default is fixed: the same program writes the same bytes
        /// whatever the environment.
        DefaultNamespace defaultNamespace = DefaultNamespace::Unprefixed;
        /// Indent element-only content, two spaces a level.
        bool indent = false;
    };

    /// A writer to `sink` (not owned) with the default options.
    explicit XmlWriter(XmlSink& sink);
    /// A writer to `sink` (not owned) with `options`.
    XmlWriter(XmlSink& sink, const Options& options);
    /// Takes over `other`'s document; `other` is left moved-from.
    XmlWriter(XmlWriter&& other) noexcept;
    /// Destroys this writer (as the destructor does) and takes over `other`'s document.
    XmlWriter& operator=(XmlWriter&& other) noexcept;
    XmlWriter(const XmlWriter&) = delete;
    XmlWriter& operator=(const XmlWriter&) = delete;
    /// Hands what is buffered to the sink unless the writer has failed;
    /// ignores the sink's failures. Closes nothing (see Ending above).
    ~XmlWriter();

    /// Writes the XML declaration (with `encoding="UTF-8"`) and sets the
    /// version the names and characters are checked for. Optional: without
    /// it there is no declaration and the version is 1.0. Only as the first
    /// call.
    void startDocument(Version version = Version::Xml10, Standalone standalone = Standalone::Omit);
    /// Closes the elements still open, then flushes the output and the
    /// sink. Refused before any document element. No call but `flush` may follow.
    void endDocument();

    /// Starts an element in `uri` (empty: no namespace); its start tag stays
    /// open for `attribute` and `declareNamespace` until the next content or
    /// end. `prefixHint`: a prefix to use if it can (empty: none), or
    /// `UNPREFIXED` for the default namespace.
    void startElement(XmlString uri, XmlString localName, XmlString prefixHint = {});
    /// An attribute of the open start tag, in `uri` (empty: no namespace),
    /// with a prefix to use if it can (empty: none).
    void attribute(XmlString uri, XmlString localName, XmlString value, XmlString prefixHint = {});
    /// Declares `prefix` (empty: the default namespace) for `uri` on the
    /// open start tag, even where it binds again a prefix in force; the
    /// tag's names in `uri` take it, unless the default namespace in force
    /// serves `uri` and `Options::defaultNamespace` is `Unprefixed`.
    /// `declareNamespace("", "")` writes `xmlns=""`; in XML 1.1,
    /// `declareNamespace("", "p")` undeclares `p`.
    void declareNamespace(XmlString uri, XmlString prefix);
    /// Makes `prefix` the preferred prefix of `uri` for its later new
    /// bindings (empty: none, generated ones are used). Writes nothing.
    void setPreferredPrefix(XmlString uri, XmlString prefix);
    /// Character data, escaped; outside the document element only space,
    /// tab and LF.
    void text(XmlString text);
    /// A CDATA section, split where the text holds `]]>` (inside the document element).
    void cdata(XmlString text);
    /// A comment; `--` and a final `-` are refused.
    void comment(XmlString text);
    /// A processing instruction; the target `xml` (any case) and data with `?>` are refused.
    void processingInstruction(XmlString target, XmlString data = {});
    /// Ends the innermost open element; one without content is written as
    /// an empty-element tag.
    void endElement();
    /// Hands what is buffered to the sink and flushes the sink.
    void flush();

    /// Open elements, the one whose start tag is open included.
    std::size_t depth() const;
    /// Whether the writer has failed (see Failures above).
    bool failed() const;
    /// Puts in `prefix` (UTF-8) the prefix in force for `uri` that a QName
    /// in an attribute value or text written now should use, and answers
    /// true; the empty prefix is the default namespace, answered only with
    /// `allowDefault` (and never on an open start tag in no namespace, which
    /// undeclares it). False, leaving `prefix` alone, when no binding of
    /// `uri` is in force. Counts the bindings of the ancestors and the open
    /// start tag's own declarations (the prefixes the writer picks for the
    /// tag's names are decided when the tag is written). Binds nothing;
    /// costs a pass over the open tag's declarations.
    bool prefixInForce(XmlString uri, std::string& prefix, bool allowDefault = true) const;

private:
    detail::XmlWriterImpl& impl(const char* call) const;
    std::unique_ptr<detail::XmlWriterImpl> d;
};

} // namespace zaq

#endif
