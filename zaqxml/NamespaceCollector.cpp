// SPDX-License-Identifier: Apache-2.0
// NamespaceCollector.cpp - the declarations of a whole document, per prefix.
#include "NamespaceCollector.h"

#include "ElementChecks.h"

#include <xercesc/util/XMLString.hpp>

NamespaceCollector::NamespaceCollector(const Limits& limits, Diagnostics& diagnostics, std::size_t maxPrefixes)
    : ParserEvents(diagnostics), iLimits(limits), iDiagnostics(diagnostics), iMaxPrefixes(maxPrefixes) {}

void NamespaceCollector::startElement(const xercesc::XMLElementDecl& element, unsigned int, const XMLCh* prefix,
                                      const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                                      XMLSize_t attributeCount, bool isEmpty, bool) {
    checkStartTag(iLimits, iNameCounts, iDiagnostics, ++iDepth, element, prefix, attributes, attributeCount);
    for (XMLSize_t i = 0; i < attributeCount; ++i) {
        const xercesc::XMLAttr& a = *attributes.elementAt(i);
        count(xercesc::XMLString::stringLen(a.getValue()) + 4);
        const XMLCh* attributePrefix = a.getPrefix();
        if (attributePrefix == nullptr || !isXmlns(attributePrefix))
            continue;
        const std::u16string declared(a.getName()), uri(a.getValue());
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
    if (isEmpty)
        --iDepth;
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
