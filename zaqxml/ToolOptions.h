// SPDX-License-Identifier: Apache-2.0
// ToolOptions.h - zaqxml's command line, parsed once into a plain value.
#ifndef ZAQXML_TOOL_OPTIONS_H
#define ZAQXML_TOOL_OPTIONS_H

#include "InputSettings.h"
#include "NamespacePolicy.h"
#include "XmlCanonicalWriter.h"
#include "XmlIndenter.h"

#include <string>
#include <vector>

struct ToolOptions {
    std::vector<std::string> inputs; ///< "-" is standard input; none given: standard input
    bool sample = false;             ///< rewrite the bundled sample instead
    std::string output;              ///< empty or "-": standard output
    bool noOutput = false;           ///< --noout: check only, write nothing
    bool format = false;             ///< --format: reindent element-only content
    std::size_t formatLookahead = zaq::XmlIndenter::DEFAULT_LOOKAHEAD; ///< --format-lookahead
    bool hoist = false;       ///< --hoist: each prefix declared once, on the document element
    bool inPlace = false;     ///< -i: each input is replaced by its rewrite
    std::string backupSuffix; ///< -iSUFFIX: the original is kept as input + SUFFIX
    bool stats = false;
    int traceLevel = 0;                 ///< --trace: the trace filter of the services (0: as built)
    bool traceLevelSet = false;         ///< whether --trace was given
    bool emptyPrefixForDefault = false; ///< VOSK_USE_EMPTY_PREFIX_FOR_DEFAULT_NS is defined
    unsigned long poolSize = 1024;
    bool canonical = false;                ///< --c14n, --c14n11 or --exc-c14n: canonical XML instead
    zaq::XmlCanonicalWriter::Options c14n; ///< its method, comments and inclusive prefixes
    std::string select;                    ///< --select NAME: only those subtrees
    std::vector<std::string> idAttributes; ///< --id-attribute NAME: more attributes --select #ID matches
    std::string digest;                    ///< --digest ALG: print the canonical bytes' digest
    NamespacePolicy::Settings namespaces;
    InputSettings input;
};

/// The largest --pool-size: the six pools take about 185 bytes per unit of
/// the pool size, so this keeps the memory manager under 50 MiB.
constexpr unsigned long MAX_POOL_SIZE = 262144;

/// Parses the command line; prints help, the version or a usage error
/// (exit status 1) and exits where the command line asks for it.
ToolOptions parseOptions(int argc, char** argv);

#endif
