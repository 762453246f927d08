// SPDX-License-Identifier: Apache-2.0
// Pipeline.cpp - reading, rewriting and writing one document.
#include "Pipeline.h"

#include "CanonicalStage.h"
#include "Catalogs.h"
#include "ChildList.h"
#include "Grammars.h"
#include "PatternCheck.h"
#include "DigestSink.h"
#include "DocumentError.h"
#include "HoldingSink.h"
#include "InputStream.h"
#include "NamespaceCollector.h"
#include "ParserEvents.h"
#include "ParserMemory.h"
#include "ParserSetup.h"
#include "XmlRewriter.h"

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLException.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unistd.h>

using namespace xercesc;

namespace {

using Default = XMLPrefixManager::DefaultNamespace;

// The descriptor of a document's input, closed when done with.
struct OpenInput {
    int fd = -1;
    ~OpenInput() {
        if (fd > 2)
            ::close(fd);
    }
};

// What a document's events become, through which stage.
class DocumentOutput {
public:
    virtual ~DocumentOutput() = default;
    virtual void holdUpTo(std::size_t bytes) = 0;
    /// The stage that takes the document's events.
    virtual DocumentEvents& stage() = 0;
    /// Writes what is left; false when the sink failed.
    virtual bool finish() = 0;
    /// Whether the document is validated in this reading (when the run
    /// validates).
    virtual bool validates() const { return true; }
    /// Whether the stage does nothing with the events (a pure check).
    virtual bool discards() const { return false; }
    virtual void abandon() = 0;
};

// --hoist's first reading: the namespaces collected, nothing written.
class CollectOutput : public DocumentOutput {
public:
    explicit CollectOutput(NamespaceCollector& collector) : iCollector(collector) {}
    void holdUpTo(std::size_t) override {}
    DocumentEvents& stage() override { return iCollector; }
    bool finish() override { return true; }
    bool validates() const override { return false; } // the second reading does
    void abandon() override {}

private:
    NamespaceCollector& iCollector;
};

// A pure validator (--noout with validation): the events go nowhere.
class CheckOutput : public DocumentOutput {
public:
    void holdUpTo(std::size_t) override {}
    DocumentEvents& stage() override { return iNothing; }
    bool finish() override { return true; }
    bool discards() const override { return true; }
    void abandon() override {}

private:
    DocumentEvents iNothing;
};

// The rewrite, with the namespace policy's declarations.
class RewriteOutput : public DocumentOutput {
public:
    RewriteOutput(zaq::XmlSink& sink, const ToolOptions& options, XMLPrefixManager& prefixes, const Limits& limits,
                  Diagnostics& diagnostics, const std::vector<NamespaceCollector::Binding>& hoisted)
        : iHold(sink), iOut(iHold), iRewriter(prefixes, iOut, rewriteOptions(options, hoisted), limits, diagnostics) {}
    void holdUpTo(std::size_t bytes) override { iHold.holdUpTo(bytes); }
    DocumentEvents& stage() override { return iRewriter; }
    bool finish() override { return iOut.flush() && iHold.flush(); }
    // Nothing written yet: nothing will be. Else the output ends where the
    // failure was found.
    void abandon() override {
        if (iHold.passing())
            iOut.flush();
        else
            iHold.drop();
    }

private:
    static XmlRewriter::Options rewriteOptions(const ToolOptions& options,
                                               const std::vector<NamespaceCollector::Binding>& hoisted) {
        XmlRewriter::Options rewrite;
        rewrite.hoisted = hoisted;
        rewrite.namespaces = options.namespaces;
        rewrite.namespaces.emptyPrefixForDefault = options.emptyPrefixForDefault;
        rewrite.format = options.format;
        rewrite.formatLookahead = options.formatLookahead;
        return rewrite;
    }

