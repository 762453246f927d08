// SPDX-License-Identifier: Apache-2.0
// XmlWriter.h - a streaming XML writer that repairs namespaces.
#ifndef ZAQPREFIXMGR_XML_WRITER_H
#define ZAQPREFIXMGR_XML_WRITER_H

#include "XMLPrefixManager.h"
#include "XmlIndenter.h"
#include "XmlSink.h"
#include "XmlTextOutput.h"
#include "ZaqPrefixMgrExport.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

/// What `XmlWriter` refused, and why (`what()` says it in words).
class ZAQ_PREFIXMGR_EXPORT XmlWriterError : public std::runtime_error {
public:
    /// The kinds of refusal.
    enum class Kind {
        Name,               ///< not a name without a colon, or a reserved prefix misused
        Character,          ///< a character the document's XML version cannot hold, or malformed UTF-8
        Comment,            ///< a comment containing "--" or ending with "-"
        Instruction,        ///< a PI target "xml" (any case) or data containing "?>"
        Namespace,          ///< a declaration the Namespaces Recommendation forbids
        Order,              ///< a call out of place: second root, attribute after content, end without start, ...
        DuplicateAttribute, ///< an attribute or declaration already on the start tag
        Output              ///< the sink failed; nothing more is written
    };
    /// An error of `kind`, described by `message`.
    XmlWriterError(Kind kind, const std::string& message) : std::runtime_error(message), iKind(kind) {}
    ~XmlWriterError() override;
    /// What was refused.
    Kind kind() const noexcept { return iKind; }

private:
    Kind iKind;
};

/// Writes a document as a stream of events, in UTF-8, with the namespace
/// prefixes and declarations an `XMLPrefixManager` decides. Elements and
/// attributes are named by namespace URI and local name; the writer asks
/// the manager for each name's prefix and declares every new binding on the
/// element where it is first needed:
///
/// ```
/// std::string xml;
/// XmlStringSink sink(xml);
/// XmlWriter w(sink);
/// w.addNamespace(u"urn:orders", u"o");         // preferred prefix
/// w.startDocument();
/// w.startElement(u"urn:orders", u"order");    // <o:order xmlns:o="urn:orders"
/// w.attribute(u"", u"id", u"42");             //  id="42">
/// w.startElement(u"urn:orders", u"item");     // <o:item>
/// w.text(u"5 < 6");                           // 5 &lt; 6
/// w.endElement();                             // </o:item>
/// w.endElement();                             // </o:order>
/// w.endDocument();                            // flushes the sink
/// ```
///
/// **Names.** An element or attribute with an empty URI is in no namespace
/// and is written unprefixed; where a default namespace is in force, the
/// element declares `xmlns=""`. A namespaced attribute always gets a
/// prefix, never the default namespace. An element's prefix hint is used
/// (and declared, unless a binding of it to the URI is in force) unless the
/// same start tag declares that prefix for another URI; without a hint the
/// manager answers: a binding in force, else the preferred prefix, else
/// "NS1", "NS2", ... `declareNamespace` writes a declaration of the caller's
/// own on the current start tag; the tag's names then use it.
///
/// **Well formed by construction.** Every call checks its arguments and its
/// place before it changes anything; on `XmlWriterError` the writer and the
/// output are as they were before the call, and the caller may go on. Names
/// are checked with Xerces-C's tables for the document's version, and so is
/// every character. Text escapes `&`, `<` and `>` (so `]]>` cannot occur) and
/// writes CR as `&#13;`; attribute values also escape `"`, tab, CR and LF.
/// A CDATA section containing `]]>` is split in two, and a CR in it is
/// written as a reference between sections. In XML 1.1, the restricted
/// characters, NEL and LINE SEPARATOR are written as references in text
/// and values. Line ends in comments and PI data are read back as LF, and
/// white space at the start of PI data is dropped by parsers.
///
/// **Indentation.** With `Options::indent`, element-only content is
/// indented two spaces a level, as `xmllint --format` does; content with
/// text, and elements under `xml:space="preserve"`, are written as given.
///
/// **Memory.** Strings are copied only into buffers the writer keeps and
/// reuses: once the document's URIs and nesting depth have been seen, an
/// element with its attributes allocates nothing.
///
/// **Ownership.** The sink is not owned and must outlive the writer.
/// **Threads.** One thread at a time per writer.
/// **Failures.** XmlWriterError as above; std::bad_alloc leaves the writer
/// destructible, but the document should be abandoned. A failed sink makes
/// that call and every later one throw `Kind::Output`. The destructor
/// writes what is buffered and ignores failures: call `flush` or
/// `endDocument` to learn of them.
class ZAQ_PREFIXMGR_EXPORT XmlWriter {
public:
    /// The XML version written in the declaration and checked for.
    enum class Version { Xml10, Xml11 };
    /// The declaration's standalone pseudo-attribute: left out, "yes" or "no".
    enum class Standalone { Omit, Yes, No };
    /// The writer's settings.
    struct Options {
        /// Whether a URI that is the default namespace in force is written
        /// unprefixed even where a newer prefixed binding exists.
        XMLPrefixManager::DefaultNamespace defaultNamespace = XMLPrefixManager::DefaultNamespace::FromEnvironment;
        /// Indent element-only content, two spaces a level.
        bool indent = false;
    };

