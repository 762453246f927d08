// SPDX-License-Identifier: Apache-2.0
// XmlWriterNames.cpp - XmlWriter's start tags: each name's prefix from the
// prefix manager, the declarations of new bindings, and the tag written.
#include "XmlWriterImpl.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace zaq {

using Impl = detail::XmlWriterImpl;

namespace {

const std::u16string_view XML_URI = XMLPrefixManager::XML_NAMESPACE_URI;

} // namespace

// The tag's names are resolved in the order a reader meets them: its own
// declarations, the element, then the attributes; each new binding is made
// on the tag's level and declared on the tag. A binding the writer makes by
// itself never takes a prefix in force for another URI, so no name of the
// tag or of the document around it changes meaning.
bool Impl::inForce(std::u16string_view uri, OrvWstring& prefix, bool allowDefault) {
    for (const Answer& answer : iAnswers)
        if (answer.epoch == iEpoch && answer.allowDefault == allowDefault && answer.uri == uri) {
            prefix = answer.prefix;
            return true;
        }
    if (!iPrefixes.findNamespacePrefix(uri, prefix, allowDefault))
        return false;
    Answer& answer = iAnswers[iNextAnswer++ % 4];
    answer.uri.assign(uri);
    answer.allowDefault = allowDefault;
    answer.prefix = prefix;
    answer.epoch = iEpoch;
    return true;
}

Impl::PrefixUse Impl::useOf(const OrvWstring& prefix, std::u16string_view uri) {
    if (!iPrefixes.getNamespaceUri(prefix, iScratchUri))
        return PrefixUse::Free;
    if (iScratchUri.view() == uri)
        return PrefixUse::InForce;
    if (!iScratchUri.isEmpty())
        return PrefixUse::Taken;
    // Undeclared: free, unless this very tag undeclares it.
    return declaredOnTag(prefix.view(), nullptr) ? PrefixUse::Taken : PrefixUse::Free;
}

void Impl::bind(const OrvWstring& uri, const OrvWstring& prefix) {
    iPrefixes.addNamespaceAndPrefix(uri, prefix);
    ++iEpoch;
    iTagBinds = true;
}

Impl::UriMap::iterator Impl::uriEntry(std::u16string_view uri) {
    auto entry = iUris.lower_bound(uri);
    if (entry == iUris.end() || entry->first.view() != uri)
        entry = iUris.emplace_hint(entry, OrvWstring(uri), UriPrefixes());
    return entry;
}

const OrvWstring& Impl::newPrefix(std::u16string_view uri, OrvWstring& prefix) {
    const auto entry = uriEntry(uri);
    UriPrefixes& prefixes = entry->second;
    if (!prefixes.preferred.isEmpty() && useOf(prefixes.preferred, uri) != PrefixUse::Taken) {
        prefix = prefixes.preferred;
    } else if (!prefixes.generated.isEmpty() && useOf(prefixes.generated, uri) != PrefixUse::Taken) {
        prefix = prefixes.generated;
    } else {
        // A URI keeps the prefix generated for it: its elements take the
        // same one wherever they come, and a long stream makes no new ones.
        do {
            const std::string number = "NS" + std::to_string(++iGenerated);
            prefix = OrvWstring(std::u16string(number.begin(), number.end()));
        } while (useOf(prefix, uri) == PrefixUse::Taken);
        prefixes.generated = prefix;
    }
    return entry->first;
}

bool Impl::choosePrefix(std::u16string_view uri, std::u16string_view hint, bool element, OrvWstring& prefix) {
    static const OrvWstring XML_PREFIX(u"xml");
    static const OrvWstring NO_PREFIX;
    if (uri == XML_URI) {
        prefix = XML_PREFIX; // bound on every root level
        return false;
    }
    const bool unprefixed = element && iTagUnprefixed;
    if (unprefixed || (!hint.empty() && hint != u"xml" && hint != u"xmlns")) {
        prefix = unprefixed ? NO_PREFIX : OrvWstring(hint);
        const PrefixUse use = useOf(prefix, uri);
        if (use == PrefixUse::InForce)
            return false;
        if (use == PrefixUse::Free) {
            bind(uriEntry(uri)->first, prefix);
            return true;
        }
    }
    if (inForce(uri, prefix, element))
        return false;
    bind(newPrefix(uri, prefix), prefix);
    return true;
}

void Impl::resolveNames() {
    const std::u16string_view uri = tagUri(), hint = view(iTagHint);
    iPrefixes.addLevel();
    iTagBinds = false;
    for (const PendingDeclaration& declaration : iDeclarations)
        bind(OrvWstring(view(declaration.uri)), OrvWstring(view(declaration.prefix)));
    iUndeclareDefault = false;
    iElementNew = false;
    if (uri.empty()) {
        iPrefix = OrvWstring();
        iUndeclareDefault = iPrefixes.isDefaultSpace();
        if (iUndeclareDefault)
            bind(OrvWstring(), OrvWstring());
    } else {
        iElementNew = choosePrefix(uri, hint, true, iPrefix);
    }
    iAttributePrefixes.resize(iAttributes.size());
    iAttributeNew.assign(iAttributes.size(), 0);
    for (std::size_t i = 0; i < iAttributes.size(); ++i) {
        const std::u16string_view attributeUri = uriOf(iAttributes[i]);
        if (attributeUri.empty())
            iAttributePrefixes[i] = OrvWstring();
        else
            iAttributeNew[i] = choosePrefix(attributeUri, view(iAttributes[i].hint), false, iAttributePrefixes[i]);
    }
}

