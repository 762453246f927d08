// zaqxml.cpp - rewrites XML documents with namespace declarations chosen by
// the prefix manager, parsing with Xerces-C on the pooled memory manager.
#include "OrvFatalException.h"
#include "OrvLog.h"
#include "OrvXmlMemoryManager.h"
#include "XMLPrefixManager.h"
#include "XmlRewriter.h"

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/StdInInputSource.hpp>
#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

// The bundled sample, embedded at build time.
extern const unsigned char zaqxmlSample[];
extern const std::size_t zaqxmlSampleSize;

using namespace xercesc;

namespace {

const char* const VERSION = ZAQXML_VERSION;

const char* const USAGE = "usage: zaqxml [options] [INPUT ...]\n"
                          "Rewrites each INPUT (default: the bundled sample; - for standard input) to\n"
                          "standard output, with the namespace declarations that the prefix manager decides.\n"
                          "\n"
                          "  -o FILE              write to FILE instead (one input only); FILE appears\n"
                          "                       whole or not at all\n"
                          "  --generate           ignore the prefixes of the input: every namespace gets its\n"
                          "                       registered (--prefer) or a generated prefix (NS1, NS2, ...)\n"
                          "  --prefer PREFIX=URI  register a preferred prefix for URI (repeatable)\n"
                          "  --pool-size N        pool size of the memory manager (default 1024, at least 32)\n"
                          "  --stats              after each document, print the memory manager's pools,\n"
                          "                       buffers and heap requests to standard error\n"
                          "  --trace LEVEL        set the trace filter (3: memory manager, 4: also prefix\n"
                          "                       manager); records go to standard error\n"
                          "  -h, --help           show this help\n"
                          "  --version            show the version\n"
                          "\n"
                          "Environment:\n"
                          "  VOSK_USE_EMPTY_PREFIX_FOR_DEFAULT_NS  when defined (any value), an element whose\n"
                          "                       namespace is the default namespace in force is always\n"
                          "                       written unprefixed, even if a prefix for it is newer\n"
                          "\n"
                          "Exit status: 0 success, 1 usage error, 2 an input could not be rewritten.\n";

/// The memory manager, counting where each request went.
class CountingManager : public OrvXmlMemoryManager {
public:
    explicit CountingManager(unsigned int poolSize) : OrvXmlMemoryManager(poolSize) {}

    void* allocate(XMLSize_t size) override {
        const bool buffer0Busy = isBuffer65536InUse();
        const bool buffer1Busy = isBuffer163948InUse();
        void* p = OrvXmlMemoryManager::allocate(size);
        if (size <= 2048 && getPool(poolIndex(size))->contains(p))
            ++iPoolRequests[poolIndex(size)];
        else if (!buffer0Busy && isBuffer65536InUse())
            ++iBufferRequests[0];
        else if (!buffer1Busy && isBuffer163948InUse())
            ++iBufferRequests[1];
        else
            ++iHeapRequests;
        return p;
    }

    void report(std::FILE* out, const char* name) {
        std::fprintf(out, "zaqxml: %s: memory manager (pool size %u)\n", name, getPool(0)->getPoolSize());
        std::fprintf(out, "  %-7s %7s %7s %7s %10s %10s\n", "pool", "chunks", "in use", "high", "requests",
                     "chunk size");
        for (unsigned i = 0; i < getPoolCount(); ++i) {
            const MemoryPool* pool = getPool(i);
            std::fprintf(out, "  %-7u %7u %7d %7d %10lu %10u\n", i, pool->getPoolSize(), pool->getNalloc(),
                         pool->getHighwater(), iPoolRequests[i], pool->getChunkSize());
        }
        std::fprintf(out, "  buffer 65536: %lu requests, %s\n", iBufferRequests[0],
                     isBuffer65536InUse() ? "in use" : "free");
        std::fprintf(out, "  buffer 163948: %lu requests, %s\n", iBufferRequests[1],
                     isBuffer163948InUse() ? "in use" : "free");
        std::fprintf(out, "  heap: %lu requests\n", iHeapRequests);
        for (auto& n : iPoolRequests)
            n = 0;
        iBufferRequests[0] = iBufferRequests[1] = iHeapRequests = 0;
    }

private:
    static unsigned poolIndex(XMLSize_t size) {
        unsigned index = 0;
        for (XMLSize_t chunk = 64; chunk < size; chunk *= 2)
            ++index;
        return index;
    }

