// SPDX-License-Identifier: Apache-2.0
// XMLPrefixManager.cpp - binding, lookup and scoping of namespace prefixes.
#include "XMLPrefixManager.h"

#include "OrvLog.h"

#include <cassert>
#include <cstdlib>

const char16_t XMLPrefixManager::XML_NAMESPACE_URI[] = u"http://www.w3.org/XML/1998/namespace";
const char16_t XMLPrefixManager::XMLNS_NAMESPACE_URI[] = u"http://www.w3.org/2000/xmlns/";

namespace {

const char* const CTOR = "XMLPrefixManager::XMLPrefixManager";
const char* const DTOR = "XMLPrefixManager::~XMLPrefixManager";
const char* const RESET = "XMLPrefixManager::reset";
const char* const ADD_NAMESPACE = "XMLPrefixManager::addNamespace";
const char* const ADD_NAMESPACE_AND_PREFIX = "XMLPrefixManager::addNamespaceAndPrefix";
const char* const CREATE_NEW_PREFIX = "XMLPrefixManager::createNewPrefix";
const char* const GENERATE_PREFIX = "XMLPrefixManager::generatePrefix";
const char* const NUM_TO_STR = "XMLPrefixManager::numToStr";
const char* const GET_NAMESPACE_PREFIX = "XMLPrefixManager::getNamespacePrefix";
const char* const IS_DEFAULT_SPACE = "XMLPrefixManager::isDefaultSpace";
const char* const GET_NAMESPACE_URI = "XMLPrefixManager::getNamespaceUri";
const char* const FIND_NAMESPACE_PREFIX = "XMLPrefixManager::findNamespacePrefix";
const char* const ADD_LEVEL = "XMLPrefixManager::addLevel";
const char* const REMOVE_LEVEL = "XMLPrefixManager::removeLevel";

// The reserved names are longer than a string holds inline; built once, they
// are shared by every copy the managers make, so no copy allocates.
const OrvWstring& xmlUri() {
    static const OrvWstring uri(XMLPrefixManager::XML_NAMESPACE_URI);
    return uri;
}

const OrvWstring& xmlnsUri() {
    static const OrvWstring uri(XMLPrefixManager::XMLNS_NAMESPACE_URI);
    return uri;
}

// Level arithmetic wraps like the 64-bit registers it was written for, rather
// than overflowing into undefined behaviour.
std::int64_t wrappingAdd(std::int64_t value, std::int64_t delta) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(value) + static_cast<std::uint64_t>(delta));
}

// Room for the bindings an element usually makes, so that a sequence grows
// at most rarely once its depth or prefix has been seen.
constexpr std::size_t FIRST_CAPACITY = 8;

// A prefix's stack starts with room for one binding: most prefixes are
// bound once at a time, and a document of many distinct prefixes keeps a
// stack for each until reset.
constexpr std::size_t FIRST_STACK_CAPACITY = 1;

// A level's list gets room only with its first binding, for two (the root
// level's reserved pair, or an element's few): most levels of a deep
// document bind nothing, and an open level then costs a small record.
constexpr std::size_t FIRST_LEVEL_CAPACITY = 2;

// Makes room for one more element, growing geometrically, so that the
// push_back that follows cannot throw.
template <typename Sequence> void reserveOne(Sequence& sequence, std::size_t first = FIRST_CAPACITY) {
    if (sequence.size() == sequence.capacity())
        sequence.reserve(sequence.capacity() ? 2 * sequence.capacity() : first);
}

} // namespace

#if defined(__GNUC__)
#define ZAQ_UNLIKELY(condition) __builtin_expect(!!(condition), 0)
#else
#define ZAQ_UNLIKELY(condition) (condition)
#endif

void XMLPrefixManager::traceEntry(const char* function) const noexcept {
    if (ZAQ_UNLIKELY(OrvLog::filter() > 3))
        OrvLog::writeDebugEntry(this, function);
}

void XMLPrefixManager::traceExit(const char* function) const noexcept {
    if (ZAQ_UNLIKELY(OrvLog::filter() > 3))
        OrvLog::writeDebugExit(this, function);
}

XMLPrefixManager::XMLPrefixManager(const OrvNamedLogSource* owner)
    : XMLPrefixManager(owner, DefaultNamespace::FromEnvironment) {}

