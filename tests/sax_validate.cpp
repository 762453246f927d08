// SPDX-License-Identifier: Apache-2.0
// sax_validate.cpp - a bare Xerces-C SAX2 validating parse: the verdicts and
// the speed that zaqxml's validation is held to.
// usage: sax_validate [--schema FILE.xsd]... [--schema-from-document] [--valid] [--pooled] FILE...
//   --schema  an XML Schema, compiled once into a locked grammar pool
//   --schema-from-document  the schemas each document names (xsi locations)
//   --valid   validate against each document's DTD
//   --pooled  the pooled memory manager instead of Xerces-C's default
// Prints, for each FILE, "FILE: valid", or its first validity error as
// "FILE:LINE:COLUMN: MESSAGE (N errors)"; a malformed document prints
// "FILE:LINE:COLUMN: malformed: MESSAGE". Exit status: 0 all valid, 2 some
// malformed, 3 some invalid (none malformed), 5 a schema cannot be used.
// Nothing is fetched from the network: an entity or schema named by a URL
// other than a file is refused.
#include "OrvXmlMemoryManager.h"

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/XMLGrammarPoolImpl.hpp>
#include <xercesc/parsers/SAX2XMLReaderImpl.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/util/XMLEntityResolver.hpp>
#include <xercesc/util/XMLResourceIdentifier.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>
#include <xercesc/validators/common/Grammar.hpp>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace xercesc;