    unsigned long iPoolRequests[6] = {};
    unsigned long iBufferRequests[2] = {};
    unsigned long iHeapRequests = 0;
};

struct Options {
    std::vector<std::string> inputs;
    std::string output;
    bool generate = false;
    bool stats = false;
    unsigned long poolSize = 1024;
    std::vector<std::pair<std::string, std::string>> preferred; // prefix, URI
};

std::string transcode(const XMLCh* text) { return text ? OrvWstring(text).toUtf8() : std::string(); }

bool isNameStart(unsigned char c) { return c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80; }
bool isNameChar(unsigned char c) { return isNameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9'); }

// An NCName, approximated for ASCII and accepting any non-ASCII character.
bool isNcName(const std::string& name) {
    if (name.empty() || !isNameStart(static_cast<unsigned char>(name[0])))
        return false;
    for (unsigned char c : name)
        if (!isNameChar(c))
            return false;
    return true;
}

[[noreturn]] void usageError(const std::string& message) {
    std::fprintf(stderr, "zaqxml: %s\nTry 'zaqxml --help'.\n", message.c_str());
    std::exit(1);
}

Options parseArguments(int argc, char** argv) {
    Options options;
    bool onlyInputs = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* option) -> std::string {
            if (i + 1 >= argc)
                usageError(std::string(option) + " needs a value");
            return argv[++i];
        };
        if (onlyInputs || arg == "-" || arg.empty() || arg[0] != '-') {
            options.inputs.push_back(arg);
        } else if (arg == "--") {
            onlyInputs = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(USAGE, stdout);
            std::exit(0);
        } else if (arg == "--version") {
            std::printf("zaqxml %s\n", VERSION);
            std::exit(0);
        } else if (arg == "-o") {
            options.output = value("-o");
        } else if (arg == "--generate") {
            options.generate = true;
        } else if (arg == "--stats") {
            options.stats = true;
        } else if (arg == "--prefer") {
            const std::string spec = value("--prefer");
            const std::size_t eq = spec.find('=');
            if (eq == std::string::npos)
                usageError("--prefer takes PREFIX=URI, not '" + spec + "'");
            const std::string prefix = spec.substr(0, eq);
            const std::string uri = spec.substr(eq + 1);
            const std::string xmlUri = OrvWstring(XMLPrefixManager::XML_NAMESPACE_URI).toUtf8();
            const std::string xmlnsUri = OrvWstring(XMLPrefixManager::XMLNS_NAMESPACE_URI).toUtf8();
            if (!isNcName(prefix))
                usageError("--prefer: '" + prefix + "' is not a valid prefix (an NCName)");
            if (prefix.compare(0, 5, "xmlns") == 0)
                usageError("--prefer: prefixes starting with 'xmlns' are reserved");
            if (uri.empty())
                usageError("--prefer: the namespace URI of '" + prefix + "' is empty");
            if (prefix == "xml" && uri != xmlUri)
                usageError("--prefer: the prefix 'xml' is bound to " + xmlUri + " only");
            if (prefix != "xml" && (uri == xmlUri || uri == xmlnsUri))
                usageError("--prefer: " + uri + " is reserved and takes no other prefix");
            options.preferred.emplace_back(prefix, uri);
        } else if (arg == "--pool-size") {
            const std::string text = value("--pool-size");
            char* end = nullptr;
            errno = 0;
            const unsigned long n = std::strtoul(text.c_str(), &end, 10);
            if (text.empty() || *end != 0 || errno != 0 || text[0] == '-' || n > 0xFFFFFFFFul)
                usageError("--pool-size takes a whole number, not '" + text + "'");
            options.poolSize = n;
        } else if (arg == "--trace") {
            const std::string text = value("--trace");
            char* end = nullptr;
            const long level = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != 0 || level < -1000 || level > 1000)
                usageError("--trace takes a number, not '" + text + "'");
            OrvLog::iEffectiveLogFilter = static_cast<int>(level);
        } else {
            usageError("unknown option '" + arg + "'");
        }
    }
    if (!options.output.empty() && options.inputs.size() > 1)
        usageError("-o takes one input only");
    return options;
}

/// The temporary file beside the output, renamed over it once complete.
class AtomicOutput {
public:
    explicit AtomicOutput(const std::string& path) : iPath(path), iTemp(path + ".XXXXXX") {
        const int fd = mkstemp(&iTemp[0]);
        if (fd < 0)
            return;
        iFile = fdopen(fd, "wb");
        if (!iFile) {
            close(fd);
            unlink(iTemp.c_str());
        }
    }
    ~AtomicOutput() {
        if (iFile) {
            std::fclose(iFile);
            unlink(iTemp.c_str());
        }
    }
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;

    std::FILE* file() const { return iFile; }
    bool commit() {
        const bool written = std::fflush(iFile) == 0 && fsync(fileno(iFile)) == 0;
        const bool closed = std::fclose(iFile) == 0;
        iFile = nullptr;
        if (written && closed && std::rename(iTemp.c_str(), iPath.c_str()) == 0)
            return true;
        unlink(iTemp.c_str());
        return false;
    }

private:
    std::string iPath;
    std::string iTemp;
    std::FILE* iFile = nullptr;
};

