// SPDX-License-Identifier: Apache-2.0
// test_layout.cpp - what the data model comes to on this platform: the
// exported object sizes, and the request sizes of Xerces-C parses through the
// pooled manager, which decide whether the two embedded buffers serve
// anything. Both tests print their figures.
#include "OrvXmlMemoryManager.h"
#include "XMLPrefixManager.h"
#include "XercesDocuments.h"
#include "XercesTestEnvironment.h"

#include <gtest/gtest.h>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>

#include <cstddef>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

using namespace xercesc;

namespace {

const auto* const gPlatform = ::testing::AddGlobalTestEnvironment(new XercesTestEnvironment);

// A constant the library exports, looked up by its symbol name as a consumer
// of the library would.
const std::size_t* exportedConstant(const char* symbol) {
#if defined(_WIN32)
    HMODULE library = GetModuleHandleA("zaqprefixmgr.dll");
    if (library == nullptr)
        return nullptr;
    return reinterpret_cast<const std::size_t*>(reinterpret_cast<void*>(GetProcAddress(library, symbol)));
#else
    return static_cast<const std::size_t*>(dlsym(RTLD_DEFAULT, symbol));
#endif
}

// Every request the parser makes, and which of them an embedded buffer took.
class RecordingManager : public OrvXmlMemoryManager {
public:
    void* allocate(XMLSize_t size) override {
        const bool busy0 = isBuffer65536InUse();
        const bool busy1 = isBuffer163948InUse();
        void* p = OrvXmlMemoryManager::allocate(size);
        ++requests[size];
        servedBy65536 += !busy0 && isBuffer65536InUse();
        servedBy163948 += !busy1 && isBuffer163948InUse();
        return p;
    }
    std::map<XMLSize_t, int> requests; // size -> count
    int servedBy65536 = 0;
    int servedBy163948 = 0;
};

void parseSax2(MemoryManager* manager, const std::string& doc) {
    DefaultHandler handler;
    std::unique_ptr<SAX2XMLReader> reader(XMLReaderFactory::createXMLReader(manager));
    reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
    reader->setContentHandler(&handler);
    reader->setErrorHandler(&handler);
    MemBufInputSource input(reinterpret_cast<const XMLByte*>(doc.data()), doc.size(), "doc.xml", false, manager);
    reader->parse(input);
}

void parseDom(MemoryManager* manager, const std::string& doc) {
    XercesDOMParser parser(nullptr, manager);
    parser.setDoNamespaces(true);
    parser.setCreateCommentNodes(true);
    MemBufInputSource input(reinterpret_cast<const XMLByte*>(doc.data()), doc.size(), "doc.xml", false, manager);
    parser.parse(input);
    ASSERT_EQ(parser.getErrorCount(), 0u);
}

} // namespace

// The constants `size_of_this` are exported and hold the sizes that a
// consumer compiled against the headers sees.
TEST(Layout, ExportedSizesMatchTheClasses) {
    const struct Case {
        const char* name;
        const char* symbol;
        std::size_t size;
    } cases[] = {
        {"XMLPrefixManager", "_ZZN16XMLPrefixManager22CompileTimeSizeofCheckEvE12size_of_this",
         sizeof(XMLPrefixManager)},
        {"OrvXmlMemoryManager", "_ZZN19OrvXmlMemoryManager22CompileTimeSizeofCheckEvE12size_of_this",
         sizeof(OrvXmlMemoryManager)},
        {"OrvXmlMemoryManager::MemoryPool",
         "_ZZN19OrvXmlMemoryManager10MemoryPool22CompileTimeSizeofCheckEvE12size_of_this",
         sizeof(OrvXmlMemoryManager::MemoryPool)},
    };
    for (const Case& c : cases) {
        const std::size_t* exported = exportedConstant(c.symbol);
        ASSERT_NE(exported, nullptr) << c.name << ": " << c.symbol << " is not exported";
        EXPECT_EQ(*exported, c.size) << c.name;
        std::cout << "size_of_this " << c.name << ": " << *exported << " bytes\n";
    }
    std::cout << "pointer " << sizeof(void*) << " bytes, long " << sizeof(long) << " bytes\n";
}

// A fresh manager per parse: a request of exactly a buffer's size is always
// served by that buffer the first time, and everything comes back. The
// printed lines list the requests too large for the pools.
TEST(Layout, ParserRequestSizes) {
    const struct Case {
        const char* name;
        void (*parse)(MemoryManager*, const std::string&);
        int elements;
    } cases[] = {{"SAX2, 1.8 kB", parseSax2, 30},
                 {"DOM, 1.8 kB", parseDom, 30},
                 {"SAX2, 200 kB", parseSax2, 3000},
                 {"DOM, 200 kB", parseDom, 3000}};
    for (const Case& c : cases) {
        const std::string doc = namespacedDocument(c.elements);
        auto manager = std::make_unique<RecordingManager>();
        c.parse(manager.get(), doc);

        int total = 0;
        std::string large;
        for (const auto& [size, count] : manager->requests) {
            total += count;
            if (size > 2048)
                large += " " + std::to_string(size) + (count > 1 ? " x" + std::to_string(count) : "");
        }
        EXPECT_EQ(manager->servedBy65536, manager->requests.count(65536) ? 1 : 0) << c.name;
        EXPECT_EQ(manager->servedBy163948, manager->requests.count(163948) ? 1 : 0) << c.name;
        EXPECT_FALSE(manager->isBuffer65536InUse()) << c.name;
        EXPECT_FALSE(manager->isBuffer163948InUse()) << c.name;
        for (unsigned i = 0; i < OrvXmlMemoryManager::getPoolCount(); ++i)
            EXPECT_EQ(manager->getPool(i)->getNalloc(), 0) << c.name << ", pool " << i;
        std::cout << c.name << " (" << doc.size() << " bytes): " << total
                  << " requests; above 2048 bytes:" << (large.empty() ? " none" : large)
                  << "; 65536-byte buffer served " << manager->servedBy65536 << ", 163948-byte buffer served "
                  << manager->servedBy163948 << "\n";
    }
}
