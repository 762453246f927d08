// SPDX-License-Identifier: Apache-2.0
// writer_peers.cpp - one writer writes the benchmark document to standard
// output, for bench/writers.py to time, measure and compare: XmlWriter, and
// the peers Debian packages (libxml2 xmlTextWriter, Xerces-C DOM with
// DOMLSSerializer, tinyxml2 XMLPrinter, pugixml, and Qt 5 QXmlStreamWriter
// where the build found Qt); XmlWriter-siblings writes as many siblings in a
// URI bound on no ancestor. Prints "allocations N" (operator new calls) on
// standard error.
//
// usage: writer_peers WRITER ENTRIES   (each entry is two elements)
#include "AllocationCounter.h"
#include "WriterWorkload.h"

#include <xercesc/framework/StdOutFormatTarget.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#if ZAQ_HAVE_QT
#include <QFile>
#endif

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: writer_peers WRITER ENTRIES\n");
        return 1;
    }
    const std::string writer = argv[1];
    const long entries = std::strtol(argv[2], nullptr, 10);
    xercesc::XMLPlatformUtils::Initialize();
    const unsigned long long before = zaqbench::allocations();
    using namespace zaqbench;
    if (writer == "XmlWriter") {
        zaq::XmlFileSink sink(stdout);
        withXmlWriter(sink, entries);
    } else if (writer == "XmlWriter-siblings") {
        zaq::XmlFileSink sink(stdout);
        withXmlWriterSiblings(sink, entries);
    } else if (writer == "libxml2") {
        withLibXml2(xmlOutputBufferCreateFile(stdout, nullptr), entries);
    } else if (writer == "xerces-dom") {
        xercesc::StdOutFormatTarget target;
        withXercesDom(target, entries);
    } else if (writer == "tinyxml2") {
        withTinyxml2(stdout, entries);
    } else if (writer == "pugixml") {
        pugi::xml_writer_file out(stdout);
        withPugixml(out, entries);
#if ZAQ_HAVE_QT
    } else if (writer == "qt5") {
        QFile out;
        out.open(stdout, QIODevice::WriteOnly);
        withQt(out, entries);
#endif
    } else {
        std::fprintf(stderr, "writer_peers: no writer '%s' in this build\n", writer.c_str());
        return 1;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "allocations %llu\n", zaqbench::allocations() - before);
    xercesc::XMLPlatformUtils::Terminate();
    return 0;
}
