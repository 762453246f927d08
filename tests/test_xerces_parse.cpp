// SPDX-License-Identifier: Apache-2.0
// test_xerces_parse.cpp - the pooled manager under the real Xerces-C parser.
#include "OrvXmlMemoryManager.h"
#include "XercesDocuments.h"
#include "XercesTestEnvironment.h"

#include <gtest/gtest.h>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/XMLString.hpp>

#include <map>
#include <memory>
#include <string>

using namespace xercesc;

namespace {

const auto* const gPlatform = ::testing::AddGlobalTestEnvironment(new XercesTestEnvironment);

std::string utf8(const XMLCh* text, MemoryManager* manager) {
    char* bytes = XMLString::transcode(text, manager);
    std::string out(bytes);
    XMLString::release(&bytes, manager); // through the manager that made it
    return out;
}

// Counts what the parser reports, by namespace URI.
class Counter : public DefaultHandler {
public:
    explicit Counter(MemoryManager* manager) : iManager(manager) {}
    void startElement(const XMLCh* uri, const XMLCh*, const XMLCh*, const Attributes& attrs) override {
        ++elements[utf8(uri, iManager)];
        attributes += attrs.getLength();
    }
    void comment(const XMLCh* const, const XMLSize_t) override { ++comments; }
    std::map<std::string, int> elements;
    XMLSize_t attributes = 0;
    int comments = 0;

private:
    MemoryManager* iManager;
};

void expectAllReturned(const OrvXmlMemoryManager& m) {
    for (unsigned i = 0; i < OrvXmlMemoryManager::getPoolCount(); ++i)
        EXPECT_EQ(m.getPool(i)->getNalloc(), 0) << "pool " << i;
    EXPECT_FALSE(m.isBuffer65536InUse());
    EXPECT_FALSE(m.isBuffer163948InUse());
}

int highwaterSum(const OrvXmlMemoryManager& m) {
    int sum = 0;
    for (unsigned i = 0; i < OrvXmlMemoryManager::getPoolCount(); ++i)
        sum += m.getPool(i)->getHighwater();
    return sum;
}

} // namespace

// A SAX2 reader made with the manager parses a namespaced document; every
// chunk is back once the reader is gone, and a second reader reuses them.
TEST(XercesWithManager, Sax2ParseReturnsEveryChunk) {
    auto manager = std::make_unique<OrvXmlMemoryManager>();
    const std::string doc = namespacedDocument(3000);
    for (int round = 0; round < 2; ++round) {
        Counter counter(manager.get());
        {
            std::unique_ptr<SAX2XMLReader> reader(XMLReaderFactory::createXMLReader(manager.get()));
            reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
            reader->setContentHandler(&counter);
            reader->setLexicalHandler(&counter);
            reader->setErrorHandler(&counter);
            MemBufInputSource input(reinterpret_cast<const XMLByte*>(doc.data()), doc.size(), "orders.xml", false,
                                    manager.get());
            reader->parse(input);
        }
        EXPECT_EQ(counter.elements["urn:example:orders"], 1 + 1000);
        EXPECT_EQ(counter.elements["urn:example:default"], 1000);
        EXPECT_EQ(counter.elements["http://www.w3.org/2005/Atom"], 1000);
        EXPECT_EQ(counter.attributes, XMLSize_t(1 + 2000 + 2000 + 1000));
        EXPECT_EQ(counter.comments, 1000);
        EXPECT_GT(highwaterSum(*manager), 0);
        expectAllReturned(*manager);
    }
}

// A DOM parser made with the manager builds the tree in it: the document's
// third heap block is exactly 65536 bytes and lands in the first buffer.
TEST(XercesWithManager, DomParseUsesBufferAndReturnsEverything) {
    auto manager = std::make_unique<OrvXmlMemoryManager>();
    const std::string doc = namespacedDocument(3000);
    {
        XercesDOMParser parser(nullptr, manager.get());
        parser.setDoNamespaces(true);
        parser.setCreateCommentNodes(true);
        MemBufInputSource input(reinterpret_cast<const XMLByte*>(doc.data()), doc.size(), "orders.xml", false,
                                manager.get());
        parser.parse(input);
        ASSERT_EQ(parser.getErrorCount(), 0u);
        DOMDocument* document = parser.getDocument();
        XMLCh* atom = XMLString::transcode("http://www.w3.org/2005/Atom", manager.get());
        XMLCh* title = XMLString::transcode("title", manager.get());
        EXPECT_EQ(document->getElementsByTagNameNS(atom, title)->getLength(), 1000u);
        XMLString::release(&atom, manager.get());
        XMLString::release(&title, manager.get());
        EXPECT_EQ(utf8(document->getDocumentElement()->getNamespaceURI(), manager.get()), "urn:example:orders");
        EXPECT_TRUE(manager->isBuffer65536InUse()) << "the document's 64 KiB block";
    }
    expectAllReturned(*manager);
}

// A malformed document ends in an exception, and the parser still gives
// every chunk back.
TEST(XercesWithManager, MalformedDocumentReturnsEverything) {
    auto manager = std::make_unique<OrvXmlMemoryManager>();
    const std::string doc = namespacedDocument(300).substr(0, 5000) + "<unclosed";
    {
        Counter counter(manager.get());
        std::unique_ptr<SAX2XMLReader> reader(XMLReaderFactory::createXMLReader(manager.get()));
        reader->setContentHandler(&counter);
        reader->setErrorHandler(&counter);
        MemBufInputSource input(reinterpret_cast<const XMLByte*>(doc.data()), doc.size(), "bad.xml", false,
                                manager.get());
        EXPECT_THROW(reader->parse(input), SAXParseException);
    }
    expectAllReturned(*manager);
}
