// SPDX-License-Identifier: Apache-2.0
// ToolOptions.cpp - zaqxml's options, help text and usage errors.
#include "ToolOptions.h"

#include "CanonicalStage.h"
#include "Diagnostics.h"
#include "DigestSink.h"
#include "Usage.h"
#include "XMLPrefixManager.h"
#include "XmlChecks.h"

#include <xercesc/util/XercesVersion.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <string>

namespace {

[[noreturn]] void usageError(const std::string& message) {
    std::fprintf(stderr, "zaqxml: %s\nTry 'zaqxml --help'.\n", printable(message).c_str());
    std::exit(1);
}

bool isNcName(const std::string& name) {
    const OrvWstring wide = OrvWstring::fromUtf8(name);
    return !wide.isEmpty() && wide.toUtf8() == name // well-formed UTF-8: nothing became U+FFFD
           && xmlchecks::isNCName(wide.view(), false);
}

unsigned long number(const char* option, const char* text, unsigned long low, unsigned long high) {
    const std::string value = text;
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(value.c_str(), &end, 10);
    if (value.empty() || *end != 0 || errno != 0 || value[0] == '-' || value[0] == '+' || n < low || n > high)
        usageError(std::string(option) + " must be a whole number from " + std::to_string(low) + " to " +
                   std::to_string(high) + ", not '" + value + "'");
    return static_cast<unsigned long>(n);
}

void addPreference(ToolOptions& options, const std::string& spec) {
    const std::size_t eq = spec.find('=');
    if (eq == std::string::npos)
        usageError("--prefer takes PREFIX=URI, not '" + spec + "'");
    const std::string prefix = spec.substr(0, eq);
    const std::string uri = spec.substr(eq + 1);
    const std::string xmlUri = OrvWstring(XMLPrefixManager::XML_NAMESPACE_URI).toUtf8();
    if (!isNcName(prefix))
        usageError("--prefer: '" + prefix + "' is not a valid prefix (an NCName)");
    if (prefix.compare(0, 5, "xmlns") == 0)
        usageError("--prefer: prefixes starting with 'xmlns' are reserved");
    if (uri.empty())
        usageError("--prefer: the namespace URI of '" + prefix + "' is empty");
    // A preference is a declaration to be: the reserved names' rules hold.
    if (xmlchecks::reservedRule(OrvWstring::fromUtf8(prefix).view(), OrvWstring::fromUtf8(uri).view()) !=
        xmlchecks::Reserved::None) {
        if (prefix == "xml")
            usageError("--prefer: the prefix 'xml' is bound to " + xmlUri + " only");
        usageError("--prefer: " + uri + " is reserved and takes no other prefix");
    }
    for (const auto& earlier : options.namespaces.preferred) {
        if (earlier.first.equals(OrvWstring::fromUtf8(prefix)) && !earlier.second.equals(OrvWstring::fromUtf8(uri)))
            usageError("--prefer: '" + prefix + "' is already preferred for " + earlier.second.toUtf8() +
                       "; one prefix names one namespace");
    }
    options.namespaces.preferred.emplace_back(OrvWstring::fromUtf8(prefix), OrvWstring::fromUtf8(uri));
}

void addKeptPrefixes(ToolOptions& options, const std::string& list) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        const std::string prefix = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (prefix == "#default")
            options.namespaces.keepDefault = true;
        else if (isNcName(prefix))
            options.namespaces.keep.push_back(OrvWstring::fromUtf8(prefix));
        else
            usageError("--keep-prefixes: '" + prefix + "' is neither a prefix (an NCName) nor #default");
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
}

void addInclusivePrefixes(ToolOptions& options, const std::string& list) {
    std::size_t start = 0;
    while (start < list.size()) {
        const std::size_t end = std::min(list.find_first_of(" \t\n", start), list.size());
        const std::string prefix = list.substr(start, end - start);
        if (!prefix.empty()) {
            if (prefix != "#default" && !isNcName(prefix))
                usageError("--inclusive-prefixes: '" + prefix + "' is neither a prefix (an NCName) nor #default");
            options.c14n.inclusivePrefixes.emplace_back(OrvWstring::fromUtf8(prefix).view());
        }
        start = end + 1;
    }
}

