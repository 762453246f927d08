// SPDX-License-Identifier: Apache-2.0
// parse_statistics.cpp - parses a file with Xerces-C's SAX2 reader on the
// pooled memory manager and prints what its pools, buffers and the heap served.
#include <zaqprefixmgr/XmlCountingMemoryManager.h>

#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <cstdio>
#include <memory>

using namespace xercesc;

namespace {

// Counts elements; DefaultHandler throws on fatal errors.
struct ElementCounter : DefaultHandler {
    void startElement(const XMLCh*, const XMLCh*, const XMLCh*, const Attributes&) override { ++elements; }
    long elements = 0;
};

// Xerces-C's XMLCh is char16_t: OrvWstring converts it to UTF-8.
std::string utf8(const XMLCh* text) { return OrvWstring(text).toUtf8(); }

void printPools(const zaq::XmlCountingMemoryManager& memory) {
    const zaq::XmlCountingMemoryManager::Requests& requests = memory.requests();
    std::printf("%10s %8s %8s %10s %10s\n", "chunk size", "chunks", "in use", "high-water", "requests");
    for (unsigned int i = 0; i < OrvXmlMemoryManager::getPoolCount(); ++i) {
        const OrvXmlMemoryManager::MemoryPool* pool = memory.getPool(i);
        std::printf("%10u %8u %8d %10d %10llu\n", pool->getChunkSize(), pool->getPoolSize(), pool->getNalloc(),
                    pool->getHighwater(), requests.pool[i]);
    }
    std::printf("buffers: %llu + %llu requests; heap: %llu requests, %llu of them with their pool exhausted or "
                "buffer in use\n",
                requests.buffer65536, requests.buffer163948, requests.heap, requests.fellBack);
}

int parse(const char* file) {
    // The manager outlives the reader, which hands all its memory back on destruction.
    auto memory = std::make_unique<zaq::XmlCountingMemoryManager>(OrvXmlMemoryManager::getDefaultPoolSize());
    ElementCounter counter;
    {
        std::unique_ptr<SAX2XMLReader> reader(XMLReaderFactory::createXMLReader(memory.get()));
        reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
        reader->setFeature(XMLUni::fgXercesLoadExternalDTD, false); // never fetch anything
        reader->setFeature(XMLUni::fgXercesDisableDefaultEntityResolution, true);
        reader->setContentHandler(&counter);
        reader->setErrorHandler(&counter);
        try {
            reader->parse(file);
        } catch (const SAXParseException& e) {
            std::fprintf(stderr, "%s:%llu:%llu: %s\n", file, static_cast<unsigned long long>(e.getLineNumber()),
                         static_cast<unsigned long long>(e.getColumnNumber()), utf8(e.getMessage()).c_str());
            return 1;
        } catch (const XMLException& e) {
            std::fprintf(stderr, "%s: %s\n", file, utf8(e.getMessage()).c_str());
            return 1;
        }
        std::printf("%s: %ld elements; the pools with the reader still open:\n", file, counter.elements);
        printPools(*memory);
    }
    std::printf("after the reader is gone:\n");
    printPools(*memory);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE.xml\n", argv[0]);
        return 2;
    }
    XMLPlatformUtils::Initialize();
    const int status = parse(argv[1]);
    XMLPlatformUtils::Terminate();
    return status;
}
