// SPDX-License-Identifier: Apache-2.0
// fuzz_zaqxml.cpp - whole documents through zaqxml's pipeline, with the
// options the first byte chooses: a document either fails with a message,
// or its rewrite (or canonical form) rewrites to itself.
#include "Pipeline.h"

#include <xercesc/util/PlatformUtils.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Collects the messages instead of printing them.
struct Quiet : Diagnostics {
    void emit(const std::string&) override {}
};

bool rewrite(const std::string& document, const ToolOptions& options, std::string& out) {
    Quiet diagnostics;
    RewriteSession session(options, diagnostics);
    zaq::XmlStringSink sink(out);
    return rewriteDocument(DocumentInput::memory(document.data(), document.size(), "fuzz", "fuzz.xml"), sink, options,
                           session, diagnostics);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool initialised = [] {
        xercesc::XMLPlatformUtils::Initialize();
        return true;
    }();
    (void)initialised;
    if (size == 0)
        return 0;
    ToolOptions options;
    options.namespaces.generate = data[0] & 1;
    options.namespaces.prune = data[0] & 2;
    options.format = data[0] & 4;
    options.emptyPrefixForDefault = data[0] & 8;
    options.namespaces.keepDefault = data[0] & 16;
    options.input.wellFormednessScanner = !(data[0] & 32);
    options.input.maxDepth = 500;
    // The high bits: a canonical form (whose output is its own canonical
    // form), or --hoist.
    switch (data[0] >> 6) {
    case 1:
        options.canonical = true;
        options.c14n.method = zaq::XmlCanonicalWriter::Method::C14N10;
        break;
    case 2:
        options.canonical = true;
        options.c14n.method = zaq::XmlCanonicalWriter::Method::Exclusive;
        break;
    case 3:
        options.hoist = !options.namespaces.prune && !options.namespaces.generate;
        break;
    default:
        break;
    }
    if (options.canonical)
        options.namespaces.prune = options.namespaces.generate = options.format = false;
    const std::string document(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string once;
    if (!rewrite(document, options, once))
        return 0;
    std::string twice;
    if (!rewrite(once, options, twice) || twice != once) {
        std::fprintf(stderr, "the rewrite of the rewrite differs:\n%s\n---\n%s\n", once.c_str(), twice.c_str());
        std::abort();
    }
    return 0;
}
