// SPDX-License-Identifier: Apache-2.0
// bench_string.cpp - OrvWstring beside std::u16string: copy, compare, equals.
#include "OrvWstring.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

const char16_t SHORT_TEXT[] = u"soapenv";
const char16_t LONG_TEXT[] = u"http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-secext-1.0";

template <typename S> S make(const char16_t* text) { return S(text); }

template <typename S> void BM_Copy(benchmark::State& state, const char16_t* text) {
    const S source = make<S>(text);
    for (auto _ : state) {
        S copy(source);
        benchmark::DoNotOptimize(copy);
    }
}

// The second string differs in its last code unit: a full comparison.
template <typename S> void BM_Compare(benchmark::State& state, const char16_t* text) {
    std::u16string other(text);
    other.back() = u'#';
    const S a = make<S>(text);
    const S b = make<S>(other.c_str());
    for (auto _ : state) {
        benchmark::DoNotOptimize(a.compare(b));
    }
}

bool same(const OrvWstring& a, const OrvWstring& b) { return a.equals(b); }
bool same(const std::u16string& a, const std::u16string& b) { return a == b; }

// Equal texts in separate storage: no shortcut by identity.
template <typename S> void BM_Equals(benchmark::State& state, const char16_t* text) {
    const S a = make<S>(text);
    const S b = make<S>(std::u16string(text).c_str());
    for (auto _ : state) {
        benchmark::DoNotOptimize(same(a, b));
    }
}

} // namespace

int main(int argc, char** argv) {
    struct Text {
        const char* name;
        const char16_t* text;
    } texts[] = {{"short_7", SHORT_TEXT}, {"long_66", LONG_TEXT}};
    for (const Text& t : texts) {
        const std::string suffix = std::string("/") + t.name;
        benchmark::RegisterBenchmark(("copy" + suffix + "/OrvWstring").c_str(), BM_Copy<OrvWstring>, t.text);
        benchmark::RegisterBenchmark(("copy" + suffix + "/u16string").c_str(), BM_Copy<std::u16string>, t.text);
        benchmark::RegisterBenchmark(("compare" + suffix + "/OrvWstring").c_str(), BM_Compare<OrvWstring>, t.text);
        benchmark::RegisterBenchmark(("compare" + suffix + "/u16string").c_str(), BM_Compare<std::u16string>, t.text);
        benchmark::RegisterBenchmark(("equals" + suffix + "/OrvWstring").c_str(), BM_Equals<OrvWstring>, t.text);
        benchmark::RegisterBenchmark(("equals" + suffix + "/u16string").c_str(), BM_Equals<std::u16string>, t.text);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