// The slots of the name's set, when the slot found after the previous name
// (XmlWriter.h) does not hold it. When
// most names are new (more distinct names than slots), looking them up and
// remembering them costs more than the hits save: after a run of mostly
// misses, the next names are passed by, and then tried again.
Impl::NameRef Impl::findNameInSet(bool attribute, std::u16string_view uri, std::u16string_view localName) {
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
Impl::NameRef Impl::rememberName(NameRef set, bool attribute, std::u16string_view uri, std::u16string_view localName) {
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
void Impl::growNames() {
    const unsigned slots = iKnownSlots == 0 ? FEW_NAMES : std::min(iKnownSlots * 4, MOST_NAMES);
    iKnown.reset(new KnownName[slots]);
    iKnownSlots = slots;
    iRemembered = 0;
    iLastKnown = 0;
    iNameMisses = 0;
}

// The slot while it still holds the name it was given for `ref`.
Impl::KnownName* Impl::known(NameRef ref) {
    KnownName& known = iKnown[ref.slot];
    return ref.stamp != 0 && known.stamp == ref.stamp ? &known : nullptr;
}

// A name the manager answered from a binding in force keeps the answer, as
// written, for as long as the bindings in force stay as they are.
void Impl::learn(NameRef ref, std::size_t from) {
    if (KnownName* name = known(ref)) {
        name->qname.assign(iOut.data() + from, iOut.size() - from);
        name->epoch = iEpoch;
    }
}

const std::u16string_view* Impl::spaceOfTag() const {
    static const std::u16string_view PRESERVE(u"preserve"), DEFAULT(u"default");
    const std::u16string_view* space = nullptr;
    for (const PendingAttribute& attribute : iAttributes)
        if (uriOf(attribute) == XML_URI && localNameOf(attribute) == u"space")
            space = view(attribute.value) == u"preserve" ? &PRESERVE : &DEFAULT;
    return space;
}

// A tag that declares nothing and names only what earlier tags named under
// the same bindings is written from their answers: nothing to look up, no
// name to convert.
bool Impl::writeKnownStartTag(bool empty) {
    if (!iDeclarations.empty() || iTagHint.length != 0 || iTagUnprefixed)
        return false;
    const KnownName* element = known(iTagName);
    if (element == nullptr || element->epoch != iEpoch)
        return false;
    for (const PendingAttribute& attribute : iAttributes) {
        const KnownName* name = known(attribute.name);
        if (name == nullptr || name->epoch != iEpoch || attribute.hint.length != 0)
            return false;
    }
    iPrefixes.addLevel();
    iTagBinds = false;
    iMarkup.beginStartTag();
    iMarkup.rawName(element->qname.data(), element->qname.size());
    iMarkup.pushName();
    for (const PendingAttribute& attribute : iAttributes) {
        const std::string& qname = iKnown[attribute.name.slot].qname;
        iMarkup.beginAttribute();
        iMarkup.rawName(qname.data(), qname.size());
        iMarkup.attributeValue(view(attribute.value));
    }
    finishStartTag(empty);
    return true;
}

void Impl::writeStartTag(bool empty) {
    if (writeKnownStartTag(empty))
        return;
    const std::u16string_view uri = tagUri(), localName = tagLocalName();
    resolveNames();
    // After a tag that made no binding, every answer came from a binding in
    // force and holds until the bindings change: its names are learnt.
    const bool learning = !iTagBinds;
    iMarkup.beginStartTag();
    const std::size_t nameFrom = iOut.size();
    iMarkup.name(iPrefix.view(), localName);
    iMarkup.pushName();
    if (learning && iTagHint.length == 0 && !iTagUnprefixed)
        learn(iTagName, nameFrom);
    for (const PendingDeclaration& declaration : iDeclarations)
        iMarkup.namespaceDeclaration(view(declaration.prefix), view(declaration.uri));
    if (iUndeclareDefault)
        iMarkup.namespaceDeclaration({}, {});
    if (iElementNew)
        iMarkup.namespaceDeclaration(iPrefix.view(), uri);
    for (std::size_t i = 0; i < iAttributes.size(); ++i)
        if (iAttributeNew[i])
            iMarkup.namespaceDeclaration(iAttributePrefixes[i].view(), uriOf(iAttributes[i]));
    for (std::size_t i = 0; i < iAttributes.size(); ++i) {
        iMarkup.beginAttribute();
        const std::size_t attributeFrom = iOut.size();
        iMarkup.name(iAttributePrefixes[i].view(), localNameOf(iAttributes[i]));
        if (learning && iAttributes[i].hint.length == 0)
            learn(iAttributes[i].name, attributeFrom);
        iMarkup.attributeValue(view(iAttributes[i].value));
    }
    finishStartTag(empty);
}

void Impl::finishStartTag(bool empty) {
    iTagPending = false;
    if (iTag.size() > MOST_KEPT)
        releaseScratch(); // after a long value: the buffers it grew go back
    if (empty) {
        iMarkup.endEmptyTag();
        iPrefixes.removeLevel();
        if (iTagBinds)
            ++iEpoch;
    } else {
        iMarkup.endStartTag();
        iOpen.push_back(OpenElement{iTagBinds});
        if (iIndenting)
            iIndent.open(spaceOfTag());
    }
}

} // namespace zaq