    HoldingSink iHold;
    zaq::XmlTextOutput iOut;
    XmlRewriter iRewriter;
};

// A canonical form, or the digest of one.
class CanonicalOutput : public DocumentOutput {
public:
    CanonicalOutput(zaq::XmlSink& sink, const ToolOptions& options, const Limits& limits, Diagnostics& diagnostics)
        : iSink(sink), iDigest(options.digest.empty() ? nullptr : std::make_unique<DigestSink>(options.digest)),
          iHold(iDigest ? *iDigest : sink), iWriter(iHold, canonicalOptions(options)),
          iStage(iWriter, iHold, selection(options), limits, diagnostics) {}
    void holdUpTo(std::size_t bytes) override { iHold.holdUpTo(bytes); }
    DocumentEvents& stage() override { return iStage; }
    bool finish() override {
        try {
            iWriter.flush();
        } catch (const zaq::XmlWriterError&) {
            return false;
        }
        if (!iDigest)
            return true;
        const std::string line = iDigest->base64() + "\n";
        return iSink.write(line.data(), line.size()) && iSink.flush();
    }
    // Nothing written yet: nothing will be. Else the output ends where the
    // failure was found.
    void abandon() override {
        if (!iHold.passing()) {
            iHold.drop();
            return;
        }
        try {
            iWriter.flush();
        } catch (const zaq::XmlWriterError&) {
            // the sink failed: the failure is the document's already
        }
    }

private:
    static zaq::XmlCanonicalWriter::Options canonicalOptions(const ToolOptions& options) {
        zaq::XmlCanonicalWriter::Options canonical = options.c14n;
        canonical.subtrees = !options.select.empty();
        return canonical;
    }
    static Selection selection(const ToolOptions& options) {
        Selection chosen;
        Selection::parse(options.select, chosen);
        for (const std::string& name : options.idAttributes) {
            std::pair<std::u16string, std::u16string> attribute;
            Selection::parseName(name, attribute.first, attribute.second);
            chosen.idAttributes.push_back(attribute);
        }
        return chosen;
    }

    zaq::XmlSink& iSink;
    std::unique_ptr<DigestSink> iDigest;
    HoldingSink iHold;
    zaq::XmlCanonicalWriter iWriter;
    CanonicalStage iStage;
};

} // namespace

RewriteSession::RewriteSession(const ToolOptions& options, Diagnostics& diagnostics)
    : iMemory(std::make_unique<ParserMemory>(static_cast<unsigned int>(options.poolSize), options.stats)),
      iOwner(OrvWstring(u"zaqxml")),
      iPrefixes(&iOwner, options.emptyPrefixForDefault ? Default::Unprefixed : Default::Prefixed) {
    // Schema locations are read through the catalogs too.
    if ((options.input.loadExternal || !options.input.schemas.empty() || options.input.schemaFromDocument) &&
        options.input.catalogs)
        iCatalogs = std::make_unique<Catalogs>(diagnostics);
}

bool RewriteSession::loadSchemas(const ToolOptions& options, Diagnostics& diagnostics) {
    if (options.input.schemas.empty())
        return true;
    // The schemas a document names may use these grammars' types in unions
    // the parser must check whole: the patterns of those types then go back
    // to it for that document, and so all are held to the backtracking check.
    iGrammars = std::make_unique<Grammars>(true, options.input.schemaFromDocument);
    return iGrammars->load(options.input.schemas, catalogs(), options.input.trustPatterns, diagnostics);
}

RewriteSession::~RewriteSession() = default;

