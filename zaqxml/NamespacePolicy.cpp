// SPDX-License-Identifier: Apache-2.0
// NamespacePolicy.cpp - prefixes and namespace declarations for each element.
#include "NamespacePolicy.h"

#include "XmlChecks.h"

#include <algorithm>
#include <cassert>
#include <functional>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

OrvWstring text(std::u16string_view chars) { return OrvWstring(chars); }

// The NCName characters, exactly for ASCII and generously beyond it: enough
// to spot `prefix:name` tokens in text, which is all they are used for.
bool isNameStart(char16_t c) { return c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80; }
bool isNameChar(char16_t c) { return isNameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9'); }

// The first ':' in chars[from, length), or `length`: eight code units at a
// time, as most text has none.
std::size_t nextColon(const char16_t* chars, std::size_t from, std::size_t length) {
#if defined(__SSE2__)
    const __m128i colon = _mm_set1_epi16(':');
    for (; from + 8 <= length; from += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chars + from));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(units, colon)));
        if (mask != 0)
            return from + static_cast<unsigned>(__builtin_ctz(mask)) / 2u;
    }
#endif
    while (from < length && chars[from] != ':')
        ++from;
    return from;
}

} // namespace

NamespacePolicy::NamespacePolicy(XMLPrefixManager& manager, const Settings& settings, const Diagnostics& diagnostics)
    : iManager(manager), iSettings(settings), iXmlUri(XMLPrefixManager::XML_NAMESPACE_URI),
      iXmlnsUri(XMLPrefixManager::XMLNS_NAMESPACE_URI), iXmlPrefix(u"xml"), iDiagnostics(diagnostics) {}

void NamespacePolicy::startDocument() {
    iManager.reset();
    iPreferred.clear();
    for (const auto& preference : iSettings.preferred) {
        iManager.addNamespace(preference.second, preference.first);
        iPreferred[preference.second] = preference.first;
    }
    iGenerated = 0;
    iBound.clear();
    iBoundAt.clear();
    iPending.clear();
    iDeclarations.clear();
    iInputScope.clear();
    iInputDeclared.clear();
    iReported.clear();
    iDeclaredUris.clear();
    iUriUnits = 0;
}

void NamespacePolicy::declare(std::u16string_view prefixText, std::u16string_view uriText) {
    OrvWstring prefix = text(prefixText);
    OrvWstring uri = text(uriText);
    auto name = [&] { return prefix.isEmpty() ? std::string("xmlns") : "xmlns:" + prefix.toUtf8(); };
    switch (xmlchecks::reservedRule(prefix.view(), uri.view())) {
    case xmlchecks::Reserved::XmlnsPrefix:
        throw iDiagnostics.failureHere("the prefix 'xmlns' cannot be declared");
    case xmlchecks::Reserved::XmlPairing:
        throw iDiagnostics.failureHere(name() + "=\"" + uri.toUtf8() + "\": the prefix 'xml' and the namespace " +
                                       iXmlUri.toUtf8() + " belong to each other only");
    case xmlchecks::Reserved::XmlnsNamespace:
        throw iDiagnostics.failureHere(name() + ": the namespace " + iXmlnsUri.toUtf8() + " cannot be declared");
    case xmlchecks::Reserved::None:
        break;
    }
    const std::uint64_t hash = std::hash<std::u16string_view>()(std::u16string_view(uri.data(), uri.length()));
    // A long namespace name costs more: it counts once more for every 64
    // characters.
    if (iDeclaredUris.insert(hash).second && (iUriUnits += 1 + uri.length() / 64) > iSettings.maxNamespaces)
        throw iDiagnostics.failureHere("more than " + std::to_string(iSettings.maxNamespaces) +
                                       " distinct namespace names; --max-namespaces raises the limit");
    iPending.emplace_back(std::move(prefix), std::move(uri));
}

bool NamespacePolicy::kept(const OrvWstring& prefix) const {
    if (prefix.isEmpty())
        return iSettings.keepDefault;
    return std::any_of(iSettings.keep.begin(), iSettings.keep.end(),
                       [&](const OrvWstring& keep) { return keep.equals(prefix); });
}

OrvWstring NamespacePolicy::inForce(const OrvWstring& prefix) const {
    OrvWstring uri;
    iManager.getNamespaceUri(prefix, uri);
    return uri;
}

