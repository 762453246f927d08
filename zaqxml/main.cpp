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
#include <pthread.h>

namespace {

struct Run {
    const ToolOptions* options;
    int status;
};

void* runOn(void* argument) {
    Run& run = *static_cast<Run*>(argument);
    run.status = runInputs(*run.options);
    return nullptr;
}

// Validation runs Xerces-C's pattern matcher, which recurses once per
// character of some values: on the main thread's 8 MiB stack 20 000
// characters against (a|b)*c overflowed it. The inputs are read on a thread
// whose stack holds 256 MiB (address space; pages are taken only as used),
// about 600 000 such characters. Where it cannot be made, on this thread.
int runWithDeepStack(const ToolOptions& options) {
    Run run{&options, 2};
    if (options.input.validating()) {
        pthread_attr_t attributes;
        pthread_t thread;
        bool started = false;
        if (pthread_attr_init(&attributes) == 0) {
            started = pthread_attr_setstacksize(&attributes, std::size_t(256) << 20) == 0 &&
                      pthread_create(&thread, &attributes, runOn, &run) == 0;
            pthread_attr_destroy(&attributes);
        }
        if (started && pthread_join(thread, nullptr) == 0)
            return run.status;
    }
    runOn(&run);
    return run.status;
}

} // namespace

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
    int status = runWithDeepStack(options);
    if (std::fflush(stdout) != 0 && status == 0) {
        std::fprintf(stderr, "zaqxml: cannot write the output: %s\n", std::strerror(errno));
        status = 2;
    }
    xercesc::XMLPlatformUtils::Terminate();
    return status;
}
