// SPDX-License-Identifier: Apache-2.0
// xerces_dom_roundtrip.cpp - Xerces-C's own route from document to document,
// the peer of zaqxml in the throughput benchmark: parse to DOM, normalise
// with namespace fixup, write with DOMLSSerializer.
// usage: xerces_dom_roundtrip INPUT OUTPUT
#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/LocalFileFormatTarget.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cstdio>

using namespace xercesc;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: xerces_dom_roundtrip INPUT OUTPUT\n");
        return 1;
    }
    XMLPlatformUtils::Initialize();
    int status = 0;
    {
        XercesDOMParser parser;
        parser.setDoNamespaces(true);
        parser.setCreateCommentNodes(true);
        parser.parse(argv[1]);
        DOMDocument* doc = parser.getDocument();
        if (parser.getErrorCount() != 0 || doc == nullptr) {
            std::fprintf(stderr, "%s: parse failed\n", argv[1]);
            status = 2;
        } else {
            XMLCh ls[] = {'L', 'S', 0};
            DOMImplementation* impl = DOMImplementationRegistry::getDOMImplementation(ls);
            doc->getDOMConfig()->setParameter(XMLUni::fgDOMNamespaces, true);
            doc->normalizeDocument();
            DOMLSSerializer* writer = static_cast<DOMImplementationLS*>(impl)->createLSSerializer();
            DOMLSOutput* output = static_cast<DOMImplementationLS*>(impl)->createLSOutput();
            LocalFileFormatTarget target(argv[2]);
            output->setByteStream(&target);
            XMLCh utf8[] = {'U', 'T', 'F', '-', '8', 0};
            output->setEncoding(utf8);
            if (!writer->write(doc, output))
                status = 2;
            output->release();
            writer->release();
        }
    }
    XMLPlatformUtils::Terminate();
    return status;
}