void NamespacePolicy::bindAsInput(const OrvWstring& prefix, const OrvWstring& uri) {
    // Unbound and bound to "" mean the same: nothing to declare then.
    if (inForce(prefix).equals(uri))
        return;
    iManager.addNamespaceAndPrefix(uri, prefix);
    iDeclarations.emplace_back(prefix, uri);
    noteBound(prefix, uri);
}

bool NamespacePolicy::reusable(const OrvWstring& prefix, const OrvWstring& uri) const {
    // The namespace's own prefix, or one of the generated form: what an
    // earlier --generate wrote, so that a second one writes the same.
    auto preferred = iPreferred.find(uri);
    if (preferred != iPreferred.end() && preferred->second.equals(prefix))
        return true;
    const std::size_t length = prefix.length();
    if (length < 3 || prefix.data()[0] != u'N' || prefix.data()[1] != u'S' || prefix.data()[2] == u'0')
        return false;
    return std::all_of(prefix.data() + 2, prefix.data() + length, [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

void NamespacePolicy::noteBound(const OrvWstring& prefix, const OrvWstring& uri) {
    if (!iSettings.generate || iBoundAt.empty() || !reusable(prefix, uri))
        return;
    auto bound = iBound.try_emplace(uri).first;
    bound->second.push_back(prefix);
    iBoundAt.back().push_back(&bound->first);
}

void NamespacePolicy::startElement(std::vector<Name>& names) {
    iManager.addLevel();
    iDeclarations.clear();
    if (iSettings.generate)
        iBoundAt.emplace_back();
    if (iSettings.prune)
        iInputDeclared.emplace_back();

    for (const auto& declaration : iPending) {
        const OrvWstring& prefix = declaration.first;
        const OrvWstring& uri = declaration.second;
        if (uri.equals(iXmlUri))
            continue; // xml is bound everywhere already
        if (iSettings.prune) {
            iInputScope[prefix].push_back(uri);
            iInputDeclared.back().push_back(prefix);
        }
        if (!iSettings.prune || kept(prefix)) {
            bindAsInput(prefix, uri);
        } else if (iSettings.generate) {
            continue; // the input's prefixes play no part
        } else if (prefix.isEmpty()) {
            // A default namespace stays a binding of its element.
            if (!uri.isEmpty() && !uri.equals(inForce(prefix))) {
                iManager.addNamespaceAndPrefix(uri, prefix);
                iDeclarations.emplace_back(prefix, uri);
            }
        } else {
            iManager.addNamespace(uri, prefix);
        }
    }
    iPending.clear();

    // An unprefixed name in no namespace must not fall under a default one.
    if (names.front().uri == nullptr && iManager.isDefaultSpace()) {
        iManager.addNamespaceAndPrefix(OrvWstring(), OrvWstring());
        iDeclarations.emplace_back(OrvWstring(), OrvWstring());
    }
    for (Name& name : names)
        resolve(name);
    if (iSettings.prune && !iSettings.generate)
        repairShadowedNames(names);
}

void NamespacePolicy::resolve(Name& name) {
    name.prefix = OrvWstring();
    name.asInput = false;
    if (name.uri == nullptr)
        return;
    const OrvWstring& uri = *name.uri;
    if (uri.equals(iXmlUri)) {
        name.prefix = iXmlPrefix; // bound everywhere, never declared
        return;
    }
    if (name.element && iSettings.emptyPrefixForDefault && inForce(OrvWstring()).equals(uri))
        return;
    if (iSettings.generate) {
        resolveGenerated(name);
        return;
    }
    if (!iSettings.prune) {
        // Every binding of the input is in force in the output where the
        // input has it, so the name keeps its prefix without asking.
        name.asInput = true;
        assert(inForce(text(name.inputPrefix)).equals(uri) && "the input's bindings are the output's");
        return;
    }
    if (!iManager.getNamespacePrefix(uri, name.prefix, name.element))
        iDeclarations.emplace_back(name.prefix, uri);
}

void NamespacePolicy::resolveGenerated(Name& name) {
    const OrvWstring& uri = *name.uri;
    OrvWstring bound;
    // The namespace's own prefix, where it is in force or free. A prefix in
    // force for another namespace is never shadowed: under preserve it may be
    // the input's, which content can name.
    auto preferred = iPreferred.find(uri);
    if (preferred != iPreferred.end()) {
        const OrvWstring& prefix = preferred->second;
        if (!iManager.getNamespaceUri(prefix, bound) || bound.equals(uri)) {
            name.prefix = prefix;
            if (!bound.equals(uri)) {
                iManager.addNamespaceAndPrefix(uri, prefix);
                iDeclarations.emplace_back(prefix, uri);
            }
            return;
        }
    }
    // Else a prefix of the generated form bound to it here, by the input or
    // by an earlier element: the namespace keeps one prefix wherever the
    // input lets it, and a document written by --generate stays as it is.
    auto reuse = iBound.find(uri);
    if (reuse != iBound.end()) {
        for (auto prefix = reuse->second.rbegin(); prefix != reuse->second.rend(); ++prefix) {
            if (!inForce(*prefix).equals(uri))
                continue;
            name.prefix = *prefix;
            if (preferred == iPreferred.end())
                iPreferred.emplace(uri, *prefix);
            return;
        }
    }
    OrvWstring candidate;
    do {
        ++iGenerated;
        candidate = OrvWstring::fromUtf8("NS" + std::to_string(iGenerated));
    } while (iManager.getNamespaceUri(candidate, bound));
    iManager.addNamespaceAndPrefix(uri, candidate);
    iDeclarations.emplace_back(candidate, uri);
    noteBound(candidate, uri);
    if (preferred == iPreferred.end()) {
        iManager.addNamespace(uri, candidate);
        iPreferred.emplace(uri, candidate);
    }
    name.prefix = std::move(candidate);
}

void NamespacePolicy::repairShadowedNames(std::vector<Name>& names) {
    // A binding made on this element can shadow a prefix that an earlier
    // name of the same element took from an enclosing one: such a name asks
    // again (and gets a prefix in force, or a new one) until none clashes.
    // Only a prefix declared here can be shadowed: with the usual one or two
    // declarations they are compared directly, with many each name costs
    // one lookup, so a pass stays linear either way.
    auto shadowed = [&](const Name& name) {
        if (iDeclarations.size() > 8)
            return !inForce(name.prefix).equals(*name.uri);
        for (const auto& declaration : iDeclarations)
            if (declaration.first.equals(name.prefix) && !declaration.second.equals(*name.uri))
                return true;
        return false;
    };
    bool clash = !iDeclarations.empty();
    while (clash) {
        clash = false;
        for (Name& name : names) {
            if (name.uri == nullptr || !shadowed(name))
                continue;
            if (!iManager.getNamespacePrefix(*name.uri, name.prefix, name.element))
                iDeclarations.emplace_back(name.prefix, *name.uri);
            clash = true;
        }
    }
}

void NamespacePolicy::endElement() {
    iManager.removeLevel();
    if (!iBoundAt.empty()) {
        for (const OrvWstring* uri : iBoundAt.back()) {
            auto bound = iBound.find(*uri);
            bound->second.pop_back();
            if (bound->second.empty())
                iBound.erase(bound);
        }
        iBoundAt.pop_back();
    }
    if (!iSettings.prune || iInputDeclared.empty())
        return;
    for (const OrvWstring& prefix : iInputDeclared.back()) {
        auto scope = iInputScope.find(prefix);
        scope->second.pop_back();
        if (scope->second.empty())
            iInputScope.erase(scope);
    }
    iInputDeclared.pop_back();
}

void NamespacePolicy::lostQNamePrefixes(std::u16string_view content, std::vector<std::string>& lost) {
    const char16_t* chars = content.data();
    const std::size_t length = content.size();
    if (!iSettings.prune || iInputScope.empty())
        return;
    for (std::size_t colon = nextColon(chars, 0, length); colon + 1 < length;
         colon = nextColon(chars, colon + 1, length)) {
        if (!isNameStart(chars[colon + 1]))
            continue;
        std::size_t start = colon;
        while (start > 0 && isNameChar(chars[start - 1]))
            --start;
        if (start == colon || !isNameStart(chars[start]))
            continue;
        const OrvWstring prefix = text(content.substr(start, colon - start));
        auto scope = iInputScope.find(prefix);
        if (scope == iInputScope.end() || scope->second.back().isEmpty() ||
            inForce(prefix).equals(scope->second.back()))
            continue;
        if (iReported.emplace(prefix, true).second)
            lost.push_back(prefix.toUtf8());
    }
}
