// SPDX-License-Identifier: Apache-2.0
// bench_prefix.cpp - a serialisation workload on XMLPrefixManager beside
// Xalan-C's XalanNamespacesStack doing the same work, with heap counts.
#include "AllocationCounter.h"
#include "XMLPrefixManager.h"

#include <benchmark/benchmark.h>

#include <xalanc/DOMSupport/XalanNamespacesStack.hpp>
#include <xalanc/PlatformSupport/XalanMemoryManagerDefault.hpp>
#include <xalanc/XalanTransformer/XalanTransformer.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int NAMESPACES = 4;
constexpr int MAX_DEPTH = 12;
const char16_t* const URIS[NAMESPACES] = {
    u"http://schemas.xmlsoap.org/soap/envelope/", u"http://www.w3.org/2005/08/addressing", u"urn:example:orders:2026",
    u"http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd"};
const char16_t* const PREFIXES[NAMESPACES] = {u"soap", u"wsa", u"ord", u"wsse"};

/// One element of the workload: the namespaces of its name and two
/// attributes, and the namespace it re-declares at its own level (-1: none);
/// `depth` is how many levels to close after it.
struct Element {
    signed char name, attribute1, attribute2, redeclare;
    int closeAfter;
};

/// A document of `count` elements, depth 0 to 12, made by a seeded random
/// walk; elements at depths 4 and 8 re-declare a namespace.
std::vector<Element> makeDocument(int count) {
    std::mt19937 rng(2026);
    std::vector<Element> doc;
    int depth = 0;
    for (int i = 0; i < count; ++i) {
        Element e;
        e.name = static_cast<signed char>(rng() % NAMESPACES);
        e.attribute1 = static_cast<signed char>(rng() % NAMESPACES);
        e.attribute2 = static_cast<signed char>(rng() % NAMESPACES);
        e.redeclare = (depth == 4 || depth == 8) ? static_cast<signed char>(i % NAMESPACES) : -1;
        // Go deeper with a chance that falls with depth, else close some.
        int close = 0;
        if (depth == MAX_DEPTH || (depth > 0 && std::uniform_real_distribution<>(0, 1)(rng) > 0.9 - 0.07 * depth)) {
            close = 1 + static_cast<int>(rng() % 2);
            if (close > depth)
                close = depth;
        } else {
            close = 0;
        }
        if (i == count - 1)
            close = depth + 1;
        e.closeAfter = close;
        depth = depth + 1 - close;
        if (depth < 0)
            depth = 0;
        doc.push_back(e);
    }
    return doc;
}

// Our manager: one level per element, three lookups, re-declarations bound.
struct OursRunner {
    XMLPrefixManager manager{nullptr};
    std::vector<OrvWstring> uris, prefixes;
    OrvWstring out;

    OursRunner() {
        for (int i = 0; i < NAMESPACES; ++i) {
            uris.emplace_back(URIS[i]);
            prefixes.emplace_back(PREFIXES[i]);
            manager.addNamespace(uris[i], prefixes[i]);
        }
    }

    template <typename Record> void run(const std::vector<Element>& doc, Record record) {
        for (const Element& e : doc) {
            manager.addLevel();
            if (e.redeclare >= 0)
                manager.addNamespaceAndPrefix(uris[e.redeclare], prefixes[e.redeclare]);
            manager.getNamespacePrefix(uris[e.name], out, true);
            record(out);
            manager.getNamespacePrefix(uris[e.attribute1], out, false);
            record(out);
            manager.getNamespacePrefix(uris[e.attribute2], out, false);
            record(out);
            for (int c = 0; c < e.closeAfter; ++c)
                manager.removeLevel();
        }
    }
};

// The same work on Xalan-C: the prefix in force for a URI (confirmed against
// shadowing), else the preferred prefix or a generated one bound locally.
struct XalanRunner {
    xalanc::MemoryManager& memory;
    xalanc::XalanNamespacesStack stack;
    std::vector<xalanc::XalanDOMString> uris, prefixes;
    xalanc::XalanDOMString generated;
    unsigned counter = 0;

    explicit XalanRunner(xalanc::MemoryManager& m) : memory(m), stack(m), generated(m) {
        for (int i = 0; i < NAMESPACES; ++i) {
            uris.emplace_back(reinterpret_cast<const XMLCh*>(URIS[i]), m);
            prefixes.emplace_back(reinterpret_cast<const XMLCh*>(PREFIXES[i]), m);
        }
    }

    const xalanc::XalanDOMString& prefixFor(int ns) {
        const xalanc::XalanDOMString& uri = uris[ns];
        const xalanc::XalanDOMString* found = stack.getPrefixForNamespace(uri);
        if (found != nullptr) {
            const xalanc::XalanDOMString* bound = stack.getNamespaceForPrefix(*found);
            if (bound != nullptr && *bound == uri)
                return *found;
        }
        if (!stack.prefixIsPresentLocal(prefixes[ns])) {
            stack.addDeclaration(prefixes[ns], uri);
            return prefixes[ns];
        }
        do {
            generated = reinterpret_cast<const XMLCh*>(u"NS");
            xalanc::XalanDOMString digits(std::to_string(++counter).c_str(), memory);
            generated += digits;
        } while (stack.prefixIsPresentLocal(generated));
        stack.addDeclaration(generated, uri);
        return generated;
    }