XMLPrefixManager::XMLPrefixManager(const OrvNamedLogSource* owner, DefaultNamespace defaultNamespace)
    : OrvOwnedLogSource(owner), iPrefixCounter(0), iLevel(-1), iUseEmptyPrefixForDefaultNs(false) {
    traceEntry(CTOR);
    iDefaultPrefix = iPrefixes.emplace(OrvWstring(), std::make_unique<BindingStack>()).first;
    initialNamespaces();
    // Presence alone counts, an empty value included; read once per manager.
    if (defaultNamespace == DefaultNamespace::FromEnvironment)
        iUseEmptyPrefixForDefaultNs = std::getenv("VOSK_USE_EMPTY_PREFIX_FOR_DEFAULT_NS") != nullptr;
    else
        iUseEmptyPrefixForDefaultNs = defaultNamespace == DefaultNamespace::Unprefixed;
    traceExit(CTOR);
}

XMLPrefixManager::XMLPrefixManager(const XMLPrefixManager& other)
    : OrvOwnedLogSource(other), iPrefixCounter(other.iPrefixCounter), iLevel(other.iLevel),
      iUseEmptyPrefixForDefaultNs(other.iUseEmptyPrefixForDefaultNs) {
    copyState(other, iLevelNamespaces, iNamespaces, iPrefixes, iLevelLookupCache);
    iDefaultPrefix = iPrefixes.find(OrvWstring());
}

XMLPrefixManager& XMLPrefixManager::operator=(const XMLPrefixManager& other) {
    if (this == &other)
        return *this;
    // Build the whole copy aside, then take it over with operations that
    // cannot fail: a failed assignment leaves this manager as it was.
    std::vector<std::unique_ptr<LevelList>> levels;
    NamespaceMap namespaces;
    PrefixMap prefixes;
    std::vector<NamespaceMap::iterator> cache;
    copyState(other, levels, namespaces, prefixes, cache);
    std::vector<char> cacheAtEnd(cache.size());
    for (std::size_t i = 0; i < cache.size(); ++i)
        cacheAtEnd[i] = static_cast<char>(cache[i] == namespaces.end());

    OrvOwnedLogSource::operator=(other);
    iLevelNamespaces.swap(levels);
    iNamespaces.swap(namespaces);
    iPrefixes.swap(prefixes);
    iLevelLookupCache.swap(cache);
    // A map's end position need not follow its elements through a swap.
    for (std::size_t i = 0; i < cacheAtEnd.size(); ++i)
        if (cacheAtEnd[i])
            iLevelLookupCache[i] = iNamespaces.end();
    iDefaultPrefix = iPrefixes.find(OrvWstring());
    iPrefixCounter = other.iPrefixCounter;
    iLevel = other.iLevel;
    iUseEmptyPrefixForDefaultNs = other.iUseEmptyPrefixForDefaultNs;
    return *this;
}

void XMLPrefixManager::copyState(const XMLPrefixManager& from, std::vector<std::unique_ptr<LevelList>>& levels,
                                 NamespaceMap& namespaces, PrefixMap& prefixes,
                                 std::vector<NamespaceMap::iterator>& cache) {
    for (const auto& entry : from.iPrefixes)
        prefixes.emplace_hint(prefixes.end(), entry.first, std::make_unique<BindingStack>(*entry.second));
    namespaces = from.iNamespaces;
    // Every PrefixRef designates the stack of the prefix it names.
    for (auto& entry : namespaces)
        for (PrefixRef& ref : entry.second.iPrefixRefs) {
            auto stack = prefixes.find(ref.iPrefix);
            assert(stack != prefixes.end() && "a PrefixRef names a prefix without an entry");
            ref.iBindings = stack->second.get();
        }
    levels.reserve(from.iLevelNamespaces.size());
    for (const auto& list : from.iLevelNamespaces)
        levels.push_back(std::make_unique<LevelList>(*list));
    cache.reserve(from.iLevelLookupCache.size());
    for (NamespaceMap::iterator hint : from.iLevelLookupCache)
        cache.push_back(hint == from.iNamespaces.end() ? namespaces.end() : namespaces.find(hint->first));
}

XMLPrefixManager::~XMLPrefixManager() {
    traceEntry(DTOR);
    for (auto& entry : iPrefixes)
        entry.second.reset();
    while (!iLevelNamespaces.empty())
        iLevelNamespaces.pop_back();
    traceExit(DTOR);
}

void XMLPrefixManager::initialNamespaces() {
    addNamespace(xmlUri(), OrvWstring(u"xml"));
    addNamespace(xmlnsUri(), OrvWstring(u"xmlns"));
}

