// SPDX-License-Identifier: Apache-2.0
// Pipeline.h - one document rewritten: input, parser, rewriter and output
// wired together, callable from the tool, the tests and the fuzzers alike.
#ifndef ZAQXML_PIPELINE_H
#define ZAQXML_PIPELINE_H

#include "Diagnostics.h"
#include "ToolOptions.h"
#include "XMLPrefixManager.h"
#include "XmlSink.h"

#include <cstddef>
#include <memory>
#include <set>
#include <string>

class Catalogs;
class Grammars;
class ParserMemory;

/// A document to rewrite: a named file, standard input, or bytes in memory.
struct DocumentInput {
    enum class Kind { File, StandardInput, Memory };
    Kind kind = Kind::StandardInput;
    std::string path;                     ///< for File
    const unsigned char* bytes = nullptr; ///< for Memory, not owned
    std::size_t size = 0;                 ///< for Memory
    std::string name = "(stdin)";         ///< in messages
    std::string systemId = "stdin";       ///< the base of relative entities

    static DocumentInput file(const std::string& path) { return {Kind::File, path, nullptr, 0, path, path}; }
    static DocumentInput standardInput() { return DocumentInput(); }
    static DocumentInput memory(const void* bytes, std::size_t size, const std::string& name,
                                const std::string& systemId) {
        return {Kind::Memory, std::string(), static_cast<const unsigned char*>(bytes), size, name, systemId};
    }
};

/// What a run keeps from one document to the next: the parser's memory
/// manager, the prefix manager, and the XML catalogs where --load-external
/// may use them.
class RewriteSession {
public:
    /// Throws std::bad_alloc when the pools of --pool-size cannot be made.
    RewriteSession(const ToolOptions& options, Diagnostics& diagnostics);
    ~RewriteSession();
    ParserMemory& memory() { return *iMemory; }
    XMLPrefixManager& prefixes() { return iPrefixes; }
    const Catalogs* catalogs() const { return iCatalogs.get(); }
    /// Compiles the schemas of --schema, once for the run; false (reported
    /// once) when one cannot be used.
    bool loadSchemas(const ToolOptions& options, Diagnostics& diagnostics);
    /// The compiled schemas; null without --schema.
    const Grammars* grammars() const { return iGrammars.get(); }
    Grammars* grammars() { return iGrammars.get(); }
    /// The schemas documents named whose patterns were checked.
    std::set<std::string>& vettedSchemas() { return iVetted; }
    /// Whether the last document was found invalid (rather than malformed).
    bool lastInvalid() const { return iLastInvalid; }
    void setLastInvalid(bool invalid) { iLastInvalid = invalid; }
    /// The validity errors of the last document validated, for --stats.
    unsigned long lastValidityErrors() const { return iLastValidityErrors; }
    void setLastValidityErrors(unsigned long errors) { iLastValidityErrors = errors; }

private:
    std::unique_ptr<ParserMemory> iMemory;
    OrvNamedLogSource iOwner;
    XMLPrefixManager iPrefixes;
    std::unique_ptr<Catalogs> iCatalogs;
    std::unique_ptr<Grammars> iGrammars;
    bool iLastInvalid = false;
    std::set<std::string> iVetted;
    unsigned long iLastValidityErrors = 0;
};

/// Rewrites one document to `sink` as the options say, reporting through
/// `diagnostics`; false when it fails (one message says why) or, validated,
/// is invalid (its validity errors say why; `session.lastInvalid()`). The first
/// `holdBytes` of output are kept back until the document is known to be
/// good, so that a document that fails early leaves nothing in the sink;
/// past that, the output streams and a failure leaves it where it stopped.
bool rewriteDocument(const DocumentInput& input, zaq::XmlSink& sink, const ToolOptions& options,
                     RewriteSession& session, Diagnostics& diagnostics, std::size_t holdBytes = 0);

#endif