    /// A writer to `sink` (not owned) with the default options.
    explicit XmlWriter(XmlSink& sink);
    /// A writer to `sink` (not owned) with `options`.
    XmlWriter(XmlSink& sink, const Options& options);
    XmlWriter(const XmlWriter&) = delete;
    XmlWriter& operator=(const XmlWriter&) = delete;
    ~XmlWriter();

    /// Writes the XML declaration (with `encoding="UTF-8"`) and sets the
    /// version the names and characters are checked for. Optional: without
    /// it there is no declaration and the version is 1.0. Only as the first
    /// call.
    void startDocument(Version version = Version::Xml10, Standalone standalone = Standalone::Omit);
    /// Checks that the document element was written and closed, then flushes
    /// the output and the sink. No call but `flush` may follow.
    void endDocument();

    /// Starts an element; its start tag stays open for `attribute` and
    /// `declareNamespace` until the next content or end.
    void startElement(std::u16string_view uri, std::u16string_view localName, std::u16string_view prefixHint = {});
    /// An attribute of the open start tag. The empty URI: no namespace.
    void attribute(std::u16string_view uri, std::u16string_view localName, std::u16string_view value);
    /// Declares `prefix` (empty: the default namespace) for `uri` on the
    /// open start tag. `xmlns=""` is declaring the empty prefix for the empty URI.
    void declareNamespace(std::u16string_view prefix, std::u16string_view uri);
    /// Makes `prefix` the preferred prefix of `uri` for its later new
    /// bindings (empty: none, generated ones are used). Writes nothing.
    void addNamespace(std::u16string_view uri, std::u16string_view prefix);
    /// Character data, escaped; outside the document element only white space.
    void text(std::u16string_view text);
    /// A CDATA section, split where the text holds `]]>` (inside the document element).
    void cdata(std::u16string_view text);
    /// A comment; `--` and a final `-` are refused.
    void comment(std::u16string_view text);
    /// A processing instruction; the target `xml` (any case) and data with `?>` are refused.
    void processingInstruction(std::u16string_view target, std::u16string_view data = {});
    /// Ends the innermost open element; one without content is written as
    /// an empty-element tag.
    void endElement();
    /// Hands what is buffered to the sink and flushes the sink.
    void flush();

    // The same events with UTF-8 strings; malformed UTF-8 is refused
    // (`Kind::Character`).
    /// `startElement` with UTF-8 strings.
    void startElement(std::string_view uri, std::string_view localName, std::string_view prefixHint = {});
    /// `attribute` with UTF-8 strings.
    void attribute(std::string_view uri, std::string_view localName, std::string_view value);
    /// `declareNamespace` with UTF-8 strings.
    void declareNamespace(std::string_view prefix, std::string_view uri);
    /// `addNamespace` with UTF-8 strings.
    void addNamespace(std::string_view uri, std::string_view prefix);
    /// `text` with UTF-8 strings.
    void text(std::string_view text);
    /// `cdata` with UTF-8 strings.
    void cdata(std::string_view text);
    /// `comment` with UTF-8 strings.
    void comment(std::string_view text);
    /// `processingInstruction` with UTF-8 strings.
    void processingInstruction(std::string_view target, std::string_view data = {});

