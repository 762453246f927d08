// SPDX-License-Identifier: Apache-2.0
// bench_memory.cpp - the pooled manager beside glibc malloc, Xerces-C's default
// manager, std::pmr's unsynchronized pool and mimalloc, on the request sizes
// that Xerces-C 3.2 actually makes; heap calls per parse; whole parses.
#include "OrvXmlMemoryManager.h"
#include "XercesDocuments.h"

#include <benchmark/benchmark.h>
#include <mimalloc.h>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/internal/MemoryManagerImpl.hpp>
#include <xercesc/framework/XMLGrammarPoolImpl.hpp>
#include <xercesc/parsers/SAX2XMLReaderImpl.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/validators/common/Grammar.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <memory_resource>
#include <random>
#include <string>
#include <vector>

using namespace xercesc;

namespace {

/// Forwards to a target manager and records every request size.
class RecordingManager : public MemoryManager {
public:
    explicit RecordingManager(MemoryManager& target) : iTarget(target) {}
    MemoryManager* getExceptionMemoryManager() override { return iTarget.getExceptionMemoryManager(); }
    void* allocate(XMLSize_t size) override {
        ++sizes[size];
        ++requests;
        return iTarget.allocate(size);
    }
    void deallocate(void* p) override { iTarget.deallocate(p); }
    std::map<XMLSize_t, unsigned long> sizes;
    unsigned long requests = 0;

private:
    MemoryManager& iTarget;
};

/// The pooled manager, counting the requests that reach the heap.
class HeapCountingManager : public OrvXmlMemoryManager {
public:
    explicit HeapCountingManager(unsigned int poolSize = 1024) : OrvXmlMemoryManager(poolSize) {}
    void* allocate(XMLSize_t size) override {
        const bool busy0 = isBuffer65536InUse(), busy1 = isBuffer163948InUse();
        void* p = OrvXmlMemoryManager::allocate(size);
        bool pooled = false;
        for (unsigned i = 0; i < getPoolCount(); ++i)
            pooled = pooled || getPool(i)->contains(p);
        if (!pooled && !(!busy0 && isBuffer65536InUse()) && !(!busy1 && isBuffer163948InUse())) {
            ++heapRequests;
            if (size <= 2048)
                ++smallHeapRequests;
        }
        ++requests;
        return p;
    }
    unsigned long requests = 0, heapRequests = 0, smallHeapRequests = 0;
};

class NullHandler : public DefaultHandler {};

void saxParse(MemoryManager* manager, const std::string& doc) {
    NullHandler handler;
    std::unique_ptr<SAX2XMLReader> reader(
        XMLReaderFactory::createXMLReader(manager ? manager : XMLPlatformUtils::fgMemoryManager));
    reader->setContentHandler(&handler);
    reader->setErrorHandler(&handler);
    MemBufInputSource input(reinterpret_cast<const XMLByte*>(doc.data()), doc.size(), "doc", false,
                            manager ? manager : XMLPlatformUtils::fgMemoryManager);
    reader->parse(input);
}

void domParse(MemoryManager* manager, const std::string& doc) {
    MemoryManager* m = manager ? manager : XMLPlatformUtils::fgMemoryManager;
    XercesDOMParser parser(nullptr, m);
    parser.setDoNamespaces(true);
    MemBufInputSource input(reinterpret_cast<const XMLByte*>(doc.data()), doc.size(), "doc", false, m);
    parser.parse(input);
    benchmark::DoNotOptimize(parser.getDocument());
}

const std::string& smallDocument() {
    static const std::string doc = namespacedDocument(30);
    return doc;
}
const std::string& largeDocument() {
    static const std::string doc = namespacedDocument(60000);
    return doc;
}

// ---- the request-size mix -------------------------------------------------

std::map<XMLSize_t, unsigned long> gSmallHistogram; // 10 small SAX2 and 10 small DOM parses
std::map<XMLSize_t, unsigned long> gLargeHistogram; // one large SAX2 and one large DOM parse
std::vector<std::size_t> gMix;                      // 4096 sizes drawn from the small parses

void recordHistograms() {
    MemoryManagerImpl heap;
    RecordingManager small(heap);
    for (int i = 0; i < 10; ++i)
        saxParse(&small, smallDocument());
    for (int i = 0; i < 10; ++i)
        domParse(&small, smallDocument());
    gSmallHistogram = small.sizes;
    RecordingManager large(heap);
    saxParse(&large, largeDocument());
    domParse(&large, largeDocument());
    gLargeHistogram = large.sizes;

    std::vector<XMLSize_t> values;
    std::vector<double> weights;
    for (const auto& entry : gSmallHistogram) {
        values.push_back(entry.first);
        weights.push_back(double(entry.second));
    }
    std::mt19937 rng(7);
    std::discrete_distribution<std::size_t> pick(weights.begin(), weights.end());
    for (int i = 0; i < 4096; ++i)
        gMix.push_back(values[pick(rng)]);
}

void printHistogram(const char* title, const std::map<XMLSize_t, unsigned long>& histogram) {
    const char* names[] = {"pool 64", "pool 128", "pool 256", "pool 512", "pool 1024", "pool 2048"};
    unsigned long buckets[6] = {}, buffer0 = 0, buffer1 = 0, heap = 0, total = 0;
    for (const auto& entry : histogram) {
        total += entry.second;
        std::size_t chunk = 64;
        int index = 0;
        while (index < 6 && entry.first > chunk) {
            chunk *= 2;
            ++index;
        }
        if (index < 6)
            buckets[index] += entry.second;
        else if (entry.first == 65536)
            buffer0 += entry.second;
        else if (entry.first == 163948)
            buffer1 += entry.second;
        else
            heap += entry.second;
    }
    std::printf("request sizes, %s (%lu requests):\n", title, total);
    for (int i = 0; i < 6; ++i)
        std::printf("  %-13s %8lu (%5.1f%%)\n", names[i], buckets[i], 100.0 * buckets[i] / total);
    std::printf("  %-13s %8lu\n  %-13s %8lu\n  %-13s %8lu (", "buffer 65536", buffer0, "buffer 163948", buffer1,
                "heap > 2048", heap);
    bool first = true;
    for (const auto& entry : histogram)
        if (entry.first > 2048 && entry.first != 65536 && entry.first != 163948) {
            std::printf("%s%zu x%lu", first ? "" : ", ", std::size_t(entry.first), entry.second);
            first = false;
        }
    std::printf(")\n");
}

void heapCallsPerParse() {
    const int parses = 100;
    std::printf("heap requests per parse of a small document (%zu bytes), a new parser each time, %d parses:\n",
                smallDocument().size(), parses);
    for (unsigned int poolSize : {1024u, 2048u}) {
        auto sax = std::make_unique<HeapCountingManager>(poolSize);
        auto dom = std::make_unique<HeapCountingManager>(poolSize);
        for (int i = 0; i < parses; ++i) {
            saxParse(sax.get(), smallDocument());
            domParse(dom.get(), smallDocument());
        }
        std::printf("  pool size %4u: SAX2 %.1f requests, %.1f to the heap (%.1f of them <= 2048 bytes); "
                    "DOM %.1f requests, %.1f to the heap (%.1f <= 2048); default manager: every request\n",
                    poolSize, double(sax->requests) / parses, double(sax->heapRequests) / parses,
                    double(sax->smallHeapRequests) / parses, double(dom->requests) / parses,
                    double(dom->heapRequests) / parses, double(dom->smallHeapRequests) / parses);
    }
}

// ---- allocators under test --------------------------------------------------

struct Orv {
    std::unique_ptr<OrvXmlMemoryManager> m = std::make_unique<OrvXmlMemoryManager>();
    void* allocate(std::size_t n) { return m->allocate(n); }
    void deallocate(void* p, std::size_t) { m->deallocate(p); }
};
struct Malloc {
    void* allocate(std::size_t n) { return std::malloc(n); }
    void deallocate(void* p, std::size_t) { std::free(p); }
};
struct XercesDefault {
    MemoryManagerImpl m;
    void* allocate(std::size_t n) { return m.allocate(n); }
    void deallocate(void* p, std::size_t) { m.deallocate(p); }
};
struct PmrPool {
    std::pmr::unsynchronized_pool_resource r;
    void* allocate(std::size_t n) { return r.allocate(n ? n : 1); }
    void deallocate(void* p, std::size_t n) { r.deallocate(p, n ? n : 1); }
};
struct Mimalloc {
    void* allocate(std::size_t n) { return mi_malloc(n); }
    void deallocate(void* p, std::size_t) { mi_free(p); }
};

template <typename A> void BM_Pairs(benchmark::State& state) {
    A a;
    std::size_t i = 0;
    for (auto _ : state) {
        const std::size_t n = gMix[i++ & 4095];
        void* p = a.allocate(n);
        benchmark::DoNotOptimize(p);
        a.deallocate(p, n);
    }
    state.SetItemsProcessed(state.iterations());
}

constexpr int BURST = 64;

template <typename A, bool Lifo> void BM_Burst(benchmark::State& state) {
    A a;
    void* held[BURST];
    std::size_t sizes[BURST];
    std::size_t i = 0;
    for (auto _ : state) {
        for (int k = 0; k < BURST; ++k) {
            sizes[k] = gMix[i++ & 4095];
            held[k] = a.allocate(sizes[k]);
        }
        benchmark::DoNotOptimize(held);
        if (Lifo)
            for (int k = BURST - 1; k >= 0; --k)
                a.deallocate(held[k], sizes[k]);
        else
            for (int k = 0; k < BURST; ++k)
                a.deallocate(held[k], sizes[k]);
    }
    state.SetItemsProcessed(state.iterations() * BURST);
}

#define ZAQ_ALLOCATORS(macro) macro(Orv) macro(Malloc) macro(XercesDefault) macro(PmrPool) macro(Mimalloc)
#define ZAQ_PAIRS(A) BENCHMARK(BM_Pairs<A>)->Name("pair/" #A);
#define ZAQ_LIFO(A) BENCHMARK(BM_Burst<A, true>)->Name("burst_lifo/" #A);
#define ZAQ_FIFO(A) BENCHMARK(BM_Burst<A, false>)->Name("burst_fifo/" #A);
ZAQ_ALLOCATORS(ZAQ_PAIRS)
ZAQ_ALLOCATORS(ZAQ_LIFO)
ZAQ_ALLOCATORS(ZAQ_FIFO)

// ---- whole parses -------------------------------------------------------------

template <bool Pooled> void BM_SmallSax(benchmark::State& state) {
    auto ours = std::make_unique<OrvXmlMemoryManager>();
    for (auto _ : state)
        for (int i = 0; i < 1000; ++i)
            saxParse(Pooled ? ours.get() : nullptr, smallDocument());
    state.SetItemsProcessed(state.iterations() * 1000);
}
template <bool Pooled> void BM_SmallDom(benchmark::State& state) {
    auto ours = std::make_unique<OrvXmlMemoryManager>();
    for (auto _ : state)
        for (int i = 0; i < 1000; ++i)
            domParse(Pooled ? ours.get() : nullptr, smallDocument());
    state.SetItemsProcessed(state.iterations() * 1000);
}
template <bool Pooled> void BM_LargeSax(benchmark::State& state) {
    auto ours = std::make_unique<OrvXmlMemoryManager>();
    for (auto _ : state)
        saxParse(Pooled ? ours.get() : nullptr, largeDocument());
    state.SetBytesProcessed(state.iterations() * std::int64_t(largeDocument().size()));
}
template <bool Pooled> void BM_LargeDom(benchmark::State& state) {
    auto ours = std::make_unique<OrvXmlMemoryManager>();
    for (auto _ : state)
        domParse(Pooled ? ours.get() : nullptr, largeDocument());
    state.SetBytesProcessed(state.iterations() * std::int64_t(largeDocument().size()));
}

// A validating parse (XML Schema, from a locked grammar pool, as zaqxml
// --schema reads), 20 000 orders.
const char ORDERS_SCHEMA[] =
    "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' targetNamespace='urn:po' xmlns:p='urn:po'"
    " elementFormDefault='qualified'><xs:element name='orders'><xs:complexType><xs:sequence>"
    "<xs:element name='order' maxOccurs='unbounded'><xs:complexType><xs:sequence>"
    "<xs:element name='qty' type='xs:positiveInteger'/><xs:element name='sku' type='p:sku'/></xs:sequence>"
    "<xs:attribute name='n' type='xs:int'/></xs:complexType></xs:element></xs:sequence></xs:complexType>"
    "</xs:element><xs:simpleType name='sku'><xs:restriction base='xs:string'><xs:pattern value='[A-Z]{3}-[0-9]+'/>"
    "</xs:restriction></xs:simpleType></xs:schema>";

const std::string& ordersDocument() {
    static const std::string doc = [] {
        std::string text = "<p:orders xmlns:p='urn:po'>";
        for (int i = 0; i < 20000; ++i)
            text += "<p:order n='" + std::to_string(i) + "'><p:qty>3</p:qty><p:sku>ABC-" + std::to_string(i) +
                    "</p:sku></p:order>";
        return text + "</p:orders>";
    }();
    return doc;
}

template <bool Pooled> void BM_ValidatingSax(benchmark::State& state) {
    auto ours = std::make_unique<OrvXmlMemoryManager>();
    MemoryManager* manager = Pooled ? ours.get() : XMLPlatformUtils::fgMemoryManager;
    XMLGrammarPoolImpl pool(XMLPlatformUtils::fgMemoryManager);
    {
        SAX2XMLReaderImpl loader(XMLPlatformUtils::fgMemoryManager, &pool);
        loader.setFeature(XMLUni::fgXercesSchema, true);
        MemBufInputSource schema(reinterpret_cast<const XMLByte*>(ORDERS_SCHEMA), sizeof ORDERS_SCHEMA - 1,
                                 "orders.xsd", false);
        loader.loadGrammar(schema, Grammar::SchemaGrammarType, true);
    }
    pool.lockPool();
    for (auto _ : state) {
        NullHandler handler;
        SAX2XMLReaderImpl reader(manager, &pool);
        reader.setFeature(XMLUni::fgSAX2CoreValidation, true);
        reader.setFeature(XMLUni::fgXercesDynamic, false);
        reader.setFeature(XMLUni::fgXercesSchema, true);
        reader.setFeature(XMLUni::fgXercesUseCachedGrammarInParse, true);
        reader.setContentHandler(&handler);
        reader.setErrorHandler(&handler);
        MemBufInputSource input(reinterpret_cast<const XMLByte*>(ordersDocument().data()), ordersDocument().size(),
                                "doc", false, manager);
        reader.parse(input);
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(ordersDocument().size()));
}

BENCHMARK(BM_SmallSax<true>)->Name("parse_1000_small_sax/Orv")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmallSax<false>)->Name("parse_1000_small_sax/XercesDefault")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmallDom<true>)->Name("parse_1000_small_dom/Orv")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmallDom<false>)->Name("parse_1000_small_dom/XercesDefault")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargeSax<true>)->Name("parse_large_sax/Orv")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargeSax<false>)->Name("parse_large_sax/XercesDefault")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargeDom<true>)->Name("parse_large_dom/Orv")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargeDom<false>)->Name("parse_large_dom/XercesDefault")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ValidatingSax<true>)->Name("parse_validating_sax/Orv")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ValidatingSax<false>)->Name("parse_validating_sax/XercesDefault")->Unit(benchmark::kMillisecond);

} // namespace

