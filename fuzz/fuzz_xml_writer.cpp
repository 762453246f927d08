// SPDX-License-Identifier: Apache-2.0
// fuzz_xml_writer.cpp - XmlWriter call sequences drawn from the input: every
// call is accepted or refused without a trace, and the document that ends
// them reads back, in Xerces-C and in expat, to what the calls meant.
#include "WriterScript.h"

#include <xercesc/util/PlatformUtils.hpp>

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool initialised = [] {
        xercesc::XMLPlatformUtils::Initialize();
        return true;
    }();
    (void)initialised;
    std::size_t at = 0;
    const std::function<unsigned()> next = [&] { return at < size ? data[at++] : 0u; };
    const std::string problem = checkScript(randomOps(next, size / 2));
    if (!problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
