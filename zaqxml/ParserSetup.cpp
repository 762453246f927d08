// SPDX-License-Identifier: Apache-2.0
// ParserSetup.cpp - the parser's features, its reader, and which external
// entities it may read.
#include "ParserSetup.h"

#include "DocumentError.h"
#include "Grammars.h"
#include "InputStream.h"

#include "OrvWstring.h"

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLValidityCodes.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/util/XMLResourceIdentifier.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLURL.hpp>
#include <xercesc/util/XMLUni.hpp>
#include <xercesc/validators/DTD/DTDGrammar.hpp>
#include <xercesc/validators/common/ContentSpecNode.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace xercesc;

namespace {

// What a skipped part of the DTD reads as: a blank, which declares nothing.
// (Xerces-C leaks a little on an external subset of no characters at all.)
InputSource* blankDeclarations(const XMLCh* systemId) {
    static const XMLByte blank[] = {' '};
    return new MemBufInputSource(blank, sizeof blank, systemId, false);
}

// The path of a file: URL's path, with its %XX escapes undone; false where
// one is malformed or undoes to a NUL, which would cut the path short.
bool decodePath(const std::string& escaped, std::string& path) {
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '%') {
            path.push_back(escaped[i]);
            continue;
        }
        if (i + 2 >= escaped.size() || !std::isxdigit(static_cast<unsigned char>(escaped[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(escaped[i + 2])))
            return false;
        const char byte = static_cast<char>(std::stoi(escaped.substr(i + 1, 2), nullptr, 16));
        if (byte == 0)
            return false;
        path.push_back(byte);
        i += 2;
    }
    return true;
}

} // namespace

void ExternalEntityPolicy::warn(const XMLResourceIdentifier& resource, const std::string& message) const {
    const Locator* at = resource.getLocator();
    iDiagnostics.warning(iDiagnostics.document(), at ? static_cast<unsigned long long>(at->getLineNumber()) : 0,
                         at ? static_cast<unsigned long long>(at->getColumnNumber()) : 0, message);
}

