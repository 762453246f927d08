// SPDX-License-Identifier: Apache-2.0
// NamespaceCollector.h - --hoist's first reading: which prefixes one
// namespace name holds throughout a document.
#ifndef ZAQXML_NAMESPACE_COLLECTOR_H
#define ZAQXML_NAMESPACE_COLLECTOR_H

#include "Diagnostics.h"
#include "DocumentEvents.h"
#include "Limits.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

/// Reads a document's namespace declarations and keeps, per prefix, the
/// namespace name it binds and whether any declaration rebinds it to
/// another. Memory is bounded by the number of distinct prefixes, at most
/// `maxPrefixes` (past that, later prefixes are not hoisted).
class NamespaceCollector : public DocumentEvents {
public:
    using Binding = std::pair<std::u16string, std::u16string>; ///< prefix, namespace name

    NamespaceCollector(const Limits& limits, Diagnostics& diagnostics, std::size_t maxPrefixes);
    /// The bindings to declare on the document element, in the order first
    /// declared: every prefix that names one namespace throughout. Never the
    /// default namespace, which would change the names of unprefixed
    /// elements outside its declarations.
    std::vector<Binding> hoistable() const;

    void startElement(const StartTag& tag) override;
    void text(std::u16string_view chars, bool, bool) override { count(chars.size()); }

private:
    /// What the second reading will write, held to the expansion bound
    /// here already: an entity bomb must not cost the first reading its
    /// whole expansion.
    void count(std::size_t units);

    struct Entry {
        Binding binding;
        bool rebound = false;
    };

    const Limits& iLimits;
    Diagnostics& iDiagnostics;
    std::size_t iMaxPrefixes;
    std::uint64_t iReported = 0; // code units the parser has reported
    std::vector<Entry> iEntries;
    std::unordered_map<std::u16string, std::size_t> iIndex; // prefix to entry
};

#endif