// `bench_memory --only KIND MANAGER COUNT` parses and exits, for counting
// instructions under callgrind: KIND is small-sax, small-dom, large-sax or
// large-dom, MANAGER orv or default.
int parseOnly(const std::string& kind, const std::string& which, int count) {
    auto ours = std::make_unique<OrvXmlMemoryManager>();
    MemoryManager* manager = which == "orv" ? ours.get() : nullptr;
    const std::string& doc = kind.compare(0, 5, "small") == 0 ? smallDocument() : largeDocument();
    const bool dom = kind.size() > 3 && kind.compare(kind.size() - 3, 3, "dom") == 0;
    for (int i = 0; i < count; ++i) {
        if (dom)
            domParse(manager, doc);
        else
            saxParse(manager, doc);
    }
    return 0;
}

// `bench_memory --pairs ROUNDS` alternates pooled and default parses in one
// process, round by round and in turns of which goes first, and prints the
// median of the per-round time ratios for each kind: both managers see the
// same warm heap and the same drift of the machine.
int parsePairs(int rounds) {
    struct Kind {
        const char* name;
        int count;
    };
    const Kind kinds[] = {{"small-sax", 300}, {"small-dom", 100}, {"large-sax", 1}, {"large-dom", 1}};
    auto ours = std::make_unique<OrvXmlMemoryManager>();
    for (const Kind& kind : kinds) {
        const std::string& doc = kind.name[0] == 's' ? smallDocument() : largeDocument();
        const bool dom = std::string(kind.name).find("dom") != std::string::npos;
        auto batch = [&](MemoryManager* manager) {
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < kind.count; ++i) {
                if (dom)
                    domParse(manager, doc);
                else
                    saxParse(manager, doc);
            }
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        };
        batch(ours.get()); // warm both
        batch(nullptr);
        std::vector<double> ratios, pooled, plain;
        for (int r = 0; r < rounds; ++r) {
            double a, b;
            if (r % 2 == 0) {
                a = batch(ours.get());
                b = batch(nullptr);
            } else {
                b = batch(nullptr);
                a = batch(ours.get());
            }
            pooled.push_back(a);
            plain.push_back(b);
            ratios.push_back(a / b);
        }
        auto median = [](std::vector<double> v) {
            std::sort(v.begin(), v.end());
            return v[v.size() / 2];
        };
        std::printf("  %-10s x%-4d pooled %8.3f ms, default %8.3f ms: median ratio %.3f (%d rounds)\n", kind.name,
                    kind.count, 1e3 * median(pooled), 1e3 * median(plain), median(ratios), rounds);
    }
    return 0;
}

int main(int argc, char** argv) {
    XercesPlatform platform;
    if (argc == 5 && std::string(argv[1]) == "--only")
        return parseOnly(argv[2], argv[3], std::atoi(argv[4]));
    if (argc == 3 && std::string(argv[1]) == "--pairs")
        return parsePairs(std::atoi(argv[2]));
    recordHistograms();
    printHistogram("10 small SAX2 + 10 small DOM parses, the allocator mix", gSmallHistogram);
    printHistogram("one large SAX2 + one large DOM parse", gLargeHistogram);
    heapCallsPerParse();
    std::printf("large document: %zu bytes\n", largeDocument().size());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
