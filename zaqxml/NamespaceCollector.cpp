// SPDX-License-Identifier: Apache-2.0
// NamespaceCollector.cpp - the declarations of a whole document, per prefix.
#include "NamespaceCollector.h"

NamespaceCollector::NamespaceCollector(const Limits& limits, Diagnostics& diagnostics, std::size_t maxPrefixes)
    : iLimits(limits), iDiagnostics(diagnostics), iMaxPrefixes(maxPrefixes) {}

void NamespaceCollector::startElement(const StartTag& tag) {
    for (std::size_t i = 0; i < tag.attributeCount; ++i) {
        const EventAttribute& a = tag.attributes[i];
        const std::u16string_view value = a.value.view();
        count(value.size() + 4);
        if (a.kind != EventAttribute::Kind::PrefixDeclaration)
            continue;
        const std::u16string declared(a.name.local.view()), uri(value);
        if (declared == u"xml")
            continue;
        const auto found = iIndex.find(declared);
        if (found != iIndex.end()) {
            Entry& entry = iEntries[found->second];
            entry.rebound = entry.rebound || entry.binding.second != uri;
        } else if (iEntries.size() < iMaxPrefixes) {
            iIndex.emplace(declared, iEntries.size());
            iEntries.push_back(Entry{Binding(declared, uri)});
        }
    }
}

void NamespaceCollector::count(std::size_t units) {
    iReported += units;
    if (!iLimits.allowsOutput(iReported))
        throw iDiagnostics.failureHere(iLimits.expansionMessage());
}

std::vector<NamespaceCollector::Binding> NamespaceCollector::hoistable() const {
    std::vector<Binding> bindings;
    for (const Entry& entry : iEntries)
        if (!entry.rebound && !entry.binding.second.empty())
            bindings.push_back(entry.binding);
    return bindings;
}