void XMLPrefixManager::reset() {
    traceEntry(RESET);
    // The entry of the empty prefix and those of the two reserved namespace
    // names are emptied in place rather than removed and inserted again: the
    // result is the same state, and reset needs no memory, so it cannot fail.
    for (auto it = iPrefixes.begin(); it != iPrefixes.end();)
        it = it == iDefaultPrefix ? std::next(it) : iPrefixes.erase(it);
    BindingStack().swap(*iDefaultPrefix->second);
    while (!iLevelNamespaces.empty())
        iLevelNamespaces.pop_back();
    for (auto it = iNamespaces.begin(); it != iNamespaces.end();) {
        if (it->first.equals(xmlUri()) || it->first.equals(xmlnsUri())) {
            std::vector<PrefixRef>().swap(it->second.iPrefixRefs);
            ++it;
        } else {
            it = iNamespaces.erase(it);
        }
    }
    std::vector<NamespaceMap::iterator>().swap(iLevelLookupCache);
    iPrefixCounter = 0;
    iLevel = -1;
    initialNamespaces();
    traceExit(RESET);
}

void XMLPrefixManager::addNamespace(const OrvWstring& uri, const OrvWstring& prefix) {
    traceEntry(ADD_NAMESPACE);
    auto entry = iNamespaces.lower_bound(uri);
    if (entry != iNamespaces.end() && entry->first.equals(uri))
        entry->second.iPreferredPrefix = prefix;
    else
        iNamespaces.emplace_hint(entry, uri, Namespace{prefix, {}});
    traceExit(ADD_NAMESPACE);
}

XMLPrefixManager::PrefixMap::iterator XMLPrefixManager::findOrInsertPrefix(const OrvWstring& prefix) {
    auto entry = iPrefixes.lower_bound(prefix);
    if (entry == iPrefixes.end() || !entry->first.equals(prefix))
        entry = iPrefixes.emplace_hint(entry, prefix, std::make_unique<BindingStack>());
    return entry;
}

void XMLPrefixManager::recordBinding(NamespaceMap::iterator uriEntry, PrefixMap::iterator prefixEntry) {
    std::vector<PrefixRef>& refs = uriEntry->second.iPrefixRefs;
    BindingStack& stack = *prefixEntry->second;
    LevelList* list = nullptr;
    if (iLevel >= 0 && static_cast<std::uint64_t>(iLevel) < iLevelNamespaces.size())
        list = iLevelNamespaces[static_cast<std::size_t>(iLevel)].get();
    // All the memory first: the three records of a binding are made together
    // or not at all, and string copies never allocate.
    reserveOne(refs);
    reserveOne(stack, FIRST_STACK_CAPACITY);
    if (list)
        reserveOne(*list, FIRST_LEVEL_CAPACITY);
    refs.push_back(PrefixRef{prefixEntry->first, &stack});
    stack.push_back(PrefixBinding{uriEntry->first, iLevel});
    if (list)
        list->push_back(uriEntry->first);
}

void XMLPrefixManager::addNamespaceAndPrefix(const OrvWstring& uri, const OrvWstring& prefix) {
    traceEntry(ADD_NAMESPACE_AND_PREFIX);
    auto uriEntry = iNamespaces.lower_bound(uri);
    if (uriEntry == iNamespaces.end() || !uriEntry->first.equals(uri))
        uriEntry = iNamespaces.emplace_hint(uriEntry, uri, Namespace());
    recordBinding(uriEntry, findOrInsertPrefix(prefix));
    traceExit(ADD_NAMESPACE_AND_PREFIX);
}

void XMLPrefixManager::createNewPrefix(NamespaceMap::iterator& entry, const OrvWstring& uri, OrvWstring& prefix) {
    traceEntry(CREATE_NEW_PREFIX);
    assert(entry != iNamespaces.end() && entry->first.equals(uri) && "createNewPrefix needs the URI's entry");
    (void)uri;
    if (entry->second.iPreferredPrefix.length() > 0)
        prefix = entry->second.iPreferredPrefix;
    else
        prefix = generatePrefix();
    // A candidate already bound at this very level (to any URI) would clash
    // with a declaration on the same element; enclosing levels may be shadowed.
    for (;;) {
        auto found = iPrefixes.find(prefix);
        if (found == iPrefixes.end() || found->second->empty() || found->second->back().iScopeLevel != iLevel)
            break;
        prefix = generatePrefix();
    }
    recordBinding(entry, findOrInsertPrefix(prefix));
    traceExit(CREATE_NEW_PREFIX);
}

OrvWstring XMLPrefixManager::generatePrefix() {
    traceEntry(GENERATE_PREFIX);
    OrvWstring prefix;
    prefix.assign(u"NS");
    iPrefixCounter = wrappingAdd(iPrefixCounter, 1);
    OrvWstring digits;
    numToStr(iPrefixCounter, digits);
    prefix.append(digits);
    traceExit(GENERATE_PREFIX);
    return prefix;
}