    /// Open elements, the one whose start tag is open included.
    std::size_t depth() const { return iOpen.size() + (iTagPending ? 1 : 0); }
    /// The manager that decides the prefixes (the bindings in force).
    const XMLPrefixManager& prefixManager() const { return iPrefixes; }

private:
    static constexpr std::uint64_t NO_EPOCH = ~std::uint64_t(0);
    // Remembered names: in sets of WAYS slots, a set chosen by a hash of the
    // name; FEW_NAMES slots at first, four times more while names keep
    // coming, up to MOST_NAMES.
    static constexpr unsigned FEW_NAMES = 16;
    static constexpr unsigned MOST_NAMES = 1024;
    static constexpr unsigned WAYS = 4;
    static constexpr unsigned NO_SET = ~0u;
    struct Span {
        std::size_t from;
        std::size_t length;
    };
    /// A slot of iKnown and the stamp it had when it was given this name;
    /// with stamp 0 (not found), `slot` is the first of the name's set, or
    /// NO_SET when names are not being remembered.
    struct NameRef {
        unsigned slot = 0;
        std::uint64_t stamp = 0;
    };
    /// A name met before: it passed the checks, and while the bindings in
    /// force are those of `epoch`, its qualified name is `qname`.
    struct KnownName {
        std::u16string uri, localName;
        bool attribute = false;
        std::uint64_t stamp = 0; // 0: an empty slot
        std::uint64_t epoch = NO_EPOCH;
        std::string qname;     // UTF-8
        unsigned next = 0;     // the slot found after this one, last time
        std::uint64_t tag = 0; // the last start tag that used it (iTagCount); while pending, not given to another name
    };
    /// uri and localName are copied to iTag only when `name` holds no slot.
    struct PendingAttribute {
        Span uri, localName, value;
        NameRef name;
    };
    struct PendingDeclaration {
        Span prefix, uri;
    };
    struct OpenElement {
        std::size_t nameFrom; // in iOpenNames, "prefix:local" in UTF-8
        bool binds;           // its start tag made bindings, which its end withdraws
    };
    /// A prefix the manager answered from a binding in force, good while
    /// no binding has been made or withdrawn since (`iEpoch`).
    struct Answer {
        std::u16string uri;
        bool allowDefault = false;
        OrvWstring prefix;
        std::uint64_t epoch = NO_EPOCH;
    };