InputSource* ExternalEntityPolicy::resolveEntity(XMLResourceIdentifier* resource) {
    // A schema imported without a location: nothing to read (the parser
    // resolves nothing by itself).
    if (resource->getSystemId() == nullptr || *resource->getSystemId() == 0)
        return nullptr;
    const std::string id = utf8(resource->getSystemId());
    const Locator* at = resource->getLocator();
    if (!iLoadExternal)
        throw DocumentError("the external entity '" + id + "' is not read; --load-external reads it from a local file",
                            at ? static_cast<unsigned long long>(at->getLineNumber()) : 0,
                            at ? static_cast<unsigned long long>(at->getColumnNumber()) : 0);
    auto skip = [&](const std::string& why) -> InputSource* {
        if (iInDtd && iRequired)
            throw DocumentError("cannot read the external DTD part '" + id + "': " + why +
                                    "; a canonical form would leave out what it declares (--no-load-external "
                                    "reads no external DTD or entity)",
                                at ? static_cast<unsigned long long>(at->getLineNumber()) : 0,
                                at ? static_cast<unsigned long long>(at->getColumnNumber()) : 0);
        if (!iInDtd) {
            throw DocumentError("cannot read the external entity '" + id + "': " + why,
                                at ? static_cast<unsigned long long>(at->getLineNumber()) : 0,
                                at ? static_cast<unsigned long long>(at->getColumnNumber()) : 0);
        }
        warn(*resource, "skipped the external entity '" + id + "': " + why);
        return blankDeclarations(resource->getSystemId());
    };
    // What the catalogs map the identifiers to (a DTD's public id to its
    // copy in /usr/share/xml, say) replaces the system id.
    const std::string mapped = iCatalogs ? iCatalogs->resolve(utf8(resource->getPublicId()), id) : std::string();
    const OrvWstring mappedWide = OrvWstring::fromUtf8(mapped);
    const std::u16string mappedId(mappedWide.data(), mappedWide.length());
    const XMLCh* systemId = mapped.empty() ? resource->getSystemId() : reinterpret_cast<const XMLCh*>(mappedId.c_str());
    const std::string notMapped = iCatalogs && mapped.empty() ? " (and no XML catalog maps it)" : "";
    // A relative reference or a path is a file beside the document; of the
    // URLs, only file: ones without a host other than localhost are local.
    std::string path = mapped.empty() ? id : mapped;
    XMLURL url;
    if (!XMLURL::parse(systemId, url))
        return skip("only local files are read" + notMapped);
    if (url.getProtocol() != XMLURL::Unknown) {
        const XMLCh* host = url.getHost();
        if (url.getProtocol() != XMLURL::File)
            return skip("only local files are read" + notMapped);
        if (host != nullptr && *host != 0 && XMLString::compareIStringASCII(host, XMLUni::fgLocalHostString) != 0)
            return skip("a file: URL on the host '" + utf8(host) + "' is not a local file");
        path.clear();
        if (!decodePath(utf8(url.getPath()), path))
            return skip("a file: URL with a malformed or NUL %-escape is not read");
    }
    const OrvWstring wide = OrvWstring::fromUtf8(path);
    const std::u16string relative(wide.data(), wide.length());
    auto source = std::make_unique<LocalFileInputSource>(resource->getBaseURI(),
                                                         reinterpret_cast<const XMLCh*>(relative.c_str()));
    const std::string resolved = utf8(source->getSystemId());
    // A FIFO would block the parse until a writer came, a device could be
    // endless (/dev/zero) or the terminal: only regular files are entities.
    struct stat status;
    if (::stat(resolved.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
        return skip(resolved + ": not a regular file");
    std::string error;
    const int fd = openInput(resolved, error);
    if (fd < 0)
        return skip(resolved + ": " + error);
    ::close(fd);
    return source.release();
}

ToolReader::ToolReader(ParserMemory* manager, ExternalEntityPolicy& entities, bool loadExternal, RawWindow* document,
                       XMLGrammarPool* grammars)
    : SAX2XMLReaderImpl(manager, grammars), iEntities(entities), iLoadExternal(loadExternal), iDocument(document),
      iMemory(manager) {
    // Installing a resolver is what makes the scanner ask this reader; the
    // request then reaches the override below.
    setXMLEntityResolver(&iEntities);
    iWhere.attach(*this);
}

void ToolReader::doctypeDecl(const DTDElementDecl& root, const XMLCh* const publicId, const XMLCh* const systemId,
                             const bool hasIntSubset, const bool hasExtSubset) {
    iSawDoctype = true;
    iPendingSubset.clear();
    iUnreadSubset.clear();
    iInDtd = hasIntSubset || hasExtSubset;
    iExternalSubset = hasExtSubset;
    if (!iInDtd)
        endDtd();
    else if (iMemory != nullptr)
        iMemory->countDtd(true);
    if (hasExtSubset && systemId != nullptr)
        iPendingSubset = reinterpret_cast<const char16_t*>(systemId);
    SAX2XMLReaderImpl::doctypeDecl(root, publicId, systemId, hasIntSubset, hasExtSubset);
}

InputSource* ToolReader::resolveEntity(XMLResourceIdentifier* resource) {
    // The validating scanner always asks for the external subset; unless it
    // is to be read it comes out empty, as if not loaded. References to what
    // it would have declared are then reported as undefined.
    const XMLCh* id = resource->getSystemId();
    if (!iLoadExternal && !iPendingSubset.empty() && id != nullptr &&
        iPendingSubset == reinterpret_cast<const char16_t*>(id)) {
        iPendingSubset.clear();
        iUnreadSubset = utf8(id);
        return blankDeclarations(id);
    }
    switch (resource->getResourceIdentifierType()) {
    case XMLResourceIdentifier::SchemaGrammar:
    case XMLResourceIdentifier::SchemaImport:
    case XMLResourceIdentifier::SchemaInclude:
    case XMLResourceIdentifier::SchemaRedefine:
        if (iSchemaLocations == nullptr)
            throw DocumentError("the schema '" + utf8(id) + "' the document names is not read");
        return vetted(iSchemaLocations->resolveEntity(resource),
                      resource->getResourceIdentifierType() == XMLResourceIdentifier::SchemaGrammar);
    default:
        break;
    }
    iEntities.setInDtd(iInDtd);
    return iEntities.resolveEntity(resource);
}

// A schema the document names, checked as --schema checks its own before
// the parser compiles it: the document chose it, so it is not trusted to be
// free of patterns that backtrack.
InputSource* ToolReader::vetted(InputSource* source, bool named) {
    if (source == nullptr || iVetted == nullptr)
        return source;
    std::unique_ptr<InputSource> owned(source);
    const std::string path = utf8(source->getSystemId());
    if (iVetted->count(path) == 0) {
        // Compiled as the parse reads it: the parser matches its patterns
        // (they are checked here), its components as a whole are not
        // checked, and the namespaces of --schema and of the schemas the
        // document named before are there for an import without a location.
        Grammars alone(false, false, false);
        std::vector<std::string> schemas;
        if (iVetBeside != nullptr)
            schemas = *iVetBeside;
        schemas.insert(schemas.end(), iNamedBefore.begin(), iNamedBefore.end());
        schemas.push_back(path);
        std::string why;
        if (!alone.load(schemas, iSchemaLocations->catalogs(), false, iSchemaLocations->diagnostics(), &why))
            throw DocumentError("the schema '" + path + "' the document names cannot be used: " + why);
        iVetted->insert(path);
    }
    if (named)
        iNamedBefore.push_back(path);
    return owned.release();
}

void ToolReader::endIntSubset() {
    if (!iExternalSubset) {
        iInDtd = false;
        endDtd();
    }
    takeDeclaredTypes();
    SAX2XMLReaderImpl::endIntSubset();
}

void ToolReader::endExtSubset() {
    iInDtd = false;
    endDtd();
    takeDeclaredTypes();
    SAX2XMLReaderImpl::endExtSubset();
}

void ToolReader::endDtd() {
    if (iDocument != nullptr)
        iDocument->record(false);
    if (iMemory != nullptr)
        iMemory->countDtd(false);
}

// Where the parser is in the entity it reads; 0 where the transcoder of the
// entity's encoding keeps no offsets (its defaults are then left as parsed).
std::uint64_t ToolReader::offset() const {
    try {
        return getSrcOffset();
    } catch (const XMLException&) {
        return 0;
    }
}

// Where the locator is: in the document or an external entity, it moves as
// the parser reads; inside an internal parameter entity it stays at the
// reference, while the offsets are the entity text's.
std::pair<std::uint64_t, std::uint64_t> ToolReader::lineAndColumn() const {
    const Locator* at = iWhere.locator();
    if (at == nullptr)
        return {0, 0};
    return {static_cast<std::uint64_t>(at->getLineNumber()), static_cast<std::uint64_t>(at->getColumnNumber())};
}

void ToolReader::startAttList(const DTDElementDecl& element) {
    iDeclarationFrom = offset();
    iDeclarationAt = lineAndColumn();
    SAX2XMLReaderImpl::startAttList(element);
}

void ToolReader::attDef(const DTDElementDecl& element, const DTDAttDef& definition, const bool ignoring) {
    const std::uint64_t to = offset();
    const std::uint64_t from = std::max(iDeclarationFrom, to > RawWindow::KEPT ? to - RawWindow::KEPT : 0);
    iDeclarationFrom = to;
    const auto here = lineAndColumn();
    const bool moved = here != iDeclarationAt;
    iDeclarationAt = here;
    const XMLAttDef::DefAttTypes kind = definition.getDefaultType();
    // Only the definition in force (a later one for the same attribute is
    // read into a scratch one), with a default, of a type the parser
    // normalises itself.
    if (!moved || ignoring || definition.getType() == XMLAttDef::CData || definition.getValue() == nullptr ||
        (kind != XMLAttDef::Default && kind != XMLAttDef::Fixed) ||
        element.getAttDef(definition.getFullName()) != &definition)
        return SAX2XMLReaderImpl::attDef(element, definition, ignoring);
    // The literal is read again from the entity the parser is in: the
    // document (its last bytes are kept) or an external file. Inside an
    // internal parameter entity the offsets are not the file's, and the
    // bytes found there do not read back to the parsed value.
    const Locator* at = iWhere.locator();
    const std::string entity = at != nullptr ? utf8(at->getSystemId()) : std::string();
    std::string bytes;
    static const char BOM[] = "\xEF\xBB\xBF";
    if (iDocument != nullptr && entity == iEntities.diagnostics().systemId()) {
        // The offsets start after a UTF-8 byte order mark.
        const std::uint64_t skip = iDocument->span(0, 3) == std::string_view(BOM, 3) ? 3 : 0;
        bytes = std::string(iDocument->span(from + skip, to + skip));
    } else if (!entity.empty() && to > from) {
        const int fd = ::open(entity.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat status;
        if (fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
            char head[3] = {};
            const off_t skip = ::pread(fd, head, 3, 0) == 3 && std::memcmp(head, BOM, 3) == 0 ? 3 : 0;
            bytes.resize(static_cast<std::size_t>(to - from));
            const ssize_t got = ::pread(fd, &bytes[0], bytes.size(), static_cast<off_t>(from) + skip);
            bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        }
        if (fd >= 0)
            ::close(fd);
    }
    std::u16string cdata;
    if (recoverDefault(bytes, reinterpret_cast<const char16_t*>(definition.getValue()), cdata))
        iLiteralDefaults[&definition] = std::move(cdata);
    SAX2XMLReaderImpl::attDef(element, definition, ignoring);
}

void ToolReader::checkContentModels() {
    auto* dtd = dynamic_cast<DTDGrammar*>(getGrammar(XMLUni::fgDTDEntityString));
    if (dtd == nullptr)
        return;
    NameIdPoolEnumerator<DTDElementDecl> elements = dtd->getElemEnumerator();
    std::vector<const ContentSpecNode*> todo;
    while (elements.hasMoreElements()) {
        const DTDElementDecl& element = elements.nextElement();
        std::size_t particles = 0;
        todo.assign(1, element.getContentSpec());
        while (!todo.empty()) {
            const ContentSpecNode* node = todo.back();
            todo.pop_back();
            if (node == nullptr)
                continue;
            if (++particles > iMaxContentModel) {
                const auto at = lineAndColumn();
                throw DocumentError("the content model of '" + utf8(element.getFullName()) + "' has more than " +
                                        std::to_string(iMaxContentModel) +
                                        " particles; --max-content-model raises the limit",
                                    at.first, at.second);
            }
            todo.push_back(node->getFirst());
            todo.push_back(node->getSecond());
        }
    }
}

void ToolReader::takeDeclaredTypes() {
    if (iKeepDtd) {
        checkContentModels();
        return; // validated as declared, with the parser's own normalisation
    }
    auto* dtd = dynamic_cast<DTDGrammar*>(getGrammar(XMLUni::fgDTDEntityString));
    if (dtd == nullptr)
        return;
    NameIdPoolEnumerator<DTDElementDecl> elements = dtd->getElemEnumerator();
    while (elements.hasMoreElements()) {
        DTDElementDecl& element = elements.nextElement();
        // Content models are never checked (validity is no concern here),
        // and the parser would build each into an automaton the first time
        // its element came: recursively, so that a model of 50 000
        // particles overflowed the stack, and in time quadratic in a choice.
        // As ANY, none is built.
        if (element.getModelType() == DTDElementDecl::Children ||
            element.getModelType() == DTDElementDecl::Mixed_Simple)
            element.setModelType(DTDElementDecl::Any);
        if (!element.hasAttDefs())
            continue;
        XMLAttDefList& definitions = element.getAttDefList();
        for (XMLSize_t i = 0; i < definitions.getAttDefCount(); ++i) {
            XMLAttDef& definition = definitions.getAttDef(i);
            if (definition.getType() == XMLAttDef::CData)
                continue;
            iDeclaredTypes.emplace(&definition, definition.getType());
            definition.setType(XMLAttDef::CData);
            // Its default then takes the path of a value written in a tag:
            // CDATA normalisation, then the tool's own for the type.
            const auto literal = iLiteralDefaults.find(&definition);
            if (literal != iLiteralDefaults.end())
                definition.setValue(reinterpret_cast<const XMLCh*>(literal->second.c_str()));
        }
    }
}

void ToolReader::error(const unsigned int code, const XMLCh* const domain, const XMLErrorReporter::ErrTypes type,
                       const XMLCh* const text, const XMLCh* const systemId, const XMLCh* const publicId,
                       const XMLFileLoc line, const XMLFileLoc column) {
    // Without validation, the validating scanner runs only so that a
    // reference to an entity that no declaration it read defines is
    // reported rather than dropped; every other validity finding is no
    // concern of a rewriter.
    const bool validity = XMLString::equals(domain, XMLUni::fgValidityDomain);
    if (validity && code == XMLValid::VC_EntityNotFound)
        throw DocumentError(utf8(text) + " (the entity is not defined by any declaration that was read" +
                                (iLoadExternal ? std::string(")") : "; --load-external reads the external DTD subset)"),
                            line, column);
    if (iValidity != nullptr && type != XMLErrorReporter::ErrType_Fatal) {
        // Without a DTD every element would be undeclared: said once.
        if (iDtdOnly && !iSawDoctype && type == XMLErrorReporter::ErrType_Error) {
            if (iValidity->errors() == 0)
                iValidity->found("the document has no document type declaration to validate against (--valid)", line,
                                 column, utf8(systemId));
            return;
        }
        if (type == XMLErrorReporter::ErrType_Error)
            // A value breaking its type comes with the datatype's own code.
            iValidity->found(utf8(text), line, column, utf8(systemId),
                             XMLString::equals(domain, XMLUni::fgExceptDomain));
        return;
    }
    if (validity)
        return;
    SAX2XMLReaderImpl::error(code, domain, type, text, systemId, publicId, line, column);
}

void configureReader(ToolReader& reader, SecurityManager& security, bool plainProlog, const InputSettings& settings) {
    reader.setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
    reader.setFeature(XMLUni::fgSAX2CoreNameSpacePrefixes, false);
    reader.setFeature(XMLUni::fgSAX2CoreValidation, true);
    reader.setFeature(XMLUni::fgXercesDynamic, true);
    reader.setFeature(XMLUni::fgXercesSchema, false);
    reader.setFeature(XMLUni::fgXercesCacheGrammarFromParse, false);
    reader.setFeature(XMLUni::fgXercesLoadExternalDTD, true);
    reader.setFeature(XMLUni::fgXercesDisableDefaultEntityResolution, true);
    if (settings.validating()) {
        // Every validity error is reported (Validity), and the grammars are
        // the pool's: those of --schema, compiled once, and with
        // --schema-from-document those the document names.
        const bool schema = !settings.schemas.empty() || settings.schemaFromDocument;
        reader.setFeature(XMLUni::fgXercesDynamic, false);
        reader.setFeature(XMLUni::fgXercesSchema, schema);
        reader.setFeature(XMLUni::fgXercesLoadSchema, settings.schemaFromDocument);
        reader.setFeature(XMLUni::fgXercesUseCachedGrammarInParse, !settings.schemas.empty());
        reader.setFeature(XMLUni::fgXercesHandleMultipleImports, true);
        reader.setFeature(XMLUni::fgXercesValidationErrorAsFatal, false);
        // The document is written as it is: validating it does not change
        // its values (a canonical form, or its digest, must not depend on
        // whether the reader had the schema).
        reader.scanner().setNormalizeData(false);
    }
    if (plainProlog && (settings.wellFormednessScanner || settings.validating())) {
        // Without a DTD the only entities are the predefined ones, which
        // expand to one character each: nothing for the security manager to
        // bound, and a scanner with one would count every &amp; against its
        // limit. A document that is not validated is read by the
        // well-formedness scanner.
        if (!settings.validating() && settings.maxAttributes <= InputSettings().maxAttributes)
            reader.setProperty(XMLUni::fgXercesScannerName, const_cast<XMLCh*>(XMLUni::fgWFXMLScanner));
    } else {
        reader.setProperty(XMLUni::fgXercesSecurityManager, &security);
        // Offsets into the source, to read the literals of attribute
        // defaults again (ToolReader::attDef).
        reader.setFeature(XMLUni::fgXercesCalculateSrcOfs, true);
    }
}
