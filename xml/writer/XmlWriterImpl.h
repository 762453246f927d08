// SPDX-License-Identifier: Apache-2.0
// XmlWriterImpl.h - XmlWriter's state, behind its one pointer.
#ifndef ZAQPREFIXMGR_XML_WRITER_IMPL_H
#define ZAQPREFIXMGR_XML_WRITER_IMPL_H

#include "MarkupEmitter.h"
#include "XMLPrefixManager.h"
#include "XmlIndenter.h"
#include "XmlSink.h"
#include "XmlTextOutput.h"
#include "XmlWriter.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zaq {

/// The state and the work of an `XmlWriter` (see XmlWriter.h for what each
/// call does). The events take UTF-16; `XmlWriter` converts UTF-8 arguments.
namespace detail {

class XmlWriterImpl {
public:
    using Version = XmlWriter::Version;
    using Standalone = XmlWriter::Standalone;
    using Options = XmlWriter::Options;
    using Kind = XmlWriterError::Kind;

    XmlWriterImpl(XmlSink& sink, const Options& options);
    XmlWriterImpl(const XmlWriterImpl&) = delete;
    XmlWriterImpl& operator=(const XmlWriterImpl&) = delete;
    ~XmlWriterImpl();

    void startDocument(Version version, Standalone standalone);
    void endDocument();
    void startElement(std::u16string_view uri, std::u16string_view localName, std::u16string_view prefixHint,
                      bool unprefixed);
    void attribute(std::u16string_view uri, std::u16string_view localName, std::u16string_view value,
                   std::u16string_view prefixHint);
    void declareNamespace(std::u16string_view uri, std::u16string_view prefix);
    void setPreferredPrefix(std::u16string_view uri, std::u16string_view prefix);
    void text(XmlString text);
    void cdata(XmlString text);
    void comment(XmlString text);
    void processingInstruction(std::u16string_view target, XmlString data);
    void endElement();
    void flush();
    /// Flushes what is buffered, ignoring failures (the destructor's part).
    void flushQuietly() noexcept;

    std::size_t depth() const { return iOpen.size() + (iTagPending ? 1 : 0); }
    bool prefixInForce(std::u16string_view uri, std::string& prefix, bool allowDefault) const;
    /// The same for a URI in either form, converted without allocating once
    /// URIs of its length have been seen.
    bool prefixInForce(XmlString uri, std::string& prefix, bool allowDefault) const;
    /// The text in UTF-16: a view of it, or of its conversion in scratch
    /// `slot` (0 to 3); malformed UTF-8 is refused.
    std::u16string_view utf16(XmlString text, unsigned slot) {
        return text.isUtf16() ? text.utf16() : converted(text, slot);
    }