void XMLPrefixManager::numToStr(std::int64_t number, OrvWstring& digits) {
    traceEntry(NUM_TO_STR);
    if (number >= 0) {
        do {
            digits.insert(0, 1, static_cast<unsigned short>(u'0' + number % 10));
            number /= 10;
        } while (number != 0);
    }
    traceExit(NUM_TO_STR);
}

bool XMLPrefixManager::lookupCacheUsable() const noexcept {
    return iLevel >= 1 && static_cast<std::uint64_t>(iLevel) + 1 == iLevelLookupCache.size();
}

namespace {

// Equality and the map key, for a URI held or viewed.
bool same(const OrvWstring& a, const OrvWstring& b) noexcept { return a.equals(b); }
bool same(const OrvWstring& a, std::u16string_view b) noexcept { return a.view() == b; }
const OrvWstring& key(const OrvWstring& uri) noexcept { return uri; }
OrvWstring key(std::u16string_view uri) { return OrvWstring(uri); }

} // namespace

bool XMLPrefixManager::getNamespacePrefix(const OrvWstring& uri, OrvWstring& prefix, bool allowDefaultNamespace) {
    traceEntry(GET_NAMESPACE_PREFIX);
    const bool found = findOrBindPrefix(uri, prefix, allowDefaultNamespace);
    traceExit(GET_NAMESPACE_PREFIX);
    return found;
}

bool XMLPrefixManager::getNamespacePrefix(std::u16string_view uri, OrvWstring& prefix, bool allowDefaultNamespace) {
    traceEntry(GET_NAMESPACE_PREFIX);
    const bool found = findOrBindPrefix(uri, prefix, allowDefaultNamespace);
    traceExit(GET_NAMESPACE_PREFIX);
    return found;
}

template <class Uri>
bool XMLPrefixManager::findOrBindPrefix(const Uri& uri, OrvWstring& prefix, bool allowDefaultNamespace) {
    if (allowDefaultNamespace && iUseEmptyPrefixForDefaultNs) {
        const BindingStack& defaults = *iDefaultPrefix->second;
        if (!defaults.empty() && same(defaults.back().iUri, uri)) {
            prefix = OrvWstring();
            return true;
        }
    }

    const bool cacheUsable = lookupCacheUsable();
    NamespaceMap::iterator* hint = cacheUsable ? &iLevelLookupCache[static_cast<std::size_t>(iLevel - 1)] : nullptr;
    NamespaceMap::iterator entry;
    if (hint && *hint != iNamespaces.end() && same((*hint)->first, uri)) {
        entry = *hint;
    } else {
        entry = iNamespaces.lower_bound(uri);
        const bool known = entry != iNamespaces.end() && same(entry->first, uri);
        if (!known)
            entry = iNamespaces.emplace_hint(entry, key(uri), Namespace());
        if (hint)
            *hint = entry;
        if (!known) {
            createNewPrefix(entry, entry->first, prefix);
            return false;
        }
    }

    const std::vector<PrefixRef>& refs = entry->second.iPrefixRefs;
    const bool emptyPrefixScans = allowDefaultNamespace && !iUseEmptyPrefixForDefaultNs;
    for (auto ref = refs.rbegin(); ref != refs.rend(); ++ref) {
        if (ref->iPrefix.isEmpty() && !emptyPrefixScans)
            continue;
        const BindingStack& stack = *ref->iBindings;
        if (!stack.empty() && same(stack.back().iUri, uri)) {
            prefix = ref->iPrefix;
            return true;
        }
    }
    createNewPrefix(entry, entry->first, prefix);
    return false;
}

bool XMLPrefixManager::findNamespacePrefix(std::u16string_view uri, OrvWstring& prefix,
                                           bool allowDefaultNamespace) const {
    traceEntry(FIND_NAMESPACE_PREFIX);
    bool found = false;
    const BindingStack& defaults = *iDefaultPrefix->second;
    if (allowDefaultNamespace && iUseEmptyPrefixForDefaultNs && !defaults.empty() && same(defaults.back().iUri, uri)) {
        prefix = OrvWstring();
        found = true;
    } else {
        const auto entry = iNamespaces.find(uri);
        const bool emptyPrefixScans = allowDefaultNamespace && !iUseEmptyPrefixForDefaultNs;
        if (entry != iNamespaces.end()) {
            const std::vector<PrefixRef>& refs = entry->second.iPrefixRefs;
            for (auto ref = refs.rbegin(); ref != refs.rend() && !found; ++ref) {
                const BindingStack& stack = *ref->iBindings;
                if ((!ref->iPrefix.isEmpty() || emptyPrefixScans) && !stack.empty() && same(stack.back().iUri, uri)) {
                    prefix = ref->iPrefix;
                    found = true;
                }
            }
        }
    }
    traceExit(FIND_NAMESPACE_PREFIX);
    return found;
}

