// SPDX-License-Identifier: Apache-2.0
// XmlWriterNames.cpp - XmlWriter's start tags: each name's prefix from the
// prefix manager, the declarations of new bindings, and the tag written.
#include "XmlWriter.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

using Escape = XmlTextOutput::Escape;

namespace {

const std::u16string_view XML_URI = XMLPrefixManager::XML_NAMESPACE_URI;

} // namespace

// The tag's names are resolved in the order a reader meets them: its own
// declarations, the element, then the attributes; each new binding the
// manager makes is declared on this tag. With `pin`, the prefixes that the
// previous pass found in force are first bound again on this level (and not
// declared: they mean what they meant), so that no new binding takes them.
bool XmlWriter::lookup(std::u16string_view uri, OrvWstring& prefix, bool allowDefault) {
    for (const Answer& answer : iAnswers)
        if (answer.epoch == iEpoch && answer.allowDefault == allowDefault && answer.uri == uri) {
            prefix = answer.prefix;
            return true;
        }
    if (!iPrefixes.getNamespacePrefix(uri, prefix, allowDefault)) {
        ++iEpoch;
        iTagBinds = true;
        return false;
    }
    Answer& answer = iAnswers[iNextAnswer++ % 4];
    answer.uri.assign(uri);
    answer.allowDefault = allowDefault;
    answer.prefix = prefix;
    answer.epoch = iEpoch;
    return true;
}

void XmlWriter::bind(std::u16string_view uri, const OrvWstring& prefix) {
    iPrefixes.addNamespaceAndPrefix(OrvWstring(uri), prefix);
    ++iEpoch;
    iTagBinds = true;
}

void XmlWriter::resolveNames(bool pin) {
    const std::u16string_view uri = tagUri(), hint = view(iTagHint);
    iPrefixes.addLevel();
    iTagBinds = false;
    for (const PendingDeclaration& declaration : iDeclarations)
        bind(view(declaration.uri), OrvWstring(view(declaration.prefix)));
    if (pin) {
        // Only what was in force before this tag: a name that found a
        // binding the previous pass made on this tag, for a name resolved
        // before it, is looked up again.
        auto madeBefore = [&](const OrvWstring& prefix, std::size_t attribute) {
            if (iElementNew && iPrefix == prefix)
                return true;
            for (std::size_t i = 0; i < attribute; ++i)
                if (iAttributeNew[i] && iAttributePrefixes[i] == prefix)
                    return true;
            return false;
        };
        if (!iElementNew && !iPrefix.isEmpty())
            bind(uri, iPrefix);
        for (std::size_t i = 0; i < iAttributes.size(); ++i)
            if (!iAttributeNew[i] && !iAttributePrefixes[i].isEmpty() && !madeBefore(iAttributePrefixes[i], i))
                bind(uriOf(iAttributes[i]), iAttributePrefixes[i]);
    }
    iUndeclareDefault = false;
    iElementNew = false;
    std::u16string_view declaredUri;
    if (uri.empty()) {
        iPrefix = OrvWstring();
        iUndeclareDefault = iPrefixes.isDefaultSpace();
        if (iUndeclareDefault)
            bind(u"", OrvWstring());
    } else if (!hint.empty() && (!declaredOnTag(hint, &declaredUri) || declaredUri == uri)) {
        iPrefix = OrvWstring(hint);
        iElementNew = !iPrefixes.getNamespaceUri(iPrefix, iScratchUri) || iScratchUri.view() != uri;
        if (iElementNew)
            bind(uri, iPrefix);
    } else {
        iElementNew = !lookup(uri, iPrefix, true);
    }
    iAttributePrefixes.resize(iAttributes.size());
    iAttributeNew.assign(iAttributes.size(), 0);
    for (std::size_t i = 0; i < iAttributes.size(); ++i) {
        const std::u16string_view attributeUri = uriOf(iAttributes[i]);
        if (attributeUri.empty())
            iAttributePrefixes[i] = OrvWstring();
        else
            iAttributeNew[i] = !lookup(attributeUri, iAttributePrefixes[i], false) ? 1 : 0;
    }
}

// Whether every prefixed name of the tag is bound to its own URI after the
// tag's new bindings: one of them may have rebound, on this level, a prefix
// in force that another name of the tag uses.
bool XmlWriter::namesHold() {
    auto holds = [this](const OrvWstring& prefix, std::u16string_view uri) {
        return prefix.isEmpty() || (iPrefixes.getNamespaceUri(prefix, iScratchUri) && iScratchUri.view() == uri);
    };
    if (!holds(iPrefix, tagUri()))
        return false;
    for (std::size_t i = 0; i < iAttributes.size(); ++i)
        if (!holds(iAttributePrefixes[i], uriOf(iAttributes[i])))
            return false;
    return true;
}