namespace {

// Reads the document once into `output`'s stage; false (reported) when it
// fails. The unread external subset is named in `unreadSubset`.
bool parse(const DocumentInput& input, int fd, const ToolOptions& options, RewriteSession& session,
           Diagnostics& diagnostics, Limits& limits, DocumentOutput& output, std::string& unreadSubset) {
    ParserMemory& memory = session.memory();
    memory.bound(&limits, &diagnostics);
    memory.countDtd(false);
    bool ok = false;
    {
        SecurityManager security;
        ExternalEntityPolicy entities(options.input.loadExternal, diagnostics, session.catalogs(),
                                      options.input.externalRequired);
        RawWindow window; // the document's bytes, while its DTD is read
        auto reader = std::make_unique<ToolReader>(&memory, entities, options.input.loadExternal, &window,
                                                   session.grammars() ? session.grammars()->pool() : nullptr);
        memory.bound(&limits, &diagnostics, &reader->where());
        ParserEvents events(output.stage(), limits, diagnostics);
        if (output.discards())
            events.discardStartTags();
        events.attach(*reader);
        // A reading that does not validate (--hoist's first) is configured
        // as if the run did not.
        InputSettings settings = options.input;
        if (!output.validates()) {
            settings.schemas.clear();
            settings.validDtd = settings.schemaFromDocument = false;
        }
        // Validated: errors are kept apart, and schema locations the
        // document names read from local files only.
        std::unique_ptr<Validity> validity;
        std::unique_ptr<PatternFacets> documentPatterns; // of the schemas the document names
        std::unique_ptr<PatternCheck> patterns;
        std::unique_ptr<ChildList> children;
        ExternalEntityPolicy schemaLocations(true, diagnostics, session.catalogs());
        if (options.input.validating() && output.validates()) {
            validity = std::make_unique<Validity>(diagnostics, options.input.maxErrors);
            memory.boundGrowth(options.input.maxValidationMemory);
            reader->validateInto(validity.get(), options.input.validDtd,
                                 !options.input.schemas.empty() || options.input.schemaFromDocument,
                                 options.input.schemaFromDocument ? &schemaLocations : nullptr,
                                 options.input.maxContentModel,
                                 options.input.trustPatterns ? nullptr : &session.vettedSchemas());
            reader->vetBeside(&options.input.schemas);
            // With the schemas a document names, theirs are taken over as
            // they are read, beside those of --schema.
            if (options.input.schemaFromDocument) {
                documentPatterns = std::make_unique<PatternFacets>(
                    session.grammars() != nullptr ? &session.grammars()->patterns() : nullptr);
                patterns = std::make_unique<PatternCheck>(*documentPatterns, *validity, *reader, true);
                reader->installSchemaValidator(options.input.maxMatchedValue,
                                               [check = patterns.get()] { check->takeOverLoaded(); });
            } else {
                if (session.grammars() != nullptr && !session.grammars()->patterns().empty())
                    patterns = std::make_unique<PatternCheck>(session.grammars()->patterns(), *validity, *reader);
                if (!options.input.schemas.empty())
                    reader->installSchemaValidator(options.input.maxMatchedValue, nullptr);
            }
            children = std::make_unique<ChildList>(*reader);
            events.validate(validity.get(), &memory, patterns.get(), children.get());
        }
        // Its validity errors, once the document is read as far as it goes.
        auto invalid = [&] {
            if (!validity)
                return false;
            validity->finish();
            session.setLastValidityErrors(validity->errors());
            return validity->errors() > 0;
        };
        try {
            if (input.kind == DocumentInput::Kind::Memory) {
                MemBufInputSource source(input.bytes, input.size, input.systemId.c_str(), false, &memory);
                window.view(reinterpret_cast<const char*>(input.bytes), input.size);
                configureReader(*reader, security, scanProlog(input.bytes, input.size) == Prolog::Plain, settings);
                reader->parse(source);
            } else {
                DescriptorInputSource source(fd, input.systemId, limits, &memory);
                const bool plain = source.plainProlog();
                window.record(!plain);
                source.recordInto(&window);
                configureReader(*reader, security, plain, settings);
                reader->parse(source);
            }
            if (invalid()) {
                // Its output is a failed document's.
                output.abandon();
                session.setLastInvalid(true);
            } else {
                ok = output.finish();
                if (!ok)
                    diagnostics.error(input.name, 0, 0,
                                      std::string("cannot write the output: ") + std::strerror(errno));
            }
            unreadSubset = reader->unreadSubset();
        } catch (const SAXParseException& e) {
            invalid();
            output.abandon();
            const std::string message =
                limits.inputBytes() == 0 ? std::string("the document is empty") : utf8(e.getMessage());
            diagnostics.errorIn(utf8(e.getSystemId()), static_cast<unsigned long long>(e.getLineNumber()),
                                static_cast<unsigned long long>(e.getColumnNumber()), message);
        } catch (const DocumentError& e) {
            invalid();
            output.abandon();
            diagnostics.errorIn(e.entity(), e.line(), e.column(), e.what());
        } catch (const OutOfMemoryException&) {
            diagnostics.error(input.name, 0, 0, "out of memory");
        } catch (const XMLException& e) {
            output.abandon();
            diagnostics.error(input.name, 0, 0, utf8(e.getMessage()));
        } catch (const std::bad_alloc&) {
            diagnostics.error(input.name, 0, 0, "out of memory");
        }
        memory.bound(&limits, &diagnostics); // the reader goes first
    }
    memory.bound(nullptr, nullptr);
    memory.boundGrowth(0);
    if (diagnostics.holdsWarnings())
        diagnostics.placeWarnings(0, 0, std::string());
    return ok;
}

// Standard input copied to an unnamed temporary file, for a second reading.
int spool(int fd, Diagnostics& diagnostics, const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir != nullptr && *dir != 0 ? dir : "/tmp") + "/zaqxml-XXXXXX";
    const int copy = ::mkstemp(&path[0]);
    if (copy < 0) {
        diagnostics.error(name, 0, 0, std::string("cannot spool for --hoist: ") + std::strerror(errno));
        return -1;
    }
    ::unlink(path.c_str());
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0 && ::lseek(copy, 0, SEEK_SET) == 0)
                return copy;
            diagnostics.error(name, 0, 0, std::string("cannot spool for --hoist: ") + std::strerror(errno));
            ::close(copy);
            return -1;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(copy, buffer + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0) {
                diagnostics.error(name, 0, 0, std::string("cannot spool for --hoist: ") + std::strerror(errno));
                ::close(copy);
                return -1;
            }
            done += w;
        }
    }
}

} // namespace