    template <typename Record> void run(const std::vector<Element>& doc, Record record) {
        for (const Element& e : doc) {
            stack.pushContext();
            if (e.redeclare >= 0)
                stack.addDeclaration(prefixes[e.redeclare], uris[e.redeclare]);
            record(prefixFor(e.name));
            record(prefixFor(e.attribute1));
            record(prefixFor(e.attribute2));
            for (int c = 0; c < e.closeAfter; ++c)
                stack.popContext();
        }
    }
};

constexpr int ELEMENTS = 100000;
const std::vector<Element>& document() {
    static const std::vector<Element> doc = makeDocument(ELEMENTS);
    return doc;
}

struct XalanPlatform {
    XalanPlatform() {
        xercesc::XMLPlatformUtils::Initialize();
        xalanc::XalanTransformer::initialize(memory);
    }
    ~XalanPlatform() {
        xalanc::XalanTransformer::terminate();
        xercesc::XMLPlatformUtils::Terminate();
    }
    xalanc::XalanMemoryManagerDefault memory;
};
XalanPlatform* gXalan = nullptr;

void BM_XMLPrefixManager(benchmark::State& state) {
    OursRunner ours;
    ours.run(document(), [](const OrvWstring&) {}); // warm: every depth and prefix seen once
    const unsigned long long before = zaqbench::allocations();
    for (auto _ : state)
        ours.run(document(), [](const OrvWstring& p) { benchmark::DoNotOptimize(p.data()); });
    const double allocated = double(zaqbench::allocations() - before);
    const double elements = double(state.iterations()) * ELEMENTS;
    state.counters["time_per_element"] =
        benchmark::Counter(elements, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["allocs_per_element"] = allocated / elements;
}

void BM_XalanNamespacesStack(benchmark::State& state) {
    XalanRunner xalan(gXalan->memory);
    xalan.run(document(), [](const xalanc::XalanDOMString&) {});
    const unsigned long long before = zaqbench::allocations();
    for (auto _ : state)
        xalan.run(document(), [](const xalanc::XalanDOMString& p) { benchmark::DoNotOptimize(p.c_str()); });
    const double allocated = double(zaqbench::allocations() - before);
    const double elements = double(state.iterations()) * ELEMENTS;
    state.counters["time_per_element"] =
        benchmark::Counter(elements, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["allocs_per_element"] = allocated / elements;
}

BENCHMARK(BM_XMLPrefixManager)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XalanNamespacesStack)->Unit(benchmark::kMillisecond);

// Both sides must give the same prefix for every name of the document.
bool sameAnswers() {
    std::vector<std::u16string> ours, theirs;
    OursRunner o;
    o.run(document(), [&](const OrvWstring& p) { ours.emplace_back(p.data(), p.length()); });
    XalanRunner x(gXalan->memory);
    x.run(document(), [&](const xalanc::XalanDOMString& p) {
        theirs.emplace_back(reinterpret_cast<const char16_t*>(p.c_str()), p.length());
    });
    return ours == theirs && ours.size() == 3u * ELEMENTS;
}

// Heap allocations of a whole run from a new manager: a document of 1 000
// elements and the 100 000-element one that begins with it.
void allocationTotals() {
    for (int count : {1000, ELEMENTS}) {
        const std::vector<Element> doc(document().begin(), document().begin() + count);
        std::vector<Element> closed = doc;
        int depth = 0;
        for (Element& e : closed)
            depth += 1 - e.closeAfter;
        closed.back().closeAfter += depth; // close what the prefix left open
        const unsigned long long before = zaqbench::allocations();
        {
            OursRunner ours;
            ours.run(closed, [](const OrvWstring&) {});
            std::printf("allocations from a new manager through %6d elements: %llu\n", count,
                        zaqbench::allocations() - before);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    XalanPlatform platform;
    gXalan = &platform;
    int maxDepth = 0, depth = 0;
    for (const Element& e : document()) {
        if (depth > maxDepth)
            maxDepth = depth;
        depth += 1 - e.closeAfter;
    }
    std::printf("workload: %d elements, deepest level %d, %d namespaces, 3 lookups per element\n", ELEMENTS, maxDepth,
                NAMESPACES);
    if (!sameAnswers()) {
        std::fprintf(stderr, "bench_prefix: XMLPrefixManager and XalanNamespacesStack answer differently\n");
        return 1;
    }
    std::printf("answers: identical for all %d lookups\n", 3 * ELEMENTS);
    allocationTotals();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
