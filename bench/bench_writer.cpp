// SPDX-License-Identifier: Apache-2.0
// bench_writer.cpp - XmlWriter beside the C and C++ writers Debian packages,
// each writing the benchmark document (WriterWorkload.h) into memory: bytes
// per second and allocations per element.
#include "AllocationCounter.h"
#include "WriterWorkload.h"

#include <benchmark/benchmark.h>
#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <string>
#include <vector>

namespace {

constexpr long ENTRIES = 2000;
constexpr long ELEMENTS = 2 * ENTRIES + 2;

// Runs `write` (which answers the bytes it wrote) once per iteration.
template <class Write> void measure(benchmark::State& state, Write write) {
    std::size_t bytes = 0;
    unsigned long long allocations = 0;
    for (auto _ : state) {
        const unsigned long long before = zaqbench::allocations();
        bytes = write();
        allocations += zaqbench::allocations() - before;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
    state.counters["allocs/element"] =
        static_cast<double>(allocations) / static_cast<double>(state.iterations()) / ELEMENTS;
    state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_XmlWriter(benchmark::State& state) {
    std::string out;
    measure(state, [&] {
        out.clear();
        zaq::XmlStringSink sink(out);
        zaqbench::withXmlWriter(sink, ENTRIES);
        benchmark::DoNotOptimize(out.data());
        return out.size();
    });
}

void BM_LibXml2TextWriter(benchmark::State& state) {
    measure(state, [] {
        xmlBufferPtr buffer = xmlBufferCreate();
        zaqbench::withLibXml2(xmlOutputBufferCreateBuffer(buffer, nullptr), ENTRIES);
        const std::size_t bytes = static_cast<std::size_t>(xmlBufferLength(buffer));
        benchmark::DoNotOptimize(xmlBufferContent(buffer));
        xmlBufferFree(buffer);
        return bytes;
    });
}

void BM_XercesDomSerializer(benchmark::State& state) {
    measure(state, [] {
        xercesc::MemBufFormatTarget target;
        zaqbench::withXercesDom(target, ENTRIES);
        benchmark::DoNotOptimize(target.getRawBuffer());
        return static_cast<std::size_t>(target.getLen());
    });
}

void BM_Tinyxml2Printer(benchmark::State& state) {
    measure(state, [] { return zaqbench::withTinyxml2(nullptr, ENTRIES); });
}

void BM_PugixmlTreeSave(benchmark::State& state) {
    struct ToString : pugi::xml_writer {
        std::string text;
        void write(const void* data, std::size_t size) override { text.append(static_cast<const char*>(data), size); }
    };
    measure(state, [] {
        ToString out;
        zaqbench::withPugixml(out, ENTRIES);
        benchmark::DoNotOptimize(out.text.data());
        return out.text.size();
    });
}

// XmlWriter on a vocabulary of N element and 2N attribute names taken in
// turn (one element, an unqualified and a namespaced attribute, short text):
// up to a few hundred names it writes tags from the names it remembers;
// with thousands it leaves them alone and checks and resolves each tag.
void BM_XmlWriterDistinctNames(benchmark::State& state) {
    const int distinct = static_cast<int>(state.range(0));
    std::vector<std::u16string> names, attributes;
    for (int i = 0; i < distinct; ++i) {
        const std::string n = "element" + std::to_string(i), a = "attr" + std::to_string(i);
        names.emplace_back(n.begin(), n.end());
        attributes.emplace_back(a.begin(), a.end());
    }
    const std::u16string ns = u"urn:example:many", other = u"urn:example:other";
    constexpr int count = 20000;
    std::string out;
    for (auto _ : state) {
        out.clear();
        zaq::XmlStringSink sink(out);
        zaq::XmlWriter w(sink);
        w.startElement(ns, u"root", u"m");
        w.declareNamespace(ns, u"m");
        w.declareNamespace(other, u"o");
        for (int k = 0; k < count; ++k) {
            w.startElement(ns, names[k % distinct]);
            w.attribute(u"", attributes[(k * 7) % distinct], u"v");
            w.attribute(other, attributes[(k * 3) % distinct], u"w");
            w.text(u"text");
            w.endElement();
        }
        w.endElement();
        w.endDocument();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["time_per_element"] = benchmark::Counter(double(state.iterations()) * count,
                                                            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(BM_XmlWriter);
BENCHMARK(BM_XmlWriterDistinctNames)->Arg(8)->Arg(50)->Arg(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibXml2TextWriter);
BENCHMARK(BM_XercesDomSerializer);
BENCHMARK(BM_Tinyxml2Printer);
BENCHMARK(BM_PugixmlTreeSave);

int main(int argc, char** argv) {
    xercesc::XMLPlatformUtils::Initialize();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    xercesc::XMLPlatformUtils::Terminate();
    return 0;
}
