// SPDX-License-Identifier: Apache-2.0
// ParserMemory.h - the parser's memory manager as zaqxml uses it: counted
// for --stats, and no single request beyond the expansion bound.
#ifndef ZAQXML_PARSER_MEMORY_H
#define ZAQXML_PARSER_MEMORY_H

#include "Diagnostics.h"
#include "Limits.h"
#include "XmlCountingMemoryManager.h"

#include <cstdint>
#include <cstdio>

/// The library's counting manager, for --stats. While a document is parsed,
/// a request larger than its expansion bound fails with a DocumentError: an
/// attribute value that entity references blow up is built whole inside the
/// parser, before any output can be measured.
class ParserMemory : public XmlCountingMemoryManager {
public:
    explicit ParserMemory(unsigned int poolSize) : XmlCountingMemoryManager(poolSize) {}

    /// Bounds requests by `limits` (null: none) while a document is read;
    /// the error gives the parser's position from `diagnostics`.
    void bound(const Limits* limits, const Diagnostics* diagnostics) {
        iLimits = limits;
        iDiagnostics = diagnostics;
    }
    void* allocate(XMLSize_t size) override;
    /// While the DTD is read, what the parser allocates is added up and
    /// held to --max-dtd-memory: what a DTD declares stays for the whole
    /// document, and a small one can declare much (a content model of
    /// particles, attribute definitions, entities).
    void countDtd(bool counting) {
        iCountingDtd = counting;
        iDtdBytes = 0;
    }
    /// Prints the statistics of the document just parsed and starts anew.
    void report(std::FILE* out, const char* name);

private:
    const Limits* iLimits = nullptr;
    const Diagnostics* iDiagnostics = nullptr;
    bool iCountingDtd = false;
    std::uint64_t iDtdBytes = 0;
};

#endif