/// Rewrites one document; prints one line on failure and returns false.
bool rewrite(const std::string& input, std::FILE* out, XMLPrefixManager& prefixes, CountingManager& memory,
             const Options& options) {
    const bool sample = input.empty();
    const bool standardInput = input == "-";
    const std::string name = sample ? std::string("(sample)") : standardInput ? std::string("(stdin)") : input;
    if (!sample && !standardInput) {
        std::FILE* probe = std::fopen(input.c_str(), "rb");
        if (!probe) {
            std::fprintf(stderr, "%s: cannot open: %s\n", name.c_str(), std::strerror(errno));
            return false;
        }
        std::fclose(probe);
    }

    prefixes.reset();
    for (const auto& p : options.preferred)
        prefixes.addNamespace(OrvWstring::fromUtf8(p.second), OrvWstring::fromUtf8(p.first));

    Utf8Output output(out);
    XmlRewriter::Options rewriteOptions;
    rewriteOptions.generate = options.generate;
    XmlRewriter handler(prefixes, output, rewriteOptions);
    bool ok = false;
    {
        // Untrusted input: no external DTD or entity is fetched, and entity
        // expansion is bounded.
        SecurityManager security;
        std::unique_ptr<SAX2XMLReader> reader(XMLReaderFactory::createXMLReader(&memory));
        reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
        reader->setFeature(XMLUni::fgSAX2CoreNameSpacePrefixes, false);
        reader->setFeature(XMLUni::fgSAX2CoreValidation, false);
        reader->setFeature(XMLUni::fgXercesLoadExternalDTD, false);
        reader->setFeature(XMLUni::fgXercesDisableDefaultEntityResolution, true);
        reader->setProperty(XMLUni::fgXercesSecurityManager, &security);
        reader->setContentHandler(&handler);
        reader->setLexicalHandler(&handler);
        reader->setErrorHandler(&handler);
        try {
            if (sample) {
                MemBufInputSource source(zaqxmlSample, zaqxmlSampleSize, "sample.xml", false, &memory);
                reader->parse(source);
            } else if (standardInput) {
                StdInInputSource source(&memory);
                reader->parse(source);
            } else {
                XMLCh* path = XMLString::transcode(input.c_str(), &memory);
                std::unique_ptr<LocalFileInputSource> source;
                try {
                    source.reset(new LocalFileInputSource(path, &memory));
                } catch (...) {
                    XMLString::release(&path, &memory);
                    throw;
                }
                XMLString::release(&path, &memory);
                reader->parse(*source);
            }
            ok = output.flush();
            if (!ok)
                std::fprintf(stderr, "%s: cannot write the output: %s\n", name.c_str(), std::strerror(errno));
        } catch (const SAXParseException& e) {
            output.flush();
            std::fprintf(stderr, "%s:%llu:%llu: %s\n", name.c_str(), static_cast<unsigned long long>(e.getLineNumber()),
                         static_cast<unsigned long long>(e.getColumnNumber()), transcode(e.getMessage()).c_str());
        } catch (const OutOfMemoryException&) {
            std::fprintf(stderr, "%s: out of memory\n", name.c_str());
        } catch (const XMLException& e) {
            output.flush();
            std::fprintf(stderr, "%s: %s\n", name.c_str(), transcode(e.getMessage()).c_str());
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "%s: out of memory\n", name.c_str());
        }
    }
    if (options.stats)
        memory.report(stderr, name.c_str());
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    Options options = parseArguments(argc, argv);
    if (options.inputs.empty())
        options.inputs.push_back(std::string()); // the bundled sample

    try {
        XMLPlatformUtils::Initialize();
    } catch (const XMLException& e) {
        std::fprintf(stderr, "zaqxml: cannot initialise the XML parser: %s\n", transcode(e.getMessage()).c_str());
        return 2;
    }

    int status = 0;
    {
        std::unique_ptr<CountingManager> memory;
        try {
            memory = std::make_unique<CountingManager>(static_cast<unsigned int>(options.poolSize));
        } catch (const OrvFatalException& e) {
            std::fprintf(stderr, "zaqxml: --pool-size %lu: the memory manager needs at least 32 (%s)\n",
                         options.poolSize, e.what());
            XMLPlatformUtils::Terminate();
            return 1;
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "zaqxml: --pool-size %lu: out of memory\n", options.poolSize);
            XMLPlatformUtils::Terminate();
            return 1;
        }
        OrvNamedLogSource owner(OrvWstring(u"zaqxml"));
        XMLPrefixManager prefixes(&owner);

        for (const std::string& input : options.inputs) {
            if (options.output.empty()) {
                if (!rewrite(input, stdout, prefixes, *memory, options))
                    status = 2;
                continue;
            }
            AtomicOutput file(options.output);
            if (!file.file()) {
                std::fprintf(stderr, "%s: cannot create: %s\n", options.output.c_str(), std::strerror(errno));
                status = 2;
                continue;
            }
            if (!rewrite(input, file.file(), prefixes, *memory, options)) {
                status = 2;
                continue;
            }
            if (!file.commit()) {
                std::fprintf(stderr, "%s: cannot write: %s\n", options.output.c_str(), std::strerror(errno));
                status = 2;
            }
        }
    }
    if (std::fflush(stdout) != 0 && status == 0) {
        std::fprintf(stderr, "zaqxml: cannot write the output: %s\n", std::strerror(errno));
        status = 2;
    }
    XMLPlatformUtils::Terminate();
    return status;
}
