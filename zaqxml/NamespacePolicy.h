// SPDX-License-Identifier: Apache-2.0
// NamespacePolicy.h - which prefixes zaqxml writes and which namespace
// declarations it puts on each element.
#ifndef ZAQXML_NAMESPACE_POLICY_H
#define ZAQXML_NAMESPACE_POLICY_H

#include "Diagnostics.h"
#include "OrvWstring.h"
#include "XMLPrefixManager.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <unordered_set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

/// Decides, element by element, the prefix of every name and the namespace
/// declarations to write, on top of a prefix manager that holds the bindings
/// in force in the output.
///
/// - Preserve (the default): every binding the input has in scope at an
///   element is in scope in the output, so prefixes inside attribute values
///   and text (XSLT patterns, xsi:type, WSDL message names) still resolve.
///   The input's declarations stay on their elements; only those that
///   re-declare a binding already in force are dropped.
/// - Prune: a namespace is declared only where a name needs it; the input's
///   prefixes are preferred prefixes, not bindings. Prefixes listed to keep
///   (and the default namespace, if listed) are treated as in Preserve.
/// - Generate (with either): names take their registered or generated
///   prefix; a generated prefix stays its namespace's for the document.
///
/// Borrows the manager; one document at a time, one thread.
class NamespacePolicy {
public:
    struct Settings {
        bool prune = false;
        bool generate = false;
        std::vector<OrvWstring> keep; ///< input prefixes kept in scope under prune
        bool keepDefault = false;     ///< the default namespace too
        bool emptyPrefixForDefault = false;
        std::vector<std::pair<OrvWstring, OrvWstring>> preferred; ///< prefix, URI
        /// Distinct namespace names a document may declare: the prefix
        /// manager keeps an entry for each until the document ends.
        std::size_t maxNamespaces = 10000;
    };

    /// A name of the current start tag. `uri` null: in no namespace.
    struct Name {
        const OrvWstring* uri;
        std::u16string_view inputPrefix; ///< as the input wrote it; empty: none
        bool element;
        OrvWstring prefix;     ///< the decision
        const char16_t* local; ///< the local part, zero-terminated, written after the prefix
        /// The decision is the input's own prefix, and `prefix` is not set.
        bool asInput = false;
    };

    /// Errors are thrown at the position `diagnostics` has.
    NamespacePolicy(XMLPrefixManager& manager, const Settings& settings, const Diagnostics& diagnostics);

    void startDocument();
    /// An input declaration for the next start tag (a SAX prefix mapping).
    /// Throws DocumentError where it misuses a reserved prefix or name.
    void declare(std::u16string_view prefix, std::u16string_view uri);
    /// Opens the element's level and decides its names' prefixes and the
    /// declarations to write.
    void startElement(std::vector<Name>& names);
    void endElement();
    /// Declarations of the element just started: prefix (empty: default), URI.
    const std::vector<std::pair<OrvWstring, OrvWstring>>& declarations() const { return iDeclarations; }

    /// Under prune: the prefixes of `p:name` tokens in `text` that the input
    /// had bound here (to a namespace) and the output no longer has, each
    /// reported once per document.
    void lostQNamePrefixes(std::u16string_view text, std::vector<std::string>& lost);

private:
    bool kept(const OrvWstring& prefix) const;
    OrvWstring inForce(const OrvWstring& prefix) const;
    void bindAsInput(const OrvWstring& prefix, const OrvWstring& uri);
    bool reusable(const OrvWstring& prefix, const OrvWstring& uri) const;
    void noteBound(const OrvWstring& prefix, const OrvWstring& uri);
    void resolve(Name& name);
    void resolveGenerated(Name& name);
    void repairShadowedNames(std::vector<Name>& names);

    XMLPrefixManager& iManager;
    Settings iSettings;
    const OrvWstring iXmlUri;
    const OrvWstring iXmlnsUri;
    const OrvWstring iXmlPrefix;
    std::vector<std::pair<OrvWstring, OrvWstring>> iPending;      // input declarations of the next start tag
    std::vector<std::pair<OrvWstring, OrvWstring>> iDeclarations; // to write on the current start tag
    // Generate: the prefix each namespace has for the document.
    std::map<OrvWstring, OrvWstring, OrvWstring::Less> iPreferred;
    std::int64_t iGenerated = 0;
    // Generate: the reusable prefixes bound to each namespace, innermost
    // last, and the namespaces given one on each open element.
    std::map<OrvWstring, std::vector<OrvWstring>, OrvWstring::Less> iBound;
    std::vector<std::vector<const OrvWstring*>> iBoundAt;
    // Prune: the input's own bindings in scope (prefix -> URIs, innermost
    // last) and the prefixes each open element declared, to report lost ones.
    std::map<OrvWstring, std::vector<OrvWstring>, OrvWstring::Less> iInputScope;
    std::vector<std::vector<OrvWstring>> iInputDeclared;
    std::map<OrvWstring, bool, OrvWstring::Less> iReported;
    std::unordered_set<std::uint64_t> iDeclaredUris; // hashes of the namespace names declared so far
    std::size_t iUriUnits = 0;                       // their count, long ones counting more
    const Diagnostics& iDiagnostics;
};

#endif
