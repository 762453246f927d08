// SPDX-License-Identifier: Apache-2.0
// Pipeline.cpp - reading, rewriting and writing one document.
#include "Pipeline.h"

#include "DocumentError.h"
#include "InputStream.h"
#include "ParserSetup.h"
#include "XmlRewriter.h"

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLException.hpp>

#include <cerrno>
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

} // namespace

RewriteSession::RewriteSession(const ToolOptions& options, Diagnostics& diagnostics)
    : iMemory(std::make_unique<ParserMemory>(static_cast<unsigned int>(options.poolSize))),
      iOwner(OrvWstring(u"zaqxml")),
      iPrefixes(&iOwner, options.emptyPrefixForDefault ? Default::Unprefixed : Default::Prefixed) {
    if (options.input.loadExternal && options.input.catalogs)
        iCatalogs = std::make_unique<Catalogs>(diagnostics);
}

bool rewriteDocument(const DocumentInput& input, XmlSink& sink, const ToolOptions& options, RewriteSession& session,
                     Diagnostics& diagnostics, std::size_t holdBytes) {
    diagnostics.startDocument(input.name, input.systemId);
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

    Limits limits(options.input, input.kind == DocumentInput::Kind::Memory ? input.size : 0);
    XmlTextOutput output(sink);
    if (holdBytes > 0)
        output.holdUpTo(holdBytes);
    XmlRewriter::Options rewriteOptions;
    rewriteOptions.namespaces = options.namespaces;
    rewriteOptions.namespaces.emptyPrefixForDefault = options.emptyPrefixForDefault;
    rewriteOptions.format = options.format;
    XmlRewriter handler(session.prefixes(), output, rewriteOptions, limits, diagnostics);
    ParserMemory& memory = session.memory();
    memory.bound(&limits, &diagnostics);
    bool ok = false;
    {
        SecurityManager security;
        ExternalEntityPolicy entities(options.input.loadExternal, diagnostics, session.catalogs());
        auto reader = std::make_unique<ToolReader>(&memory, entities, options.input.loadExternal);
        handler.useDeclaredTypes(&reader->declaredTypes());
        try {
            if (input.kind == DocumentInput::Kind::Memory) {
                MemBufInputSource source(input.bytes, input.size, input.systemId.c_str(), false, &memory);
                configureReader(*reader, security, scanProlog(input.bytes, input.size) == Prolog::Plain, options.input);
                handler.attach(*reader);
                reader->parse(source);
            } else {
                DescriptorInputSource source(in.fd, input.systemId, limits, &memory);
                configureReader(*reader, security, source.plainProlog(), options.input);
                handler.attach(*reader);
                reader->parse(source);
            }
            ok = output.flush();
            if (!ok)
                diagnostics.error(input.name, 0, 0, std::string("cannot write the output: ") + std::strerror(errno));
            if (ok && !reader->unreadSubset().empty())
                diagnostics.warning(input.name, 0, 0,
                                    "the external DTD subset '" + reader->unreadSubset() +
                                        "' was not read: attribute defaults it declares are not in the output "
                                        "(--load-external reads it)");
        } catch (const SAXParseException& e) {
            output.abandon();
            const std::string message =
                limits.inputBytes() == 0 ? std::string("the document is empty") : utf8(e.getMessage());
            diagnostics.errorIn(utf8(e.getSystemId()), static_cast<unsigned long long>(e.getLineNumber()),
                                static_cast<unsigned long long>(e.getColumnNumber()), message);
        } catch (const DocumentError& e) {
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
    }
    memory.bound(nullptr, nullptr);
    diagnostics.setLocator(nullptr);
    if (options.stats)
        memory.report(stderr, input.name.c_str());
    return ok;
}