bool XMLPrefixManager::isDefaultSpace() const {
    traceEntry(IS_DEFAULT_SPACE);
    const BindingStack& defaults = *iDefaultPrefix->second;
    const bool result = !defaults.empty() && defaults.back().iUri.length() > 0;
    traceExit(IS_DEFAULT_SPACE);
    return result;
}

bool XMLPrefixManager::getNamespaceUri(const OrvWstring& prefix, OrvWstring& uri) const {
    traceEntry(GET_NAMESPACE_URI);
    const auto entry = iPrefixes.find(prefix);
    const bool bound = entry != iPrefixes.end() && !entry->second->empty();
    if (bound)
        uri = entry->second->back().iUri;
    traceExit(GET_NAMESPACE_URI);
    return bound;
}

void XMLPrefixManager::addLevel() {
    traceEntry(ADD_LEVEL);
    const std::int64_t level = wrappingAdd(iLevel, 1);
    // Memory first, so that a failure leaves the level unopened.
    std::unique_ptr<LevelList> list;
    if (level >= 0 && static_cast<std::uint64_t>(level) >= iLevelNamespaces.size()) {
        assert(static_cast<std::uint64_t>(level) == iLevelNamespaces.size() && "levels open one at a time");
        list = std::make_unique<LevelList>();
        if (level == 0)
            list->reserve(FIRST_LEVEL_CAPACITY); // for xml and xmlns, below
        reserveOne(iLevelNamespaces);
    }
    reserveOne(iLevelLookupCache);
    if (list)
        iLevelNamespaces.push_back(std::move(list));
    iLevel = level;
    if (iLevel <= 0) {
        iLevelLookupCache.push_back(iNamespaces.end());
        OrvWstring xmlPrefix;
        OrvWstring xmlnsPrefix;
        getNamespacePrefix(xmlUri(), xmlPrefix, true);
        getNamespacePrefix(xmlnsUri(), xmlnsPrefix, true);
    } else {
        assert(!iLevelLookupCache.empty() && "an inner level has an enclosing cache element");
        iLevelLookupCache.push_back(iLevelLookupCache.back());
    }
    traceExit(ADD_LEVEL);
}

void XMLPrefixManager::removeLevel() {
    traceEntry(REMOVE_LEVEL);
    if (iLevel >= 0 && static_cast<std::uint64_t>(iLevel) < iLevelNamespaces.size()) {
        LevelList& list = *iLevelNamespaces[static_cast<std::size_t>(iLevel)];
        while (!list.empty()) {
            auto entry = iNamespaces.find(list.back());
            assert(entry != iNamespaces.end() && "every URI in a level list has an entry");
            std::vector<PrefixRef>& refs = entry->second.iPrefixRefs;
            if (!refs.empty()) {
                BindingStack& stack = *refs.back().iBindings;
                if (!stack.empty())
                    stack.pop_back();
                refs.pop_back();
            }
            list.pop_back();
        }
    }
    if (!iLevelLookupCache.empty())
        iLevelLookupCache.pop_back();
    iLevel = wrappingAdd(iLevel, -1);
    traceExit(REMOVE_LEVEL);
}

// Does nothing at run time; records the object size for the exported
// layout check. Inline with vague linkage and marked used, so that the
// operation and its constant are both emitted and exported.
#if defined(__GNUC__)
#define ZAQ_KEEP __attribute__((used, visibility("default"))) inline
#else
#define ZAQ_KEEP
#endif

ZAQ_KEEP void XMLPrefixManager::CompileTimeSizeofCheck() {
#if defined(__GNUC__)
    __attribute__((used))
#endif
    static const std::size_t size_of_this = sizeof(XMLPrefixManager);
    (void)size_of_this;
}

#if defined(_WIN32) && defined(__GNUC__)
// A DLL exports inline members and their static locals only when told to:
// the linker directives GCC writes for dllexport, written out by hand.
#define ZAQ_EXPORT_DIRECTIVE(symbol, kind) ".ascii \" -export:\\\"" symbol "\\\"" kind "\"\n\t"
// clang-format off
__asm__(".section .drectve\n\t"
        ZAQ_EXPORT_DIRECTIVE("_ZN16XMLPrefixManager22CompileTimeSizeofCheckEv", "")
        ZAQ_EXPORT_DIRECTIVE("_ZZN16XMLPrefixManager22CompileTimeSizeofCheckEvE12size_of_this", ",data")
        ".text");
// clang-format on
#endif