// The canonical forms write the document's own prefixes and no indentation.
void checkCanonical(const ToolOptions& options) {
    const bool namespaces = options.namespaces.prune || options.namespaces.generate ||
                            !options.namespaces.preferred.empty() || !options.namespaces.keep.empty() ||
                            options.namespaces.keepDefault;
    if (!options.canonical) {
        if (!options.c14n.comments || !options.c14n.inclusivePrefixes.empty() || !options.select.empty() ||
            !options.idAttributes.empty() || !options.digest.empty())
            usageError("--without-comments, --inclusive-prefixes, --select, --id-attribute and --digest go with "
                       "--c14n, --c14n11 "
                       "or --exc-c14n");
        return;
    }
    if (namespaces || options.format)
        usageError("a canonical form keeps the document's own prefixes and layout: not with --prune, "
                   "--generate, --prefer, --keep-prefixes or --format");
    if (!options.c14n.inclusivePrefixes.empty() && options.c14n.method != zaq::XmlCanonicalWriter::Method::Exclusive)
        usageError("--inclusive-prefixes goes with --exc-c14n");
    if (!options.digest.empty() && !DigestSink::known(options.digest))
        usageError("--digest takes sha1, sha256, sha384 or sha512, not '" + options.digest + "'");
    Selection selection;
    if (!options.select.empty() && !Selection::parse(options.select, selection))
        usageError("--select takes local, {uri}local or #ID, not '" + options.select + "'");
    std::u16string uri, local;
    for (const std::string& name : options.idAttributes)
        if (!Selection::parseName(name, uri, local))
            usageError("--id-attribute takes local or {uri}local, not '" + name + "'");
    if (!options.idAttributes.empty() && !selection.byId)
        usageError("--id-attribute goes with --select #ID");
}

} // namespace

