// SPDX-License-Identifier: Apache-2.0
// zaqxml.cpp - rewrites XML documents with namespace declarations chosen by
// the prefix manager, parsing with Xerces-C on the pooled memory manager.
#include "Diagnostics.h"
#include "DocumentError.h"
#include "InputPolicy.h"
#include "OrvLog.h"
#include "OrvXmlMemoryManager.h"
#include "OutputFile.h"
#include "ParserMemory.h"
#include "ToolOptions.h"
#include "XMLPrefixManager.h"
#include "XmlRewriter.h"

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// The bundled sample, embedded at build time.
extern const unsigned char zaqxmlSample[];
extern const std::size_t zaqxmlSampleSize;

using namespace xercesc;

namespace {

/// Rewrites one document; prints one line on failure and returns false.
bool rewrite(const std::string& input, std::FILE* out, XMLPrefixManager& prefixes, ParserMemory& memory,
             const ToolOptions& options, const Catalogs* catalogs) {
    const bool sample = options.sample;
    const bool standardInput = !sample && input == "-";
    const std::string name = sample ? std::string("(sample)") : standardInput ? std::string("(stdin)") : input;
    int fd = standardInput ? 0 : -1;
    if (!sample && !standardInput) {
        std::string error;
        fd = openInput(input, error);
        if (fd < 0) {
            report(name, 0, 0, "cannot open: " + error);
            return false;
        }
    }
    struct Closer {
        int fd;
        ~Closer() {
            if (fd > 2)
                close(fd);
        }
    } closer{fd};

    std::uint64_t bytesRead = sample ? zaqxmlSampleSize : 0;
    XmlFileSink outSink(out);
    XmlTextOutput output(outSink);
    // On standard output nothing can be taken back: a document that fails
    // in its first megabyte leaves no fragment there, as xmllint leaves none.
    if (out == stdout)
        output.holdUpTo(std::size_t(1) << 20);
    XmlRewriter::Options rewriteOptions;
    rewriteOptions.namespaces = options.namespaces;
    rewriteOptions.namespaces.emptyPrefixForDefault = options.emptyPrefixForDefault;
    rewriteOptions.loadExternal = options.input.loadExternal;
    rewriteOptions.name = name;
    rewriteOptions.limits = options.input;
    rewriteOptions.format = options.format;
    rewriteOptions.inputBytes = &bytesRead;
    XmlRewriter handler(prefixes, output, rewriteOptions);
    // A position inside an external entity is given with the entity's name.
    const std::string systemId = sample ? std::string("sample.xml") : standardInput ? std::string("stdin") : input;
    auto where = [&](const std::string& entity) {
        return entity.empty() || entity == systemId ? name : name + " (entity " + entity + ")";
    };
    memory.bound(options.input, &bytesRead, handler.locatorSlot());
    bool ok = false;
    {
        SecurityManager security;
        ExternalEntityPolicy entities(options.input.loadExternal, rewriteOptions.name, catalogs);
        auto reader = std::make_unique<ToolReader>(&memory, entities, options.input.loadExternal);
        handler.useDeclaredTypes(&reader->declaredTypes());
        try {
            if (sample) {
                MemBufInputSource source(zaqxmlSample, zaqxmlSampleSize, "sample.xml", false, &memory);
                configureReader(*reader, security, scanProlog(zaqxmlSample, zaqxmlSampleSize) == Prolog::Plain,
                                options.input.maxAttributes);
                handler.attach(*reader);
                reader->parse(source);
            } else {
                DescriptorInputSource source(fd, systemId, bytesRead, options.input.maxAttributes, &memory);
                configureReader(*reader, security, source.plainProlog(), options.input.maxAttributes);
                handler.attach(*reader);
                reader->parse(source);
            }
            ok = output.flush();
            if (!ok)
                report(name, 0, 0, std::string("cannot write the output: ") + std::strerror(errno));
            if (ok && !reader->unreadSubset().empty())
                report(name, 0, 0,
                       "warning: the external DTD subset '" + reader->unreadSubset() +
                           "' was not read: attribute defaults it declares are not in the output (--load-external "
                           "reads it)");
        } catch (const SAXParseException& e) {
            output.abandon();
            const std::string message = bytesRead == 0 ? std::string("the document is empty") : utf8(e.getMessage());
            report(where(utf8(e.getSystemId())), static_cast<unsigned long long>(e.getLineNumber()),
                   static_cast<unsigned long long>(e.getColumnNumber()), message);
        } catch (const DocumentError& e) {
            output.abandon();
            report(where(e.entity()), e.line(), e.column(), e.what());
        } catch (const OutOfMemoryException&) {
            report(name, 0, 0, "out of memory");
        } catch (const XMLException& e) {
            output.abandon();
            report(name, 0, 0, utf8(e.getMessage()));
        } catch (const std::bad_alloc&) {
            report(name, 0, 0, "out of memory");
        }
    }
    memory.bound(options.input, nullptr);
    if (options.stats)
        memory.report(stderr, name.c_str());
    return ok;
}

// The original of a file rewritten in place, kept under its name plus
// `suffix` (a later rename puts the rewrite in its place): a second link to
// it, or a copy where links cannot be made. An older backup is replaced.
bool keepBackup(const std::string& input, const std::string& suffix, std::string& error) {
    char resolved[PATH_MAX];
    const std::string original = ::realpath(input.c_str(), resolved) != nullptr ? resolved : input;
    const std::string backup = input + suffix;
    if (::unlink(backup.c_str()) != 0 && errno != ENOENT) {
        error = std::strerror(errno);
        return false;
    }
    if (::link(original.c_str(), backup.c_str()) == 0)
        return true;
    std::FILE* from = std::fopen(original.c_str(), "rb");
    std::FILE* to = from != nullptr ? std::fopen(backup.c_str(), "wb") : nullptr;
    bool ok = from != nullptr && to != nullptr;
    char buffer[1 << 16];
    for (std::size_t n; ok && (n = std::fread(buffer, 1, sizeof buffer, from)) > 0;)
        ok = std::fwrite(buffer, 1, n, to) == n;
    ok = ok && !std::ferror(from);
    if (!ok)
        error = std::strerror(errno);
    if (from != nullptr)
        std::fclose(from);
    if (to != nullptr && std::fclose(to) != 0 && ok) {
        error = std::strerror(errno);
        ok = false;
    }
    return ok;
}

// -i rewrites each input once, and a backup never replaces an input: no
// file may be given twice (under any name), nor be another one's backup.
bool inPlaceInputsApart(const std::vector<std::string>& inputs, const std::string& suffix) {
    std::map<std::pair<dev_t, ino_t>, std::string> files;
    for (const std::string& input : inputs) {
        struct stat status;
        if (::stat(input.c_str(), &status) != 0)
            continue; // reported when it is read
        auto [file, added] = files.emplace(std::make_pair(status.st_dev, status.st_ino), input);
        if (!added) {
            std::fprintf(stderr, "zaqxml: -i: '%s' and '%s' are the same file\n", printable(file->second).c_str(),
                         printable(input).c_str());
            return false;
        }
    }
    for (const std::string& input : inputs) {
        struct stat status;
        if (suffix.empty() || ::stat((input + suffix).c_str(), &status) != 0)
            continue;
        auto other = files.find(std::make_pair(status.st_dev, status.st_ino));
        if (other != files.end()) {
            std::fprintf(stderr, "zaqxml: -i%s: the backup of '%s' would replace the input '%s'\n",
                         printable(suffix).c_str(), printable(input).c_str(), printable(other->second).c_str());
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const ToolOptions options = parseOptions(argc, argv);
    try {
        XMLPlatformUtils::Initialize();
    } catch (const XMLException& e) {
        std::fprintf(stderr, "zaqxml: cannot initialise the XML parser: %s\n", utf8(e.getMessage()).c_str());
        return 2;
    }

    int status = 0;
    {
        std::unique_ptr<ParserMemory> memory;
        try {
            memory = std::make_unique<ParserMemory>(static_cast<unsigned int>(options.poolSize));
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "zaqxml: --pool-size %lu: out of memory\n", options.poolSize);
            XMLPlatformUtils::Terminate();
            return 2;
        }
        OrvNamedLogSource owner(OrvWstring(u"zaqxml"));
        // The environment switch is read once, here, for the manager and the
        // rewriter alike.
        using Default = XMLPrefixManager::DefaultNamespace;
        XMLPrefixManager prefixes(&owner, options.emptyPrefixForDefault ? Default::Unprefixed : Default::Prefixed);
        std::unique_ptr<Catalogs> catalogs;
        if (options.input.loadExternal && options.input.catalogs)
            catalogs = std::make_unique<Catalogs>();

        const std::vector<std::string> inputs = options.sample ? std::vector<std::string>{"(sample)"} : options.inputs;
        if (options.inPlace && !inPlaceInputsApart(inputs, options.backupSuffix)) {
            XMLPlatformUtils::Terminate();
            return 1;
        }
        for (const std::string& input : inputs) {
            struct stat kind;
            if (options.inPlace && ::stat(input.c_str(), &kind) == 0 && !S_ISREG(kind.st_mode)) {
                // A FIFO or a device would be opened to write, and block.
                report(input, 0, 0, "cannot rewrite in place: not a regular file");
                status = 2;
                continue;
            }
            if (options.noOutput) {
                // Checked as it would be rewritten, the output discarded.
                std::FILE* nowhere = std::fopen("/dev/null", "w");
                if (nowhere == nullptr || !rewrite(input, nowhere, prefixes, *memory, options, catalogs.get()))
                    status = 2;
                if (nowhere != nullptr)
                    std::fclose(nowhere);
                continue;
            }
            if (options.output.empty() && !options.inPlace) {
                if (!rewrite(input, stdout, prefixes, *memory, options, catalogs.get()))
                    status = 2;
                continue;
            }
            const std::string& target = options.inPlace ? input : options.output;
            OutputFile file(target);
            if (!file.file()) {
                report(target, 0, 0, "cannot create: " + file.error());
                status = 2;
                continue;
            }
            if (!rewrite(input, file.file(), prefixes, *memory, options, catalogs.get())) {
                status = 2;
                continue;
            }
            std::string error;
            if (options.inPlace && !options.backupSuffix.empty() && !keepBackup(input, options.backupSuffix, error)) {
                report(input, 0, 0,
                       "cannot keep the original as '" + input + options.backupSuffix + "': " + error +
                           "; the file is left as it was");
                status = 2;
                continue;
            }
            if (!file.commit()) {
                report(target, 0, 0, "cannot write: " + file.error());
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
