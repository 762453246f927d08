// SPDX-License-Identifier: Apache-2.0
// PrefixManagerAccess.h - test-only view of a prefix manager's private state.
#ifndef ZAQ_TESTS_PREFIX_MANAGER_ACCESS_H
#define ZAQ_TESTS_PREFIX_MANAGER_ACCESS_H

#include "XMLPrefixManager.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

/// Reads the manager's levels, level lists, cache and binding stacks, and
/// checks the invariants that tie them together.
struct XMLPrefixManagerTestAccess {
    using Binding = std::pair<std::string, std::int64_t>; // URI, scope level

    static std::int64_t level(const XMLPrefixManager& m) { return m.iLevel; }
    static std::int64_t prefixCounter(const XMLPrefixManager& m) { return m.iPrefixCounter; }
    static bool useEmptyPrefixForDefault(const XMLPrefixManager& m) { return m.iUseEmptyPrefixForDefaultNs; }
    static std::size_t levelListCount(const XMLPrefixManager& m) { return m.iLevelNamespaces.size(); }
    static const void* levelListAddress(const XMLPrefixManager& m, std::size_t k) {
        return m.iLevelNamespaces.at(k).get();
    }

    static std::vector<std::string> levelList(const XMLPrefixManager& m, std::size_t k) {
        std::vector<std::string> out;
        for (const auto& uri : *m.iLevelNamespaces.at(k))
            out.push_back(uri.toUtf8());
        return out;
    }

    static std::size_t cacheSize(const XMLPrefixManager& m) { return m.iLevelLookupCache.size(); }
    static bool cacheIsEnd(const XMLPrefixManager& m, std::size_t i) {
        return m.iLevelLookupCache.at(i) == m.iNamespaces.end();
    }
    static std::string cacheUri(const XMLPrefixManager& m, std::size_t i) {
        return cacheIsEnd(m, i) ? std::string("<end>") : m.iLevelLookupCache.at(i)->first.toUtf8();
    }

    /// Makes every cache element remember nothing.
    static void forgetCache(XMLPrefixManager& m) {
        for (auto& hint : m.iLevelLookupCache)
            hint = m.iNamespaces.end();
    }

    /// Binding stack of a prefix, oldest first; absent prefixes give none.
    static bool hasPrefixEntry(const XMLPrefixManager& m, const std::string& prefix) {
        return m.iPrefixes.count(OrvWstring::fromUtf8(prefix)) != 0;
    }
    static std::vector<Binding> stack(const XMLPrefixManager& m, const std::string& prefix) {
        std::vector<Binding> out;
        auto it = m.iPrefixes.find(OrvWstring::fromUtf8(prefix));
        if (it != m.iPrefixes.end())
            for (const auto& b : *it->second)
                out.emplace_back(b.iUri.toUtf8(), b.iScopeLevel);
        return out;
    }

    static bool hasNamespace(const XMLPrefixManager& m, const std::string& uri) {
        return m.iNamespaces.count(OrvWstring::fromUtf8(uri)) != 0;
    }
    static std::size_t namespaceCount(const XMLPrefixManager& m) { return m.iNamespaces.size(); }
    static std::size_t prefixCount(const XMLPrefixManager& m) { return m.iPrefixes.size(); }
    static std::string preferredPrefix(const XMLPrefixManager& m, const std::string& uri) {
        return m.iNamespaces.at(OrvWstring::fromUtf8(uri)).iPreferredPrefix.toUtf8();
    }
    /// The prefixes of a URI's PrefixRefs, oldest first.
    static std::vector<std::string> prefixRefs(const XMLPrefixManager& m, const std::string& uri) {
        std::vector<std::string> out;
        for (const auto& ref : m.iNamespaces.at(OrvWstring::fromUtf8(uri)).iPrefixRefs)
            out.push_back(ref.iPrefix.toUtf8());
        return out;
    }

    static std::string numToStr(XMLPrefixManager& m, std::int64_t number, const std::string& start) {
        OrvWstring out = OrvWstring::fromUtf8(start);
        m.numToStr(number, out);
        return out.toUtf8();
    }
    static std::string generatePrefix(XMLPrefixManager& m) { return m.generatePrefix().toUtf8(); }
    static std::string createNewPrefix(XMLPrefixManager& m, const std::string& uriText) {
        const OrvWstring uri = OrvWstring::fromUtf8(uriText);
        auto entry = m.iNamespaces.find(uri);
        if (entry == m.iNamespaces.end())
            entry = m.iNamespaces.emplace(uri, XMLPrefixManager::Namespace()).first;
        OrvWstring prefix(u"junk");
        m.createNewPrefix(entry, uri, prefix);
        return prefix.toUtf8();
    }

    /// Empty when every invariant holds, otherwise the first one broken.
    static std::string checkInvariants(const XMLPrefixManager& m) {
        if (m.iDefaultPrefix == m.iPrefixes.end() || !m.iDefaultPrefix->first.isEmpty())
            return "the default-prefix position does not designate the empty prefix";
        std::size_t refs = 0;
        for (const auto& entry : m.iNamespaces) {
            for (const auto& ref : entry.second.iPrefixRefs) {
                auto stackEntry = m.iPrefixes.find(ref.iPrefix);
                if (stackEntry == m.iPrefixes.end() || stackEntry->second.get() != ref.iBindings)
                    return "a PrefixRef of " + entry.first.toUtf8() + " designates a foreign stack";
                ++refs;
            }
        }
        std::size_t bindings = 0;
        std::map<std::int64_t, std::size_t> perLevel;
        for (const auto& entry : m.iPrefixes) {
            if (!entry.second)
                return "a prefix without a stack";
            for (const auto& b : *entry.second) {
                ++bindings;
                if (m.iNamespaces.count(b.iUri) == 0)
                    return "a binding to a URI without an entry";
                if (b.iScopeLevel >= 0)
                    ++perLevel[b.iScopeLevel];
            }
        }
        if (refs != bindings)
            return "PrefixRefs and bindings differ in number";
        for (std::size_t k = 0; k < m.iLevelNamespaces.size(); ++k) {
            const auto& list = *m.iLevelNamespaces[k];
            for (const auto& uri : list)
                if (m.iNamespaces.count(uri) == 0)
                    return "a level list names a URI without an entry";
            if (list.size() != perLevel[static_cast<std::int64_t>(k)])
                return "level list " + std::to_string(k) + " differs from the bindings made at its level";
            if (m.iLevel >= 0 && static_cast<std::int64_t>(k) > m.iLevel && !list.empty())
                return "a level list above the current level is not empty";
        }
        if (m.iLevel >= 0 && m.iLevelNamespaces.size() < static_cast<std::uint64_t>(m.iLevel) + 1)
            return "fewer level lists than open levels";
        if (m.iLevel + 1 > 0 && m.iLevelLookupCache.size() < static_cast<std::uint64_t>(m.iLevel + 1))
            return "fewer cache elements than open levels";
        return std::string();
    }
};

/// Defines or removes the default-namespace switch in this process's
/// environment; a manager looks only at whether it is defined. Windows keeps
/// no variable with an empty value, so there the value is "1".
inline void setDefaultNamespaceSwitch(bool on) {
    static const char* const NAME = "VOSK_USE_EMPTY_PREFIX_FOR_DEFAULT_NS";
#if defined(_WIN32)
    _putenv_s(NAME, on ? "1" : "");
#else
    if (on)
        setenv(NAME, "", 1);
    else
        unsetenv(NAME);
#endif
}

#endif