namespace {} // namespace

// The slots of the name's set, when the slot found after the previous name
// (XmlWriter.h) does not hold it. When
// most names are new (more distinct names than slots), looking them up and
// remembering them costs more than the hits save: after a run of mostly
// misses, the next names are passed by, and then tried again.
XmlWriter::NameRef XmlWriter::findNameInSet(bool attribute, std::u16string_view uri, std::u16string_view localName) {
    if (iNamesLeftAlone > 0) {
        --iNamesLeftAlone;
        return NameRef{NO_SET, 0};
    }
    // A table is made, or made larger, only while no start tag is pending:
    // the pending tag's names live in the slots it uses.
    if (!iTagPending && (iKnownSlots == 0 || (iRemembered > iKnownSlots / 2 && iKnownSlots < MOST_NAMES)))
        growNames();
    if (iKnownSlots == 0)
        return NameRef{NO_SET, 0};
    unsigned slot;
    {
        // The local name whole, and of the URI (long, and shared by many
        // names) its length and three code units.
        std::uint64_t hash = attribute ? 0xCBF29CE484222325u : 0x84222325CBF29CE4u;
        auto mix = [&hash](std::uint64_t unit) { hash = (hash ^ unit) * 0x100000001B3u; };
        for (const char16_t c : localName)
            mix(c);
        mix(uri.size());
        if (!uri.empty()) {
            mix(uri[uri.size() / 2]);
            mix(uri[uri.size() * 3 / 4]);
            mix(uri.back());
        }
        hash = (hash ^ (hash >> 33)) * 0xFF51AFD7ED558CCDu; // spreads FNV's weak low bits
        const unsigned set = static_cast<unsigned>((hash >> 32) % (iKnownSlots / WAYS)) * WAYS;
        for (slot = set; slot < set + WAYS && !holdsName(iKnown[slot], attribute, uri, localName); ++slot) {
        }
        if (slot == set + WAYS) {
            iNameMisses += 2;
            if (iNameMisses >= 256) {
                iNameMisses = 0;
                if (iKnownSlots < MOST_NAMES)
                    iRemembered = iKnownSlots; // a larger table first
                else
                    iNamesLeftAlone = 8192;
            }
            return NameRef{set, 0};
        }
        iKnown[iLastKnown].next = slot;
    }
    if (iNameMisses > 0)
        --iNameMisses;
    iLastKnown = slot;
    return NameRef{slot, iKnown[slot].stamp};
}

// The slot of the name's set that a start tag used longest ago, other than
// those the pending tag uses; none (the name is then copied) when it uses
// them all, or when names are not being remembered.
XmlWriter::NameRef XmlWriter::rememberName(NameRef set, bool attribute, std::u16string_view uri,
                                           std::u16string_view localName) {
    if (set.slot == NO_SET)
        return NameRef{};
    unsigned slot = NO_SET;
    for (unsigned way = set.slot; way < set.slot + WAYS; ++way) {
        const KnownName& candidate = iKnown[way];
        if (candidate.stamp == 0) {
            slot = way;
            break;
        }
        if (candidate.tag != iTagCount && (slot == NO_SET || candidate.tag < iKnown[slot].tag))
            slot = way;
    }
    if (slot == NO_SET)
        return NameRef{};
    ++iRemembered;
    KnownName& known = iKnown[slot];
    known.stamp = 0; // empty until both strings are in
    known.uri.assign(uri);
    known.localName.assign(localName);
    known.attribute = attribute;
    known.epoch = NO_EPOCH;
    known.stamp = ++iKnownStamp;
    return useName(NameRef{slot, known.stamp});
}

// A small document uses a small table; a larger vocabulary gets a larger
// one, filled again from the names that come next.
void XmlWriter::growNames() {
    const unsigned slots = iKnownSlots == 0 ? FEW_NAMES : std::min(iKnownSlots * 4, MOST_NAMES);
    iKnown.reset(new KnownName[slots]);
    iKnownSlots = slots;
    iRemembered = 0;
    iLastKnown = 0;
    iNameMisses = 0;
}

// The pending start tag uses the slot: it keeps its name until the tag is written.
XmlWriter::NameRef XmlWriter::useName(NameRef ref) {
    iKnown[ref.slot].tag = iTagCount;
    return ref;
}

