// SPDX-License-Identifier: Apache-2.0
// Grammars.cpp - compiling the schemas of --schema into a locked pool.
#include "Grammars.h"

#include "DocumentError.h"
#include "PatternSafety.h"
#include "ParserSetup.h"

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/XMLGrammarPoolImpl.hpp>
#include <xercesc/parsers/SAX2XMLReaderImpl.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLUni.hpp>
#include <xercesc/validators/common/Grammar.hpp>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace xercesc;

namespace {

// The first error in a schema document (or in one it includes or imports).
class SchemaErrors : public DefaultHandler {
public:
    void warning(const SAXParseException&) override {}
    void error(const SAXParseException& e) override { note(e); }
    void fatalError(const SAXParseException& e) override {
        note(e);
        throw e;
    }
    std::string first;

private:
    void note(const SAXParseException& e) {
        if (!first.empty())
            return;
        // A check of the components as a whole has no place in a document.
        if (e.getSystemId() == nullptr || *e.getSystemId() == 0)
            first = utf8(e.getMessage());
        else
            first = utf8(e.getSystemId()) + ":" + std::to_string(e.getLineNumber()) + ":" +
                    std::to_string(e.getColumnNumber()) + ": " + utf8(e.getMessage());
    }
};

} // namespace

Grammars::Grammars(bool takeOverPatterns, bool vetTakenOver, bool wholeChecks)
    : iPool(std::make_unique<XMLGrammarPoolImpl>(XMLPlatformUtils::fgMemoryManager)),
      iTakeOverPatterns(takeOverPatterns), iVetTakenOver(vetTakenOver), iWholeChecks(wholeChecks) {}

Grammars::~Grammars() = default;

bool Grammars::load(const std::vector<std::string>& schemas, const Catalogs* catalogs, bool trustPatterns,
                    Diagnostics& diagnostics, std::string* reason) {
    // Printed once for the run, or handed back (a schema a document names).
    auto refuse = [&](const std::string& message) {
        if (reason != nullptr)
            *reason = message;
        else
            diagnostics.error("zaqxml", 0, 0, message);
        return false;
    };
    ExternalEntityPolicy locations(true, diagnostics, catalogs);
    SchemaErrors errors;
    SAX2XMLReaderImpl loader(XMLPlatformUtils::fgMemoryManager, iPool.get());
    loader.setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
    loader.setFeature(XMLUni::fgXercesSchema, true);
    loader.setFeature(XMLUni::fgXercesSchemaFullChecking, iWholeChecks);
    // The checks of a schema's components as a whole (the unique particle
    // attribution of content models, among them) run only for a loader
    // that validates: without them a schema no validator accepts was used.
    loader.setFeature(XMLUni::fgSAX2CoreValidation, true);
    loader.setFeature(XMLUni::fgXercesDynamic, false);
    loader.setFeature(XMLUni::fgXercesCacheGrammarFromParse, true);
    loader.setFeature(XMLUni::fgXercesHandleMultipleImports, true);
    loader.setFeature(XMLUni::fgXercesDisableDefaultEntityResolution, true);
    loader.setXMLEntityResolver(&locations);
    loader.setErrorHandler(&errors);
    for (const std::string& schema : schemas) {
        // A regular file only: opening a FIFO with no writer would wait for
        // one, a device could be endless.
        std::string why;
        struct stat status;
        const int fd = ::open(schema.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            why = std::strerror(errno);
        else if (::fstat(fd, &status) != 0)
            why = std::strerror(errno);
        else if (!S_ISREG(status.st_mode))
            why = S_ISDIR(status.st_mode) ? "is a directory" : "not a regular file";
        if (fd >= 0)
            ::close(fd);
        if (why.empty()) {
            try {
                const OrvWstring path = OrvWstring::fromUtf8(schema);
                const std::u16string wide(path.view());
                LocalFileInputSource source(wide.c_str());
                if (loader.loadGrammar(source, Grammar::SchemaGrammarType, true) == nullptr && errors.first.empty())
                    why = "not an XML Schema";
            } catch (const SAXParseException&) {
                // noted by the handler
            } catch (const DocumentError& e) {
                why = e.what();
            } catch (const OutOfMemoryException&) {
                why = "out of memory";
            } catch (const XMLException& e) {
                why = utf8(e.getMessage());
            }
        }
        if (!errors.first.empty())
            why = errors.first;
        if (!why.empty())
            return refuse(reason != nullptr ? why : "--schema " + schema + ": the schema cannot be used: " + why);
    }
    // Patterns are then checked in linear time; those the parser keeps are
    // held to the backtracking check.
    std::string risk;
    if (!trustPatterns && iVetTakenOver)
        risk = riskyPattern(*iPool);
    if (iTakeOverPatterns)
        iPatterns.takeOver(*iPool);
    iPool->lockPool();
    if (!trustPatterns) {
        if (risk.empty())
            risk = riskyPattern(*iPool);
        if (!risk.empty())
            return refuse(std::string(reason != nullptr ? "" : "--schema: the schemas cannot be used: ") + risk +
                          " (a document could make its validation hang); --trust-patterns accepts them");
    }
    return true;
}