    std::u16string_view view(Span span) const { return std::u16string_view(iTag).substr(span.from, span.length); }
    Span keep(std::u16string_view text);
    void checkOpen(const char* what) const {
        if (iOut.failed() || iEnded)
            failClosed(what);
    }
    [[noreturn]] void failClosed(const char* what) const;
    void checkName(std::u16string_view name, const char* what) const;
    void checkCharacters(std::u16string_view text, bool referencesAllowed, const char* what) const;
    [[noreturn]] void fail(XmlWriterError::Kind kind, const std::string& message) const;
    bool declaredOnTag(std::u16string_view prefix, std::u16string_view* uri) const;
    void beforeContent(bool child);
    /// The manager's prefix for `uri`, as getNamespacePrefix answers it;
    /// false when it is a new binding.
    bool lookup(std::u16string_view uri, OrvWstring& prefix, bool allowDefault);
    void bind(std::u16string_view uri, const OrvWstring& prefix);
    // Names come round in the same order tag after tag: the slot found after
    // the previous name is tried first, here, inline.
    NameRef findName(bool attribute, std::u16string_view uri, std::u16string_view localName) {
        if (iKnownSlots != 0 && iNamesLeftAlone == 0) {
            const unsigned slot = iKnown[iLastKnown].next;
            if (holdsName(iKnown[slot], attribute, uri, localName)) {
                if (iNameMisses > 0)
                    --iNameMisses;
                iLastKnown = slot;
                return NameRef{slot, iKnown[slot].stamp};
            }
        }
        return findNameInSet(attribute, uri, localName);
    }
    NameRef findNameInSet(bool attribute, std::u16string_view uri, std::u16string_view localName);
    static bool holdsName(const KnownName& known, bool attribute, std::u16string_view uri,
                          std::u16string_view localName) {
        return known.stamp != 0 && known.attribute == attribute && sameText(known.localName, localName) &&
               sameText(known.uri, uri);
    }
    // Names and URIs are short: compared four code units at a time, inline.
    static bool sameText(const std::u16string& a, std::u16string_view b) {
        if (a.size() != b.size())
            return false;
        const char16_t *x = a.data(), *y = b.data();
        std::size_t left = b.size();
        for (; left >= 4; left -= 4, x += 4, y += 4) {
            std::uint64_t u, v;
            std::memcpy(&u, x, 8);
            std::memcpy(&v, y, 8);
            if (u != v)
                return false;
        }
        for (; left > 0; --left)
            if (*x++ != *y++)
                return false;
        return true;
    }
    NameRef rememberName(NameRef set, bool attribute, std::u16string_view uri, std::u16string_view localName);
    NameRef useName(NameRef ref);
    void growNames();
    KnownName* known(NameRef ref);
    std::u16string_view tagUri() const {
        return iTagName.stamp != 0 ? std::u16string_view(iKnown[iTagName.slot].uri) : view(iTagUri);
    }
    std::u16string_view tagLocalName() const {
        return iTagName.stamp != 0 ? std::u16string_view(iKnown[iTagName.slot].localName) : view(iTagLocalName);
    }
    std::u16string_view uriOf(const PendingAttribute& attribute) const {
        return attribute.name.stamp != 0 ? std::u16string_view(iKnown[attribute.name.slot].uri) : view(attribute.uri);
    }
    std::u16string_view localNameOf(const PendingAttribute& attribute) const {
        return attribute.name.stamp != 0 ? std::u16string_view(iKnown[attribute.name.slot].localName)
                                         : view(attribute.localName);
    }
    bool writeKnownStartTag(bool empty);
    void learn(NameRef ref, std::size_t from);
    const XMLCh* spaceOfTag() const;
    void finishStartTag(bool empty, std::string_view qname);
    void resolveNames(bool pin);
    bool namesHold();
    void writeStartTag(bool empty);
    void writeDeclaration(std::u16string_view prefix, std::u16string_view uri);
    void writeName(std::u16string_view prefix, std::u16string_view localName);
    /// Flushes a full buffer, throwing on the sink's failure.
    void afterWrite();
    const std::u16string& utf16(std::string_view text, std::u16string& scratch) const;

    XmlSink& iSink;
    XMLPrefixManager iPrefixes;
    XmlTextOutput iOut;
    XmlIndenter iIndent;
    bool iIndenting;
    bool iXml11 = false;
    bool iStarted = false;  // any call that writes has been made
    bool iRootDone = false; // the document element has been started
    bool iEnded = false;
    bool iTagPending = false;
    bool iTopNewLine = false; // indenting: the next item outside the document element goes on a new line
    std::u16string iTag;      // the open start tag's strings
    Span iTagUri{}, iTagLocalName{}, iTagHint{};
    NameRef iTagName;
    std::vector<PendingAttribute> iAttributes;
    std::vector<PendingDeclaration> iDeclarations;
    std::vector<OrvWstring> iAttributePrefixes;
    std::vector<char> iAttributeNew; // whose prefix is a new binding, declared on the tag
    bool iElementNew = false;        // the element's prefix is a new binding
    bool iUndeclareDefault = false;  // the tag writes xmlns=""
    std::string iOpenNames;          // qualified names of the open elements, one after another
    std::string iQName;              // the start tag's qualified name in UTF-8
    std::vector<OpenElement> iOpen;
    OrvWstring iPrefix, iScratchUri;
    std::uint64_t iEpoch = 0; // counts the changes to the bindings in force
    bool iTagBinds = false;   // the start tag being resolved made bindings
    Answer iAnswers[4];       // the last answers, for the names that come again and again
    unsigned iNextAnswer = 0;
    std::unique_ptr<KnownName[]> iKnown; // the names of recent start tags, iKnownSlots of them
    unsigned iKnownSlots = 0;
    unsigned iRemembered = 0;    // names given a slot since the table was made
    unsigned iLastKnown = 0;     // the slot findName found last
    std::uint64_t iTagCount = 0; // start tags begun
    std::uint64_t iKnownStamp = 0;
    unsigned iNameMisses = 0;     // grows by 2 a miss, shrinks by 1 a hit
    unsigned iNamesLeftAlone = 0; // names to pass by without a look, after many misses
    mutable std::u16string iUtf16[3];
};

#endif