namespace {

std::string text(const XMLCh* chars) {
    char* bytes = XMLString::transcode(chars);
    std::string result = bytes != nullptr ? bytes : "";
    XMLString::release(&bytes);
    return result;
}

// The first error of a document, and how many there were.
class Verdict : public DefaultHandler {
public:
    void error(const SAXParseException& e) override { note(e); }
    void fatalError(const SAXParseException& e) override { throw e; }
    void note(const SAXParseException& e) {
        if (iErrors++ == 0)
            iFirst = std::to_string(e.getLineNumber()) + ":" + std::to_string(e.getColumnNumber()) + ": " +
                     text(e.getMessage());
    }
    void resetErrors() override {
        iErrors = 0;
        iFirst.clear();
    }
    unsigned long iErrors = 0;
    std::string iFirst;
};

// The schema documents' own errors.
class SchemaErrors : public DefaultHandler {
public:
    void error(const SAXParseException& e) override { fatalError(e); }
    void fatalError(const SAXParseException& e) override {
        if (iFirst.empty())
            iFirst = text(e.getSystemId()) + ":" + std::to_string(e.getLineNumber()) + ": " + text(e.getMessage());
    }
    std::string iFirst;
};

// Local files only.
class LocalOnly : public XMLEntityResolver {
public:
    InputSource* resolveEntity(XMLResourceIdentifier* resource) override {
        const std::string id = text(resource->getSystemId());
        const std::size_t scheme = id.find("://");
        if (scheme != std::string::npos && id.compare(0, scheme, "file") != 0)
            throw SAXException("not a local file");
        return nullptr;
    }
};

void configure(SAX2XMLReader& reader, bool schema, bool dtd, bool fromDocument) {
    reader.setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
    reader.setFeature(XMLUni::fgSAX2CoreValidation, true);
    reader.setFeature(XMLUni::fgXercesDynamic, false);
    reader.setFeature(XMLUni::fgXercesSchema, schema);
    reader.setFeature(XMLUni::fgXercesLoadSchema, fromDocument);
    reader.setFeature(XMLUni::fgXercesLoadExternalDTD, dtd);
    reader.setFeature(XMLUni::fgXercesUseCachedGrammarInParse, true);
    reader.setFeature(XMLUni::fgXercesCacheGrammarFromParse, false);
    reader.setFeature(XMLUni::fgXercesValidationErrorAsFatal, false);
    reader.setFeature(XMLUni::fgXercesContinueAfterFatalError, false);
    // As zaqxml reads them: a namespace imported from two schema documents
    // has the components of both.
    reader.setFeature(XMLUni::fgXercesHandleMultipleImports, true);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> schemas, files;
    bool dtd = false, pooled = false, fromDocument = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--schema") == 0 && i + 1 < argc)
            schemas.emplace_back(argv[++i]);
        else if (std::strcmp(argv[i], "--valid") == 0)
            dtd = true;
        else if (std::strcmp(argv[i], "--pooled") == 0)
            pooled = true;
        else if (std::strcmp(argv[i], "--schema-from-document") == 0)
            fromDocument = true;
        else
            files.emplace_back(argv[i]);
    }
    if (files.empty() || (schemas.empty() && !dtd && !fromDocument)) {
        std::fprintf(
            stderr,
            "usage: sax_validate [--schema FILE.xsd]... [--schema-from-document] [--valid] [--pooled] FILE...\n");
        return 1;
    }
    XMLPlatformUtils::Initialize();
    int status = 0;
    {
        std::unique_ptr<OrvXmlMemoryManager> memory(pooled ? new OrvXmlMemoryManager() : nullptr);
        MemoryManager* manager = pooled ? memory.get() : XMLPlatformUtils::fgMemoryManager;
        XMLGrammarPoolImpl pool(XMLPlatformUtils::fgMemoryManager);
        {
            SAX2XMLReaderImpl loader(XMLPlatformUtils::fgMemoryManager, &pool);
            SchemaErrors errors;
            LocalOnly local;
            loader.setXMLEntityResolver(&local);
            configure(loader, true, dtd, false);
            loader.setFeature(XMLUni::fgXercesCacheGrammarFromParse, true);
            loader.setFeature(XMLUni::fgXercesSchemaFullChecking, true);
            loader.setErrorHandler(&errors);
            for (const std::string& schema : schemas) {
                XMLCh* path = XMLString::transcode(schema.c_str());
                LocalFileInputSource source(path);
                XMLString::release(&path);
                try {
                    if (loader.loadGrammar(source, Grammar::SchemaGrammarType, true) == nullptr &&
                        errors.iFirst.empty())
                        errors.iFirst = schema + ": not a schema";
                } catch (const SAXParseException&) {
                } catch (const XMLException& e) {
                    errors.iFirst = schema + ": " + text(e.getMessage());
                }
                if (!errors.iFirst.empty()) {
                    std::fprintf(stderr, "%s\n", errors.iFirst.c_str());
                    status = 5;
                    break;
                }
            }
        }
        pool.lockPool();
        for (const std::string& file : files) {
            if (status == 5)
                break;
            SAX2XMLReaderImpl reader(manager, &pool);
            Verdict verdict;
            LocalOnly local;
            reader.setXMLEntityResolver(&local);
            configure(reader, !schemas.empty() || fromDocument, dtd, fromDocument);
            reader.setErrorHandler(&verdict);
            XMLCh* path = XMLString::transcode(file.c_str());
            LocalFileInputSource source(path);
            XMLString::release(&path);
            try {
                reader.parse(source);
                if (verdict.iErrors == 0) {
                    std::printf("%s: valid\n", file.c_str());
                } else {
                    std::printf("%s:%s (%lu errors)\n", file.c_str(), verdict.iFirst.c_str(), verdict.iErrors);
                    status = status == 0 ? 3 : status;
                }
            } catch (const SAXParseException& e) {
                std::printf("%s:%llu:%llu: malformed: %s\n", file.c_str(),
                            static_cast<unsigned long long>(e.getLineNumber()),
                            static_cast<unsigned long long>(e.getColumnNumber()), text(e.getMessage()).c_str());
                status = 2;
            } catch (const XMLException& e) {
                std::printf("%s: malformed: %s\n", file.c_str(), text(e.getMessage()).c_str());
                status = 2;
            } catch (const SAXException& e) {
                std::printf("%s: malformed: %s\n", file.c_str(), text(e.getMessage()).c_str());
                status = 2;
            }
        }
    }
    XMLPlatformUtils::Terminate();
    return status;
}