// The slot while it still holds the name it was given for `ref`.
XmlWriter::KnownName* XmlWriter::known(NameRef ref) {
    KnownName& known = iKnown[ref.slot];
    return ref.stamp != 0 && known.stamp == ref.stamp ? &known : nullptr;
}

// A name the manager answered from a binding in force keeps the answer, as
// written, for as long as the bindings in force stay as they are.
void XmlWriter::learn(NameRef ref, std::size_t from) {
    if (KnownName* name = known(ref)) {
        name->qname.assign(iOut.data() + from, iOut.size() - from);
        name->epoch = iEpoch;
    }
}

const XMLCh* XmlWriter::spaceOfTag() const {
    const XMLCh* space = nullptr;
    for (const PendingAttribute& attribute : iAttributes)
        if (uriOf(attribute) == XML_URI && localNameOf(attribute) == u"space")
            space = view(attribute.value) == u"preserve" ? u"preserve" : u"default";
    return space;
}

// A tag that declares nothing and names only what earlier tags named under
// the same bindings is written from their answers: nothing to look up, no
// name to convert.
bool XmlWriter::writeKnownStartTag(bool empty) {
    if (!iDeclarations.empty() || iTagHint.length != 0)
        return false;
    const KnownName* element = known(iTagName);
    if (element == nullptr || element->epoch != iEpoch)
        return false;
    for (const PendingAttribute& attribute : iAttributes) {
        const KnownName* name = known(attribute.name);
        if (name == nullptr || name->epoch != iEpoch)
            return false;
    }
    iPrefixes.addLevel();
    iTagBinds = false;
    iOut.put('<');
    iOut.put(element->qname.data(), element->qname.size());
    for (const PendingAttribute& attribute : iAttributes) {
        const std::string& qname = iKnown[attribute.name.slot].qname;
        iOut.put(' ');
        iOut.put(qname.data(), qname.size());
        iOut.put("=\"");
        const std::u16string_view value = view(attribute.value);
        iOut.append(reinterpret_cast<const XMLCh*>(value.data()), value.size(), Escape::Attribute);
        iOut.put('"');
    }
    finishStartTag(empty, element->qname);
    return true;
}

void XmlWriter::writeStartTag(bool empty) {
    if (writeKnownStartTag(empty))
        return;
    const std::u16string_view uri = tagUri(), localName = tagLocalName();
    resolveNames(false);
    bool anyNew = iElementNew;
    for (std::size_t i = 0; i < iAttributes.size(); ++i)
        anyNew = anyNew || iAttributeNew[i];
    if (anyNew && !namesHold()) {
        iPrefixes.removeLevel();
        ++iEpoch;
        resolveNames(true);
    }
    // After a tag that made no binding, every answer came from a binding in
    // force and holds until the bindings change: its names are learnt.
    const bool learning = !iTagBinds;
    iOut.put('<');
    const std::size_t nameFrom = iOut.size();
    writeName(iPrefix.view(), localName);
    iQName.assign(iOut.data() + nameFrom, iOut.size() - nameFrom);
    if (learning && iTagHint.length == 0)
        learn(iTagName, nameFrom);
    for (const PendingDeclaration& declaration : iDeclarations)
        writeDeclaration(view(declaration.prefix), view(declaration.uri));
    if (iUndeclareDefault)
        iOut.put(" xmlns=\"\"");
    if (iElementNew)
        writeDeclaration(iPrefix.view(), uri);
    for (std::size_t i = 0; i < iAttributes.size(); ++i)
        if (iAttributeNew[i])
            writeDeclaration(iAttributePrefixes[i].view(), uriOf(iAttributes[i]));
    for (std::size_t i = 0; i < iAttributes.size(); ++i) {
        iOut.put(' ');
        const std::size_t attributeFrom = iOut.size();
        writeName(iAttributePrefixes[i].view(), localNameOf(iAttributes[i]));
        if (learning)
            learn(iAttributes[i].name, attributeFrom);
        iOut.put("=\"");
        const std::u16string_view value = view(iAttributes[i].value);
        iOut.append(reinterpret_cast<const XMLCh*>(value.data()), value.size(), Escape::Attribute);
        iOut.put('"');
    }
    finishStartTag(empty, iQName);
}

void XmlWriter::finishStartTag(bool empty, std::string_view qname) {
    iTagPending = false;
    if (empty) {
        iOut.put("/>");
        iPrefixes.removeLevel();
        if (iTagBinds)
            ++iEpoch;
    } else {
        iOut.put('>');
        iOpen.push_back(OpenElement{iOpenNames.size(), iTagBinds});
        iOpenNames.append(qname);
        if (iIndenting)
            iIndent.open(spaceOfTag());
    }
}
