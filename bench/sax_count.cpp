// SPDX-License-Identifier: Apache-2.0
// sax_count.cpp - a bare Xerces-C SAX2 parse that only counts elements: the
// floor that zaqxml's rewriting is measured against.
// usage: sax_count [--pooled | --wf] FILE
//   --pooled  the pooled memory manager instead of Xerces-C's default
//   --wf      the well-formedness scanner instead of the default one
#include "OrvXmlMemoryManager.h"

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <cstdio>
#include <cstring>
#include <memory>

using namespace xercesc;

namespace {

class Counter : public DefaultHandler {
public:
    void startElement(const XMLCh*, const XMLCh*, const XMLCh*, const Attributes&) override { ++iElements; }
    void fatalError(const SAXParseException& e) override { throw e; }
    unsigned long iElements = 0;
};

} // namespace

int main(int argc, char** argv) {
    const bool pooled = argc == 3 && std::strcmp(argv[1], "--pooled") == 0;
    const bool wf = argc == 3 && std::strcmp(argv[1], "--wf") == 0;
    if (argc != 2 && !pooled && !wf) {
        std::fprintf(stderr, "usage: sax_count [--pooled | --wf] FILE\n");
        return 1;
    }
    XMLPlatformUtils::Initialize();
    int status = 0;
    {
        std::unique_ptr<OrvXmlMemoryManager> memory(pooled ? new OrvXmlMemoryManager() : nullptr);
        MemoryManager* manager = pooled ? memory.get() : XMLPlatformUtils::fgMemoryManager;
        Counter counter;
        std::unique_ptr<SAX2XMLReader> reader(XMLReaderFactory::createXMLReader(manager));
        if (wf)
            reader->setProperty(XMLUni::fgXercesScannerName, const_cast<XMLCh*>(XMLUni::fgWFXMLScanner));
        reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
        reader->setContentHandler(&counter);
        reader->setErrorHandler(&counter);
        try {
            XMLCh* path = XMLString::transcode(argv[argc - 1]);
            LocalFileInputSource source(path);
            XMLString::release(&path);
            reader->parse(source);
            std::printf("%lu elements\n", counter.iElements);
        } catch (...) {
            std::fprintf(stderr, "%s: parse failed\n", argv[argc - 1]);
            status = 2;
        }
    }
    XMLPlatformUtils::Terminate();
    return status;
}
