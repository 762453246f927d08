// SPDX-License-Identifier: Apache-2.0
// ParserMemory.h - the parser's memory manager as zaqxml uses it: counted
// for --stats, and no single request beyond the expansion bound.
#ifndef ZAQXML_PARSER_MEMORY_H
#define ZAQXML_PARSER_MEMORY_H

#include "Diagnostics.h"
#include "Limits.h"
#include "ParserPosition.h"
#include "XmlCountingMemoryManager.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>

/// The library's counting manager, for --stats. While a document is parsed,
/// a request larger than its expansion bound fails with a DocumentError: an
/// attribute value that entity references blow up is built whole inside the
/// parser, before any output can be measured.
class ParserMemory : public zaq::XmlCountingMemoryManager {
public:
    /// `counting`: whether the requests are counted by kind for `report`
    /// (they are served the same way either way).
    explicit ParserMemory(unsigned int poolSize, bool counting = true)
        : zaq::XmlCountingMemoryManager(poolSize), iCounting(counting) {}

    /// Bounds requests by `limits` (null: none) while a document is read;
    /// the error is made by `diagnostics` at the position `where` gives
    /// (null: ParserEvents gives it, if it passes through an event).
    void bound(const Limits* limits, const Diagnostics* diagnostics, const ParserPosition* where = nullptr) {
        iLimits = limits;
        iDiagnostics = diagnostics;
        iWhere = where;
    }
    /// While a document is validated, the heap may grow by at most `bytes`
    /// (0: no bound): the values an ID table or an identity constraint
    /// keeps grow with the document. Measured every few thousand requests,
    /// where the C library can tell (glibc); elsewhere not bounded.
    void boundGrowth(std::uint64_t bytes);
    /// The most the heap was seen to have grown by under the bound (since
    /// it was set last).
    std::uint64_t growthPeak() const { return iGrowthPeak; }
    /// Whether the heap has grown past the bound; the failure's message.
    bool overGrown() const { return iOverGrown; }
    std::string growthMessage() const;
    void* allocate(XMLSize_t size) override;
    void deallocate(void* p) override;
    /// While the DTD is read, what the parser holds of what it allocated
    /// meanwhile is kept under --max-dtd-memory: what a DTD declares stays
    /// for the whole document, and a small one can declare much (a content
    /// model of particles, attribute definitions, entities). The readers of
    /// its parameter entities come and go, and are counted only while they
    /// last.
    void countDtd(bool counting) {
        iCountingDtd = counting;
        iDtdBytes = 0;
        iDtdBlocks.clear();
    }
    /// Prints the statistics of the document just parsed and starts anew.
    void report(std::FILE* out, const char* name);

private:
    DocumentError failure(const std::string& message) const;

    const Limits* iLimits = nullptr;
    const Diagnostics* iDiagnostics = nullptr;
    const ParserPosition* iWhere = nullptr;
    bool iCounting;
    bool iCountingDtd = false;
    bool iOverGrown = false;
    std::uint64_t iGrowthBound = 0;                          // 0: none
    std::uint64_t iHeapAtStart = 0;                          // in use when the bound was set
    unsigned iUntilMeasure = 0;                              // requests until the heap is measured again
    std::uint64_t iGrowthPeak = 0;                           // the most the heap was seen to grow by
    std::uint64_t iDtdBytes = 0;                             // held of what was allocated while counting
    std::unordered_map<const void*, std::size_t> iDtdBlocks; // those blocks, by address
};

#endif
