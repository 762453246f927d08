// SPDX-License-Identifier: Apache-2.0
// bench_writer.cpp - XmlWriter beside the C and C++ writers Debian packages:
// libxml2's xmlTextWriter, Xerces-C's DOM and DOMLSSerializer, tinyxml2's
// XMLPrinter and pugixml. All write the same SOAP-like document of three
// namespaces into memory; bytes per second and allocations per element.
// Only XmlWriter chooses prefixes and declarations: the others write the
// ones they are told, declared once on the envelope.
#include "AllocationCounter.h"
#include "XmlWriter.h"

#include <benchmark/benchmark.h>
#include <libxml/xmlwriter.h>
#include <pugixml.hpp>
#include <tinyxml2.h>
#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <string>

namespace {

constexpr int ENTRIES = 2000;
// Each entry: an element with two attributes (one namespaced) holding a
// child with text that needs escaping: two elements.
constexpr int ELEMENTS = 2 * ENTRIES + 2;
const char* const SOAP = "http://schemas.xmlsoap.org/soap/envelope/";
const char* const ORDERS = "urn:example:orders:2026";
const char* const ITEMS = "urn:example:items";
const char* const TEXT = "Tea & biscuits <assorted>, 250 g";

void report(benchmark::State& state, std::size_t bytes, unsigned long long allocations) {
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
    state.counters["allocs/element"] =
        static_cast<double>(allocations) / static_cast<double>(state.iterations()) / ELEMENTS;
    state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_XmlWriter(benchmark::State& state) {
    std::string out;
    std::size_t bytes = 0;
    const std::u16string soap = u"http://schemas.xmlsoap.org/soap/envelope/", orders = u"urn:example:orders:2026",
                         items = u"urn:example:items";
    unsigned long long allocations = 0;
    for (auto _ : state) {
        out.clear();
        const unsigned long long before = zaqbench::allocations();
        XmlStringSink sink(out);
        XmlWriter w(sink, XmlWriter::Options{XMLPrefixManager::DefaultNamespace::Prefixed, false});
        w.addNamespace(soap, u"soap");
        w.addNamespace(orders, u"o");
        w.addNamespace(items, u"i");
        w.startDocument();
        w.startElement(soap, u"Envelope");
        w.declareNamespace(u"o", orders);
        w.declareNamespace(u"i", items);
        w.startElement(soap, u"Body");
        for (int k = 0; k < ENTRIES; ++k) {
            w.startElement(orders, u"line");
            w.attribute(u"", u"id", u"L-0042");
            w.attribute(items, u"sku", u"TEA-250");
            w.startElement(items, u"description");
            w.text(u"Tea & biscuits <assorted>, 250 g");
            w.endElement();
            w.endElement();
        }
        w.endElement();
        w.endElement();
        w.endDocument();
        allocations += zaqbench::allocations() - before;
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    report(state, bytes, allocations);
}

void BM_LibXml2TextWriter(benchmark::State& state) {
    std::size_t bytes = 0;
    unsigned long long allocations = 0;
    auto x = [](const char* s) { return reinterpret_cast<const xmlChar*>(s); };
    for (auto _ : state) {
        const unsigned long long before = zaqbench::allocations();
        xmlBufferPtr buffer = xmlBufferCreate();
        xmlTextWriterPtr w = xmlNewTextWriterMemory(buffer, 0);
        xmlTextWriterStartDocument(w, nullptr, "UTF-8", nullptr);
        xmlTextWriterStartElementNS(w, x("soap"), x("Envelope"), x(SOAP));
        xmlTextWriterWriteAttributeNS(w, x("xmlns"), x("o"), nullptr, x(ORDERS));
        xmlTextWriterWriteAttributeNS(w, x("xmlns"), x("i"), nullptr, x(ITEMS));
        xmlTextWriterStartElementNS(w, x("soap"), x("Body"), nullptr);
        for (int k = 0; k < ENTRIES; ++k) {
            xmlTextWriterStartElementNS(w, x("o"), x("line"), nullptr);
            xmlTextWriterWriteAttribute(w, x("id"), x("L-0042"));
            xmlTextWriterWriteAttributeNS(w, x("i"), x("sku"), nullptr, x("TEA-250"));
            xmlTextWriterStartElementNS(w, x("i"), x("description"), nullptr);
            xmlTextWriterWriteString(w, x(TEXT));
            xmlTextWriterEndElement(w);
            xmlTextWriterEndElement(w);
        }
        xmlTextWriterEndDocument(w);
        xmlFreeTextWriter(w);
        bytes = static_cast<std::size_t>(xmlBufferLength(buffer));
        benchmark::DoNotOptimize(xmlBufferContent(buffer));
        xmlBufferFree(buffer);
        allocations += zaqbench::allocations() - before;
    }
    report(state, bytes, allocations);
}

void BM_XercesDomSerializer(benchmark::State& state) {
    using namespace xercesc;
    std::size_t bytes = 0;
    unsigned long long allocations = 0;
    const std::u16string soap = u"http://schemas.xmlsoap.org/soap/envelope/", orders = u"urn:example:orders:2026",
                         items = u"urn:example:items";
    DOMImplementation* dom = DOMImplementationRegistry::getDOMImplementation(u"LS");
    for (auto _ : state) {
        const unsigned long long before = zaqbench::allocations();
        DOMDocument* doc = dom->createDocument(soap.c_str(), u"soap:Envelope", nullptr);
        DOMElement* body = doc->createElementNS(soap.c_str(), u"soap:Body");
        DOMElement* envelope = doc->getDocumentElement();
        envelope->setAttributeNS(u"http://www.w3.org/2000/xmlns/", u"xmlns:o", orders.c_str());
        envelope->setAttributeNS(u"http://www.w3.org/2000/xmlns/", u"xmlns:i", items.c_str());
        envelope->appendChild(body);
        for (int k = 0; k < ENTRIES; ++k) {
            DOMElement* line = doc->createElementNS(orders.c_str(), u"o:line");
            line->setAttribute(u"id", u"L-0042");
            line->setAttributeNS(items.c_str(), u"i:sku", u"TEA-250");
            DOMElement* description = doc->createElementNS(items.c_str(), u"i:description");
            description->appendChild(doc->createTextNode(u"Tea & biscuits <assorted>, 250 g"));
            line->appendChild(description);
            body->appendChild(line);
        }
        DOMLSSerializer* serializer = dom->createLSSerializer();
        DOMLSOutput* output = dom->createLSOutput();
        MemBufFormatTarget target;
        output->setByteStream(&target);
        output->setEncoding(u"UTF-8");
        serializer->write(doc, output); // namespace fix-up declares what the names need
        bytes = target.getLen();
        benchmark::DoNotOptimize(target.getRawBuffer());
        output->release();
        serializer->release();
        doc->release();
        allocations += zaqbench::allocations() - before;
    }
    report(state, bytes, allocations);
}

void BM_Tinyxml2Printer(benchmark::State& state) {
    std::size_t bytes = 0;
    unsigned long long allocations = 0;
    for (auto _ : state) {
        const unsigned long long before = zaqbench::allocations();
        tinyxml2::XMLPrinter p(nullptr, true);
        p.PushHeader(false, true);
        p.OpenElement("soap:Envelope", true);
        p.PushAttribute("xmlns:soap", SOAP);
        p.PushAttribute("xmlns:o", ORDERS);
        p.PushAttribute("xmlns:i", ITEMS);
        p.OpenElement("soap:Body", true);
        for (int k = 0; k < ENTRIES; ++k) {
            p.OpenElement("o:line", true);
            p.PushAttribute("id", "L-0042");
            p.PushAttribute("i:sku", "TEA-250");
            p.OpenElement("i:description", true);
            p.PushText(TEXT);
            p.CloseElement(true);
            p.CloseElement(true);
        }
        p.CloseElement(true);
        p.CloseElement(true);
        bytes = static_cast<std::size_t>(p.CStrSize() - 1);
        benchmark::DoNotOptimize(p.CStr());
        allocations += zaqbench::allocations() - before;
    }
    report(state, bytes, allocations);
}

void BM_PugixmlTreeSave(benchmark::State& state) {
    struct ToString : pugi::xml_writer {
        std::string text;
        void write(const void* data, std::size_t size) override { text.append(static_cast<const char*>(data), size); }
    };
    std::size_t bytes = 0;
    unsigned long long allocations = 0;
    for (auto _ : state) {
        const unsigned long long before = zaqbench::allocations();
        pugi::xml_document doc;
        pugi::xml_node envelope = doc.append_child("soap:Envelope");
        envelope.append_attribute("xmlns:soap") = SOAP;
        envelope.append_attribute("xmlns:o") = ORDERS;
        envelope.append_attribute("xmlns:i") = ITEMS;
        pugi::xml_node body = envelope.append_child("soap:Body");
        for (int k = 0; k < ENTRIES; ++k) {
            pugi::xml_node line = body.append_child("o:line");
            line.append_attribute("id") = "L-0042";
            line.append_attribute("i:sku") = "TEA-250";
            line.append_child("i:description").text() = TEXT;
        }
        ToString out;
        doc.save(out, "", pugi::format_raw);
        bytes = out.text.size();
        benchmark::DoNotOptimize(out.text.data());
        allocations += zaqbench::allocations() - before;
    }
    report(state, bytes, allocations);
}

} // namespace

BENCHMARK(BM_XmlWriter);
BENCHMARK(BM_LibXml2TextWriter);
BENCHMARK(BM_XercesDomSerializer);
BENCHMARK(BM_Tinyxml2Printer);
BENCHMARK(BM_PugixmlTreeSave);

int main(int argc, char** argv) {
    xercesc::XMLPlatformUtils::Initialize();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    xercesc::XMLPlatformUtils::Terminate();
    return 0;
}