bool rewriteDocument(const DocumentInput& input, zaq::XmlSink& sink, const ToolOptions& options,
                     RewriteSession& session, Diagnostics& diagnostics, std::size_t holdBytes) {
    diagnostics.startDocument(input.name, input.systemId);
    session.setLastInvalid(false);
    session.setLastValidityErrors(0);
    OpenInput in;
    if (input.kind == DocumentInput::Kind::File) {
        std::string error;
        in.fd = openInput(input.path, error);
        if (in.fd < 0) {
            diagnostics.error(input.name, 0, 0, "cannot open: " + error);
            return false;
        }
    } else if (input.kind == DocumentInput::Kind::StandardInput) {
        in.fd = 0;
    }
    // --hoist reads a pipe's bytes from a copy.
    if (options.hoist && in.fd >= 0 && ::lseek(in.fd, 0, SEEK_CUR) < 0) {
        const int copy = spool(in.fd, diagnostics, input.name);
        if (copy < 0)
            return false;
        if (in.fd > 2)
            ::close(in.fd);
        in.fd = copy;
    }
    const std::uint64_t inMemory = input.kind == DocumentInput::Kind::Memory ? input.size : 0;
    std::string unreadSubset;

    // --hoist reads the document twice: its declarations first.
    std::vector<NamespaceCollector::Binding> hoisted;
    if (options.hoist) {
        Limits first(options.input, inMemory);
        NamespaceCollector collector(first, diagnostics, options.namespaces.maxNamespaces);
        diagnostics.muteWarnings(true); // the second reading gives them
        CollectOutput collecting(collector);
        const bool read = parse(input, in.fd, options, session, diagnostics, first, collecting, unreadSubset);
        diagnostics.muteWarnings(false);
        if (!read)
            return false;
        hoisted = collector.hoistable();
        if (in.fd >= 0 && ::lseek(in.fd, 0, SEEK_SET) != 0) {
            diagnostics.error(input.name, 0, 0,
                              std::string("cannot read it twice for --hoist: ") + std::strerror(errno));
            return false;
        }
    }

    Limits limits(options.input, inMemory);
    std::unique_ptr<DocumentOutput> output;
    if (options.noOutput && options.input.validating() && !options.canonical && !options.hoist)
        output = std::make_unique<CheckOutput>();
    else if (options.canonical)
        output = std::make_unique<CanonicalOutput>(sink, options, limits, diagnostics);
    else
        output = std::make_unique<RewriteOutput>(sink, options, session.prefixes(), limits, diagnostics, hoisted);
    if (holdBytes > 0)
        output->holdUpTo(holdBytes);
    const bool ok = parse(input, in.fd, options, session, diagnostics, limits, *output, unreadSubset);
    if (ok && !unreadSubset.empty())
        diagnostics.warning(input.name, 0, 0,
                            "the external DTD subset '" + unreadSubset +
                                "' was not read: attribute defaults it declares are not in the output "
                                "(--load-external reads it)");
    if (options.stats) {
        if (options.input.validating())
            std::fprintf(stderr, "zaqxml: %s: validated (%s): %lu validity errors, the heap grew by %llu KiB at most\n",
                         input.name.c_str(),
                         options.input.schemas.empty() ? "grammars of the document"
                                                       : "grammars compiled once, shared by every document",
                         session.lastValidityErrors(),
                         static_cast<unsigned long long>(session.memory().growthPeak() >> 10));
        session.memory().report(stderr, input.name.c_str());
    }
    return ok;
}
