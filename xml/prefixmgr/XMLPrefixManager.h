// SPDX-License-Identifier: Apache-2.0
// XMLPrefixManager.h - namespace prefixes for a streaming XML writer.
#ifndef ZAQPREFIXMGR_XML_PREFIX_MANAGER_H
#define ZAQPREFIXMGR_XML_PREFIX_MANAGER_H

#include "ZaqPrefixMgrExport.h"

#include "OrvLogSource.h"
#include "OrvWstring.h"

#include <cstdint>
#include <map>
#include <string_view>
#include <memory>
#include <vector>

/// Chooses the prefix to write for each namespace URI while a document is
/// written element by element. The caller opens a level per element
/// (`addLevel`), asks for prefixes while it is current (`getNamespacePrefix`),
/// and closes it at the element's end (`removeLevel`); closing withdraws
/// exactly the bindings made at that level. Every root level binds `xml`
/// and `xmlns` to their reserved namespace names.
///
/// The manager only decides: writing the names, the `xmlns` declarations it
/// reports as new, and the escaping of values is the caller's job (see
/// `examples/write_document.cpp`).
///
/// **Ownership.** Owns all of its state; copies are deep and share nothing.
/// The owner given to the constructor is not owned: it only names the
/// manager in trace records, may be null (the records then name no source)
/// and must outlive the manager, or be replaced with `setOwner`.
///
/// **Threads.** One thread at a time per manager; separate managers may be
/// used on separate threads at once.
///
/// **Failures.** If an allocation fails, std::bad_alloc reaches the caller,
/// no binding is left half made, and the manager stays destructible and
/// usable; `reset` itself never allocates and cannot fail. Unbalanced
/// `removeLevel` calls do no harm to memory; `reset` returns to a clean state.
///
/// **Surprises.**
/// - An empty URI is a URI like any other: `getNamespacePrefix` binds it a
///   preferred or generated prefix ("NS1") and answers false, which a writer
///   must not declare (`xmlns:NS1=""` is not allowed in XML 1.0). Names in no
///   namespace are written unprefixed without asking; under a default
///   namespace, bind the empty prefix to the empty URI with
///   `addNamespaceAndPrefix` and write `xmlns=""`.
/// - The constructor reads the environment variable
///   `VOSK_USE_EMPTY_PREFIX_FOR_DEFAULT_NS` once (presence only, any value):
///   when it is defined, a URI that is the default namespace in force is
///   always answered with the empty prefix where the default namespace is
///   allowed, even if a prefixed binding of it is newer. Copies and `reset`
///   keep the switch; changing the variable later affects new managers only.
/// - Generated prefixes count on for the manager's life ("NS1", "NS2", ...),
///   across levels, until `reset`.
/// - Asking with no level open (before the first `addLevel`, or after the
///   last `removeLevel`) is not an error: the new binding belongs to no
///   level, so no `removeLevel` withdraws it and it stays in force until
///   `reset`, and `xml` and `xmlns` are not bound yet. A writer opens the
///   element's level first.
class ZAQ_PREFIXMGR_EXPORT XMLPrefixManager : public OrvOwnedLogSource {
public:
    /// The namespace name bound to the prefix `xml` on every root level.
    static const char16_t XML_NAMESPACE_URI[];
    /// The namespace name bound to the prefix `xmlns` on every root level.
    static const char16_t XMLNS_NAMESPACE_URI[];

    /// How lookups offer the default namespace (see Surprises above).
    enum class DefaultNamespace {
        FromEnvironment, ///< as `VOSK_USE_EMPTY_PREFIX_FOR_DEFAULT_NS` says when the manager is made
        Prefixed,        ///< as without the variable: the newest binding in force answers
        Unprefixed       ///< as with it: the default namespace in force answers with the empty prefix
    };

    /// An empty manager with no level open. `owner` (may be null, not owned)
    /// names it in trace records. Reads `VOSK_USE_EMPTY_PREFIX_FOR_DEFAULT_NS`.
    explicit XMLPrefixManager(const OrvNamedLogSource* owner);
    /// The same with the default-namespace policy chosen by the caller; the
    /// environment is read only for `DefaultNamespace::FromEnvironment`.
    XMLPrefixManager(const OrvNamedLogSource* owner, DefaultNamespace defaultNamespace);
    /// A deep copy: same owner, switch, bindings, levels and prefix counter.
    XMLPrefixManager(const XMLPrefixManager& other);
    /// Makes this manager a deep copy of `other`; on std::bad_alloc this
    /// manager is unchanged.
    XMLPrefixManager& operator=(const XMLPrefixManager& other);
    ~XMLPrefixManager() override;

    /// Returns to the state right after construction, keeping the owner and
    /// the default-namespace switch; open levels are discarded at once.
    void reset();
    /// Registers `prefix` as the preferred prefix of `uri`; empty means none.
    /// Binds nothing: the prefix is used when the URI next needs a new binding.
    void addNamespace(const OrvWstring& uri, const OrvWstring& prefix);
    /// Binds `prefix` (empty: the default namespace) to `uri` at the current
    /// level, as a declaration the caller writes itself would.
    void addNamespaceAndPrefix(const OrvWstring& uri, const OrvWstring& prefix);
    /// Puts in `prefix` the prefix to use for `uri` at the current level.
    /// True: a binding already in force answered. False: a new, non-empty
    /// prefix has just been bound at this level and is not yet declared.
    /// With `allowDefaultNamespace` false the empty prefix never answers
    /// (attribute names: an unprefixed attribute is in no namespace).
    bool getNamespacePrefix(const OrvWstring& uri, OrvWstring& prefix, bool allowDefaultNamespace);
    /// The same for a URI given as a view, such as the `XMLCh` text a parser
    /// hands over: when a binding in force answers, nothing is allocated,
    /// whatever the URI's length (an OrvWstring copies a URI of more than 16
    /// code units to the heap); only a new binding copies the URI, once.
    bool getNamespacePrefix(std::u16string_view uri, OrvWstring& prefix, bool allowDefaultNamespace);
    /// The same for a zero-terminated URI (a string literal, say).
    bool getNamespacePrefix(const char16_t* uri, OrvWstring& prefix, bool allowDefaultNamespace) {
        return getNamespacePrefix(std::u16string_view(uri), prefix, allowDefaultNamespace);
    }
    /// Puts in `prefix` the prefix a binding in force answers for `uri`, as
    /// `getNamespacePrefix` would find it, but binds nothing: false, leaving
    /// `prefix` alone, when no binding of `uri` is in force. Changes nothing.
    bool findNamespacePrefix(std::u16string_view uri, OrvWstring& prefix, bool allowDefaultNamespace) const;
    /// Whether the default namespace is bound to a non-empty URI.
    bool isDefaultSpace() const;
    /// Puts in `uri` the namespace that `prefix` (empty: the default
    /// namespace) is bound to at the current level. False, leaving `uri`
    /// alone, when no binding of `prefix` is in force. Changes nothing.
    bool getNamespaceUri(const OrvWstring& prefix, OrvWstring& uri) const;
    /// Opens a level: the element about to be written. A root level (none
    /// open) binds `xml` and `xmlns`.
    void addLevel();
    /// Closes the current level, withdrawing exactly the bindings made on it.
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

    // The body of both getNamespacePrefix overloads, which trace around it.
    template <class Uri> bool findOrBindPrefix(const Uri& uri, OrvWstring& prefix, bool allowDefaultNamespace);
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
