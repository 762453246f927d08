// SPDX-License-Identifier: Apache-2.0
// main.cpp - zaqxml: rewrites XML documents with namespace declarations
// chosen by the prefix manager, parsing with Xerces-C on the pooled memory
// manager.
#include "Batch.h"
#include "Diagnostics.h"
#include "OrvLog.h"
#include "ToolOptions.h"

#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    const ToolOptions options = parseOptions(argc, argv);
    if (options.traceLevelSet)
        OrvLog::iEffectiveLogFilter = options.traceLevel;
    try {
        xercesc::XMLPlatformUtils::Initialize();
    } catch (const xercesc::XMLException& e) {
        std::fprintf(stderr, "zaqxml: cannot initialise the XML parser: %s\n", utf8(e.getMessage()).c_str());
        return 2;
    }
    int status = runInputs(options);
    if (std::fflush(stdout) != 0 && status == 0) {
        std::fprintf(stderr, "zaqxml: cannot write the output: %s\n", std::strerror(errno));
        status = 2;
    }
    xercesc::XMLPlatformUtils::Terminate();
    return status;
}
