// SPDX-License-Identifier: Apache-2.0
// XMLPrefixManager.h - namespace prefixes for a streaming XML writer.
#ifndef ZAQPREFIXMGR_XML_PREFIX_MANAGER_H
#define ZAQPREFIXMGR_XML_PREFIX_MANAGER_H

#include "ZaqPrefixMgrExport.h"

#include "OrvLogSource.h"
#include "OrvWstring.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

/// Chooses the prefix to write for each namespace URI while a document is
/// written element by element. The caller opens a level per element
/// (`addLevel`), asks for prefixes while it is current (`getNamespacePrefix`),
/// and closes it at the element's end (`removeLevel`); closing withdraws
/// exactly the bindings made at that level. Every root level binds `xml`
/// and `xmlns` to their reserved namespace names.
///
/// Owns all of its state; copies are deep and share nothing. One thread at
/// a time. If an allocation fails, std::bad_alloc reaches the caller, no
/// binding is left half made, and the manager stays destructible and
/// usable; `reset` itself never allocates and cannot fail.
class ZAQ_PREFIXMGR_EXPORT XMLPrefixManager : public OrvOwnedLogSource {
public:
    /// The namespace names reserved for the prefixes `xml` and `xmlns`.
    static const char16_t XML_NAMESPACE_URI[];
    static const char16_t XMLNS_NAMESPACE_URI[];

    explicit XMLPrefixManager(const OrvNamedLogSource* owner);
    XMLPrefixManager(const XMLPrefixManager& other);
    XMLPrefixManager& operator=(const XMLPrefixManager& other);
    ~XMLPrefixManager() override;

    /// Returns to the state right after construction, keeping the owner and
    /// the default-namespace switch; open levels are discarded at once.
    void reset();
    /// Registers `prefix` as the preferred prefix of `uri`; empty means none.
    void addNamespace(const OrvWstring& uri, const OrvWstring& prefix);
    /// Binds `prefix` (empty: the default namespace) to `uri` at the current level.
    void addNamespaceAndPrefix(const OrvWstring& uri, const OrvWstring& prefix);
    /// Puts in `prefix` the prefix to use for `uri` at the current level.
    /// True: a binding already in force answered. False: a new, non-empty
    /// prefix has just been bound at this level and is not yet declared.
    /// With `allowDefaultNamespace` false the empty prefix never answers.
    bool getNamespacePrefix(const OrvWstring& uri, OrvWstring& prefix, bool allowDefaultNamespace);
    /// Whether the default namespace is bound to a non-empty URI.
    bool isDefaultSpace() const;
    void addLevel();
    void removeLevel();

private:
    friend struct XMLPrefixManagerTestAccess; // tests inspect the private state

    struct PrefixBinding {
        OrvWstring iUri;
        std::int64_t iScopeLevel;
    };
    using BindingStack = std::vector<PrefixBinding>;

    struct PrefixRef {
        OrvWstring iPrefix;
        BindingStack* iBindings; // owned by the prefix's entry in iPrefixes
    };

    struct Namespace {
        OrvWstring iPreferredPrefix;
        std::vector<PrefixRef> iPrefixRefs;
    };

    using LevelList = std::vector<OrvWstring>;
    using NamespaceMap = std::map<OrvWstring, Namespace, OrvWstring::Less>;
    using PrefixMap = std::map<OrvWstring, std::unique_ptr<BindingStack>, OrvWstring::Less>;

    void createNewPrefix(NamespaceMap::iterator& entry, const OrvWstring& uri, OrvWstring& prefix);
    OrvWstring generatePrefix();
    void numToStr(std::int64_t number, OrvWstring& digits);
    void recordBinding(NamespaceMap::iterator uriEntry, PrefixMap::iterator prefixEntry);
    PrefixMap::iterator findOrInsertPrefix(const OrvWstring& prefix);
    bool lookupCacheUsable() const noexcept;
    void initialNamespaces();
    static void copyState(const XMLPrefixManager& from, std::vector<std::unique_ptr<LevelList>>& levels,
                          NamespaceMap& namespaces, PrefixMap& prefixes, std::vector<NamespaceMap::iterator>& cache);
    void traceEntry(const char* function) const noexcept;
    void traceExit(const char* function) const noexcept;
    static void CompileTimeSizeofCheck();

    std::vector<std::unique_ptr<LevelList>> iLevelNamespaces;
    NamespaceMap iNamespaces;
    PrefixMap iPrefixes;
    PrefixMap::iterator iDefaultPrefix;
    std::vector<NamespaceMap::iterator> iLevelLookupCache;
    std::int64_t iPrefixCounter;
    std::int64_t iLevel;
    bool iUseEmptyPrefixForDefaultNs;
};

#endif