    /// Whether the writer has failed: after that every call throws.
    bool failed() const { return iFailed || iOut.failed(); }
    /// An exception other than a refusal left the call: nothing more is written.
    void markFailed() noexcept { iFailed = true; }
    /// Whether the XmlWriterError in flight is a refusal (which changed
    /// nothing); clears the mark.
    bool takeRefusal() noexcept {
        const bool refusal = iRefusing;
        iRefusing = false;
        return refusal;
    }
    /// Refuses the call: throws XmlWriterError, marked as a refusal.
    [[noreturn]] void refuse(Kind kind, const std::string& message) const;

private:
    static constexpr std::uint64_t NO_EPOCH = ~std::uint64_t(0);
    // Remembered names: in sets of WAYS slots, a set chosen by a hash of the
    // name; FEW_NAMES slots at first, four times more while names keep
    // coming, up to MOST_NAMES.
    static constexpr unsigned FEW_NAMES = 16;
    static constexpr unsigned MOST_NAMES = 1024;
    static constexpr unsigned WAYS = 4;
    static constexpr unsigned NO_SET = ~0u;
    // Long text goes through the buffer in pieces of this many code units.
    static constexpr std::size_t PIECE = 16384;
    // Scratch buffers larger than this are given back after the call that grew them.
    static constexpr std::size_t MOST_KEPT = std::size_t(1) << 20;
    // Up to this many attributes or declarations, a tag is searched in order.
    static constexpr std::size_t SCAN = 16;
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
        Span uri, localName, value, hint;
        NameRef name;
        std::uint32_t hash; // of its URI and local name, for the duplicate check
    };
    struct PendingDeclaration {
        Span prefix, uri;
    };
    /// What the writer knows of a URI that needed a new binding: the
    /// caller's preferred prefix and the prefix generated for it, if any.
    struct UriPrefixes {
        OrvWstring preferred;
        OrvWstring generated;
    };
    struct OpenElement {
        bool binds; // its start tag made bindings, which its end withdraws
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
        if (iFailed || iOut.failed() || iEnded)
            failClosed(what);
    }
    void checkNamespaceName(std::u16string_view uri) const;
    /// Whether an attribute of `uri` and `localName` is already on the tag.
    bool onTag(std::u16string_view uri, std::u16string_view localName, std::uint32_t hash) const {
        if (!iAttributeIndex.empty())
            return onTagIndexed(uri, localName, hash);
        for (const PendingAttribute& attribute : iAttributes)
            if (localNameOf(attribute) == localName && uriOf(attribute) == uri)
                return true;
        return false;
    }
    bool onTagIndexed(std::u16string_view uri, std::u16string_view localName, std::uint32_t hash) const;
    void indexAttribute(std::size_t index);
    void indexDeclaration(std::size_t index);
    static std::uint32_t hashName(std::u16string_view uri, std::u16string_view localName);
    /// Writes `text` in pieces of at most PIECE code units, never splitting
    /// a surrogate pair or a UTF-8 sequence (nor, with `keepBrackets`, the
    /// "]]" of a "]]>"): `write` takes each piece in UTF-16.
    template <class Write> void inPieces(XmlString text, bool keepBrackets, Write&& write);
    void checkText(XmlString text, bool referencesAllowed, const char* what);
    void releaseScratch();
    [[noreturn]] void failClosed(const char* what) const;
    void checkName(std::u16string_view name, const char* what) const;
    void checkCharacters(std::u16string_view text, bool referencesAllowed, const char* what) const;
    /// Refuses `text` for its character at `at` (`offset` more into the call's text).
    [[noreturn]] void refuseCharacter(std::u16string_view text, std::size_t at, std::size_t offset,
                                      const char* what) const;
    bool declaredOnTag(std::u16string_view prefix, std::u16string_view* uri) const;
    void beforeContent(bool child);
    /// The prefix a binding in force answers for `uri`; false when none.
    bool inForce(std::u16string_view uri, OrvWstring& prefix, bool allowDefault);
    /// Whether `prefix` is free (not in force, or undeclared), in force for
    /// `uri` already, or taken: in force for another URI.
    enum class PrefixUse { Free, InForce, Taken };
    PrefixUse useOf(const OrvWstring& prefix, std::u16string_view uri);
    /// The prefix of a name in `uri` (not empty) on the tag being resolved;
    /// true when it is a new binding, made on this level, to declare.
    bool choosePrefix(std::u16string_view uri, std::u16string_view hint, bool element, OrvWstring& prefix);
    /// A new prefix for `uri`: its preferred, its generated, or a new
    /// generated one, the first that is free. Answers the writer's copy of
    /// the URI, which the binding is made with.
    const OrvWstring& newPrefix(std::u16string_view uri, OrvWstring& prefix);
    using UriMap = std::map<OrvWstring, UriPrefixes, OrvWstring::Less>;
    UriMap::iterator uriEntry(std::u16string_view uri);
    void bind(const OrvWstring& uri, const OrvWstring& prefix);
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
    /// The pending start tag uses the slot: it keeps its name until the tag is written.
    NameRef useName(NameRef ref) {
        iKnown[ref.slot].tag = iTagCount;
        return ref;
    }
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
    const std::u16string_view* spaceOfTag() const;
    void finishStartTag(bool empty);
    void resolveNames();
    void writeStartTag(bool empty);
    /// Flushes a full buffer, throwing on the sink's failure.
    void afterWrite() {
        iStarted = true;
        iIndent.bound();
        if (iOut.full())
            flushFull();
    }
    void flushFull();
    std::u16string_view converted(XmlString text, unsigned slot);

    XmlSink& iSink;
    XMLPrefixManager iPrefixes;
    XmlTextOutput iOut;
    MarkupEmitter iMarkup{iOut};
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
    bool iTagUnprefixed = false; // the element asked for the default namespace
    UriMap iUris;                // the URIs that needed a new binding
    std::uint64_t iGenerated = 0;
    // Open-addressed indexes (index + 1, 0: empty) of the tag's attributes
    // and declarations, once there are more than SCAN of them.
    std::vector<std::uint32_t> iAttributeIndex, iDeclarationIndex;
    NameRef iTagName;
    std::vector<PendingAttribute> iAttributes;
    std::vector<PendingDeclaration> iDeclarations;
    std::vector<OrvWstring> iAttributePrefixes;
    std::vector<char> iAttributeNew; // whose prefix is a new binding, declared on the tag
    bool iElementNew = false;        // the element's prefix is a new binding
    bool iUndeclareDefault = false;  // the tag writes xmlns=""
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
    unsigned iNameMisses = 0;         // grows by 2 a miss, shrinks by 1 a hit
    unsigned iNamesLeftAlone = 0;     // names to pass by without a look, after many misses
    std::u16string iUtf16[4];         // scratch for UTF-8 arguments
    mutable std::u16string iQueryUri; // scratch for prefixInForce's UTF-8 URI
    std::u16string iPiece;            // a piece of long UTF-8 text
    bool iFailed = false;
    mutable bool iRefusing = false;
};
} // namespace detail

} // namespace zaq

#endif