ToolOptions parseOptions(int argc, char** argv) {
    enum : int {
        GENERATE = 256,
        PRUNE,
        KEEP_PREFIXES,
        PREFER,
        SAMPLE,
        LOAD_EXTERNAL,
        NO_LOAD_EXTERNAL,
        MAX_DEPTH,
        MAX_EXPANSION,
        MAX_NAMESPACES,
        MAX_ATTRIBUTES,
        MAX_NAMES,
        MAX_PREFIXES,
        MAX_DTD_MEMORY,
        NOOUT,
        NO_CATALOGS,
        FORMAT,
        FORMAT_LOOKAHEAD,
        POOL_SIZE,
        STATS,
        TRACE,
        VERSION,
        HOIST,
        C14N,
        C14N11,
        EXC_C14N,
        WITHOUT_COMMENTS,
        INCLUSIVE_PREFIXES,
        SELECT,
        ID_ATTRIBUTE,
        DIGEST,
        SCHEMA,
        VALID,
        SCHEMA_FROM_DOCUMENT,
        MAX_ERRORS,
        TRUST_PATTERNS,
        MAX_VALIDATION_MEMORY,
        MAX_MATCHED_VALUE,
        MAX_CONTENT_MODEL
    };
    static const option LONG_OPTIONS[] = {{"output", required_argument, nullptr, 'o'},
                                          {"in-place", optional_argument, nullptr, 'i'},
                                          {"noout", no_argument, nullptr, NOOUT},
                                          {"no-catalogs", no_argument, nullptr, NO_CATALOGS},
                                          {"format", no_argument, nullptr, FORMAT},
                                          {"format-lookahead", required_argument, nullptr, FORMAT_LOOKAHEAD},
                                          {"generate", no_argument, nullptr, GENERATE},
                                          {"prune", no_argument, nullptr, PRUNE},
                                          {"keep-prefixes", required_argument, nullptr, KEEP_PREFIXES},
                                          {"prefer", required_argument, nullptr, PREFER},
                                          {"hoist", no_argument, nullptr, HOIST},
                                          {"c14n", no_argument, nullptr, C14N},
                                          {"c14n11", no_argument, nullptr, C14N11},
                                          {"exc-c14n", no_argument, nullptr, EXC_C14N},
                                          {"without-comments", no_argument, nullptr, WITHOUT_COMMENTS},
                                          {"inclusive-prefixes", required_argument, nullptr, INCLUSIVE_PREFIXES},
                                          {"select", required_argument, nullptr, SELECT},
                                          {"id-attribute", required_argument, nullptr, ID_ATTRIBUTE},
                                          {"digest", required_argument, nullptr, DIGEST},
                                          {"schema", required_argument, nullptr, SCHEMA},
                                          {"valid", no_argument, nullptr, VALID},
                                          {"schema-from-document", no_argument, nullptr, SCHEMA_FROM_DOCUMENT},
                                          {"max-errors", required_argument, nullptr, MAX_ERRORS},
                                          {"trust-patterns", no_argument, nullptr, TRUST_PATTERNS},
                                          {"max-validation-memory", required_argument, nullptr, MAX_VALIDATION_MEMORY},
                                          {"max-matched-value", required_argument, nullptr, MAX_MATCHED_VALUE},
                                          {"max-content-model", required_argument, nullptr, MAX_CONTENT_MODEL},
                                          {"sample", no_argument, nullptr, SAMPLE},
                                          {"load-external", no_argument, nullptr, LOAD_EXTERNAL},
                                          {"no-load-external", no_argument, nullptr, NO_LOAD_EXTERNAL},
                                          {"max-depth", required_argument, nullptr, MAX_DEPTH},
                                          {"max-expansion", required_argument, nullptr, MAX_EXPANSION},
                                          {"max-namespaces", required_argument, nullptr, MAX_NAMESPACES},
                                          {"max-attributes", required_argument, nullptr, MAX_ATTRIBUTES},
                                          {"max-names", required_argument, nullptr, MAX_NAMES},
                                          {"max-prefixes", required_argument, nullptr, MAX_PREFIXES},
                                          {"max-dtd-memory", required_argument, nullptr, MAX_DTD_MEMORY},
                                          {"pool-size", required_argument, nullptr, POOL_SIZE},
                                          {"stats", no_argument, nullptr, STATS},
                                          {"trace", required_argument, nullptr, TRACE},
                                          {"help", no_argument, nullptr, 'h'},
                                          {"version", no_argument, nullptr, VERSION},
                                          {nullptr, 0, nullptr, 0}};
    ToolOptions options;
    options.emptyPrefixForDefault = std::getenv("VOSK_USE_EMPTY_PREFIX_FOR_DEFAULT_NS") != nullptr;
    bool outputGiven = false;
    bool noLoadExternal = false;
    opterr = 0;
    optind = 1;
    for (;;) {
        const int previous = optind;
        const int code = getopt_long(argc, argv, ":o:i::h", LONG_OPTIONS, nullptr);
        if (code == -1)
            break;
        const std::string word = argv[previous] ? argv[previous] : "";
        switch (code) {
        case 'o':
            if (*optarg == 0)
                usageError("-o needs a file name (- for standard output)");
            // "-o=out.xml" would write a file named "=out.xml".
            if (*optarg == '=' && word.compare(0, 2, "--") != 0)
                usageError(std::string("-o takes the file name as it is, not '") + optarg +
                           "'; write -o FILE or --output=FILE");
            options.output = optarg;
            outputGiven = true;
            break;
        case 'i':
            options.inPlace = true;
            options.backupSuffix = optarg ? optarg : "";
            if (options.backupSuffix.find('/') != std::string::npos)
                usageError("the backup suffix of -i cannot hold a '/'");
            break;
        case NOOUT:
            options.noOutput = true;
            break;
        case NO_CATALOGS:
            options.input.catalogs = false;
            break;
        case FORMAT:
            options.format = true;
            break;
        case FORMAT_LOOKAHEAD:
            options.formatLookahead = number("--format-lookahead", optarg, 1024, 1073741824);
            break;
        case GENERATE:
            options.namespaces.generate = true;
            break;
        case PRUNE:
            options.namespaces.prune = true;
            break;
        case KEEP_PREFIXES:
            addKeptPrefixes(options, optarg);
            break;
        case PREFER:
            addPreference(options, optarg);
            break;
        case SAMPLE:
            options.sample = true;
            break;
        case C14N:
        case C14N11:
        case EXC_C14N:
            if (options.canonical)
                usageError("one canonical form at a time: --c14n, --c14n11 or --exc-c14n");
            options.canonical = true;
            options.c14n.method = code == C14N     ? zaq::XmlCanonicalWriter::Method::C14N10
                                  : code == C14N11 ? zaq::XmlCanonicalWriter::Method::C14N11
                                                   : zaq::XmlCanonicalWriter::Method::Exclusive;
            break;
        case HOIST:
            options.hoist = true;
            break;
        case WITHOUT_COMMENTS:
            options.c14n.comments = false;
            break;
        case INCLUSIVE_PREFIXES:
            addInclusivePrefixes(options, optarg);
            break;
        case SELECT:
            options.select = optarg;
            break;
        case ID_ATTRIBUTE:
            options.idAttributes.emplace_back(optarg);
            break;
        case DIGEST:
            options.digest = optarg;
            break;
        case SCHEMA:
            if (*optarg == 0)
                usageError("--schema needs a file name");
            options.input.schemas.emplace_back(optarg);
            break;
        case VALID:
            // Validating against a DTD reads all of it: its external subset
            // and entities too, from local files.
            options.input.validDtd = true;
            options.input.loadExternal = true;
            break;
        case SCHEMA_FROM_DOCUMENT:
            options.input.schemaFromDocument = true;
            break;
        case MAX_ERRORS:
            options.input.maxErrors = number("--max-errors", optarg, 0, 100000000);
            break;
        case TRUST_PATTERNS:
            options.input.trustPatterns = true;
            break;
        case MAX_CONTENT_MODEL:
            options.input.maxContentModel = number("--max-content-model", optarg, 1, 100000000);
            break;
        case MAX_VALIDATION_MEMORY:
            options.input.maxValidationMemory = std::uint64_t(number("--max-validation-memory", optarg, 1, 1048576))
                                                << 20;
            break;
        case MAX_MATCHED_VALUE:
            options.input.maxMatchedValue = number("--max-matched-value", optarg, 1, 1073741824);
            break;
        case LOAD_EXTERNAL:
            options.input.loadExternal = true;
            break;
        case NO_LOAD_EXTERNAL:
            noLoadExternal = true;
            break;
        case MAX_DEPTH:
            options.input.maxDepth = number("--max-depth", optarg, 1, 100000000);
            break;
        case MAX_EXPANSION:
            options.input.maxExpansionFactor = number("--max-expansion", optarg, 0, 1000000);
            break;
        case MAX_ATTRIBUTES:
            options.input.maxAttributes = number("--max-attributes", optarg, 1, 100000000);
            break;
        case MAX_NAMES:
            options.input.maxNames = number("--max-names", optarg, 1, 100000000);
            break;
        case MAX_PREFIXES:
            options.input.maxPrefixes = number("--max-prefixes", optarg, 1, 100000000);
            break;
        case MAX_DTD_MEMORY:
            options.input.maxDtdMemory = std::uint64_t(number("--max-dtd-memory", optarg, 1, 1048576)) << 20;
            break;
        case MAX_NAMESPACES:
            options.namespaces.maxNamespaces = number("--max-namespaces", optarg, 1, 100000000);
            break;
        case POOL_SIZE:
            options.poolSize = number("--pool-size", optarg, 32, MAX_POOL_SIZE);
            break;
        case STATS:
            options.stats = true;
            break;
        case TRACE: {
            char* end = nullptr;
            const long level = std::strtol(optarg, &end, 10);
            if (*optarg == 0 || *end != 0 || level < -1000 || level > 1000)
                usageError(std::string("--trace takes a number, not '") + optarg + "'");
            options.traceLevel = static_cast<int>(level);
            options.traceLevelSet = true;
            break;
        }
        case 'h':
            std::fputs(usageText(), stdout);
            std::exit(0);
        case VERSION:
            std::printf("zaqxml %s (Xerces-C %s)\n", ZAQXML_VERSION, XERCES_FULLVERSIONDOT);
            std::exit(0);
        case ':':
            usageError(word.compare(0, 2, "--") == 0
                           ? word.substr(0, word.find('=')) + " needs a value"
                           : "-" + std::string(1, static_cast<char>(optopt)) + " needs a value");
        default: {
            // getopt_long takes a unique prefix of a long option; one that
            // is the prefix of several is named with its candidates.
            std::string candidates;
            const std::string given = word.substr(2, word.find('=') - 2);
            for (const option* o = LONG_OPTIONS; word.compare(0, 2, "--") == 0 && o->name != nullptr; ++o)
                if (!given.empty() && std::strncmp(o->name, given.c_str(), given.size()) == 0)
                    candidates += std::string(candidates.empty() ? "" : ", ") + "--" + o->name;
            if (candidates.find(',') != std::string::npos)
                usageError("option '--" + given + "' is ambiguous: " + candidates);
            usageError("unknown option '" + word + "'");
        }
        }
    }
    for (int i = optind; i < argc; ++i) {
        if (*argv[i] == 0)
            usageError("an input name is empty");
        options.inputs.emplace_back(argv[i]);
    }
    if (options.sample && !options.inputs.empty())
        usageError("--sample takes no input");
    int standardInputs = 0;
    for (const std::string& input : options.inputs)
        standardInputs += input == "-";
    if (standardInputs > 1)
        usageError("standard input (-) can be read only once");
    if (options.inputs.empty() && !options.sample)
        options.inputs.emplace_back("-");
    if (outputGiven && options.inputs.size() > 1)
        usageError("-o takes one input only (-i rewrites several files in place)");
    if (options.noOutput && (outputGiven || options.inPlace))
        usageError("--noout writes nothing: it goes without -o and -i");
    const bool fromStandardInput = std::find(options.inputs.begin(), options.inputs.end(), "-") != options.inputs.end();
    if (options.inPlace && (outputGiven || options.sample || fromStandardInput))
        usageError("-i rewrites named files in place: not standard input, --sample or with -o");
    if (options.inPlace && !options.digest.empty())
        usageError("--digest writes a digest, not a document: not with -i, which would replace the file with it");
    if ((!options.namespaces.keep.empty() || options.namespaces.keepDefault) && !options.namespaces.prune)
        usageError("--keep-prefixes goes with --prune (without it every binding is kept)");
    checkCanonical(options);
    // A canonical form, or its digest, holds what the external DTD declares
    // (defaults, entities): it is read as --load-external reads it, and one
    // that cannot be read fails the document, unless the user says not to.
    if (noLoadExternal && (!options.canonical || options.input.loadExternal))
        usageError("--no-load-external goes with --c14n, --c14n11 or --exc-c14n, without --load-external");
    if (options.canonical && !noLoadExternal) {
        options.input.loadExternal = true;
        options.input.externalRequired = true;
    }
    if (options.hoist && (options.namespaces.prune || options.namespaces.generate || options.canonical))
        usageError("--hoist moves the input's own declarations: not with --prune, --generate or a canonical form");
    if (options.output == "-")
        options.output.clear();
    return options;
}
