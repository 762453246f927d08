// SPDX-License-Identifier: Apache-2.0
// test_rewriter.cpp - the zaqxml writer on small documents: each failure mode
// that other serialisers are known for, written out exactly.
#include "InputStream.h"
#include "Pipeline.h"
#include "XercesTestEnvironment.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <cstring>
#include <memory>
#include <string>

namespace {

const auto* const gPlatform = ::testing::AddGlobalTestEnvironment(new XercesTestEnvironment);

const std::string DECL = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// Rewrites `doc` through the tool's own pipeline, its default scanner or
// not, and returns the output without the XML declaration.
std::string rewriteWith(bool wellFormednessScanner, const std::string& doc, bool generate, bool prune) {
    ToolOptions options;
    options.namespaces.generate = generate;
    options.namespaces.prune = prune;
    options.input.wellFormednessScanner = wellFormednessScanner;
    std::string result;
    zaq::XmlStringSink sink(result);
    Diagnostics diagnostics;
    RewriteSession session(options, diagnostics);
    EXPECT_TRUE(rewriteDocument(DocumentInput::memory(doc.data(), doc.size(), "t.xml", "t.xml"), sink, options, session,
                                diagnostics))
        << doc;
    EXPECT_EQ(result.compare(0, DECL.size(), DECL), 0);
    return result.substr(0, DECL.size()) == DECL ? result.substr(DECL.size()) : result;
}

// Rewrites `doc`, by default in the mode that declares only what names
// need. A document without a DTD reads the same with either scanner zaqxml
// uses.
std::string rewrite(const std::string& doc, bool generate = false, bool prune = true) {
    const std::string output = rewriteWith(false, doc, generate, prune);
    if (doc.find("<!DOCTYPE") == std::string::npos) {
        EXPECT_EQ(rewriteWith(true, doc, generate, prune), output) << doc;
    }
    return output;
}

} // namespace

// A binding in force is never declared again on a child.
TEST(Rewriter, NoDeclarationRepeatedOnChildren) {
    EXPECT_EQ(rewrite("<a:r xmlns:a='urn:a'><a:c/><a:c xmlns:a='urn:a'/><a:c/></a:r>"),
              "<a:r xmlns:a=\"urn:a\"><a:c/><a:c/><a:c/></a:r>\n");
    EXPECT_EQ(rewrite("<r xmlns='urn:d'><c/><c xmlns='urn:d'/></r>"), "<r xmlns=\"urn:d\"><c/><c/></r>\n");
}

// A declaration made on one sibling does not leak into the next.
TEST(Rewriter, SiblingDeclarationDoesNotLeak) {
    EXPECT_EQ(rewrite("<r><p:a xmlns:p='urn:1'/><p:b xmlns:p='urn:2'/><p:c xmlns:p='urn:1'/></r>"),
              "<r><p:a xmlns:p=\"urn:1\"/><p:b xmlns:p=\"urn:2\"/><p:c xmlns:p=\"urn:1\"/></r>\n");
}

// A prefix rebound on an element is not answered for its outer URI there,
// even when an earlier name of the same element took it from outside.
TEST(Rewriter, ShadowedPrefixIsNotUsedForOuterUri) {
    EXPECT_EQ(rewrite("<p:r xmlns:p='urn:outer'><x:c xmlns:x='urn:outer' xmlns:q='urn:inner' q:a='1'/></p:r>", false),
              "<p:r xmlns:p=\"urn:outer\"><p:c xmlns:q=\"urn:inner\" q:a=\"1\"/></p:r>\n");
    // The element's own name takes p from outside; an attribute then needs p
    // for another URI: p is rebound here, so the element gets a new prefix.
    const std::string out = rewrite("<p:r xmlns:p='urn:outer'><p:c xmlns:p2='urn:inner' p2:a='1'/></p:r>", true);
    EXPECT_EQ(out, "<NS1:r xmlns:NS1=\"urn:outer\"><NS1:c xmlns:NS2=\"urn:inner\" NS2:a=\"1\"/></NS1:r>\n");
    const std::string mixed =
        rewrite("<p:r xmlns:p='urn:outer'><p:c><p:d xmlns:p='urn:inner' xmlns:o='urn:outer' o:a='1'/></p:c></p:r>");
    EXPECT_EQ(mixed, "<p:r xmlns:p=\"urn:outer\"><p:c><p:d xmlns:p=\"urn:inner\" xmlns:o=\"urn:outer\" "
                     "o:a=\"1\"/></p:c></p:r>\n");
}

// xmlns="" appears exactly where a no-namespace element sits under a
// default namespace, and nowhere else.
TEST(Rewriter, EmptyDefaultDeclarationOnlyWhereNeeded) {
    EXPECT_EQ(rewrite("<r xmlns='urn:d'><n xmlns=''><m/></n><c/></r>"),
              "<r xmlns=\"urn:d\"><n xmlns=\"\"><m/></n><c/></r>\n");
    EXPECT_EQ(rewrite("<r><n xmlns=''/></r>"), "<r><n/></r>\n") << "no spurious xmlns=\"\"";
}

// Attributes: an unprefixed attribute stays in no namespace, a namespaced one
// is always prefixed, even under a default namespace for its URI.
TEST(Rewriter, AttributesKeepTheirNamespaces) {
    EXPECT_EQ(rewrite("<r xmlns='urn:d' xmlns:d='urn:d' a='1' d:b='2'/>"),
              "<r xmlns=\"urn:d\" xmlns:d=\"urn:d\" a=\"1\" d:b=\"2\"/>\n");
    EXPECT_EQ(rewrite("<r xmlns='urn:d'><c xmlns:e='urn:d' e:b='2'/></r>"),
              "<r xmlns=\"urn:d\"><c xmlns:e=\"urn:d\" e:b=\"2\"/></r>\n");
}

// No prefix is declared twice on one element, no prefix is bound to the
// empty URI, xml is never declared and xmlns never bound.
TEST(Rewriter, ReservedAndEmptyBindingsAreNeverWritten) {
    EXPECT_EQ(
        rewrite("<r xmlns:xml='http://www.w3.org/XML/1998/namespace' xml:lang='en'><c xml:space='preserve'/></r>"),
        "<r xml:lang=\"en\"><c xml:space=\"preserve\"/></r>\n");
    const std::string out = rewrite("<a:r xmlns:a='urn:1' xmlns:b='urn:2' a:x='1' b:y='2'/>", true);
    EXPECT_EQ(out, "<NS1:r xmlns:NS1=\"urn:1\" xmlns:NS2=\"urn:2\" NS1:x=\"1\" NS2:y=\"2\"/>\n");
    EXPECT_EQ(out.find("xmlns:NS1", out.find("xmlns:NS1") + 1), std::string::npos);
}

// Text, attribute values, comments, PIs and CDATA come out escaped as needed.
TEST(Rewriter, PreservesAndEscapesContent) {
    EXPECT_EQ(rewrite("<r a='x&lt;&amp;&quot;&#9;&#10;&#13;&gt;'>t &amp; &lt; &gt; &#13;"
                      "<!-- c --><?pi data?><![CDATA[<&>]]>\xC3\xA9\xF0\x9F\x98\x80</r>"),
              "<r a=\"x&lt;&amp;&quot;&#9;&#10;&#13;>\">t &amp; &lt; &gt; &#13;<!-- c --><?pi data?>"
              "<![CDATA[<&>]]>\xC3\xA9\xF0\x9F\x98\x80</r>\n");
}

// With --generate --prune the input's prefixes are ignored; a generated
// prefix stays its namespace's for the whole document, even across siblings.
TEST(Rewriter, GenerateModeIgnoresInputPrefixes) {
    EXPECT_EQ(rewrite("<r xmlns='urn:d'><x:c xmlns:x='urn:x'><c2/></x:c></r>", true),
              "<NS1:r xmlns:NS1=\"urn:d\"><NS2:c xmlns:NS2=\"urn:x\"><NS1:c2/></NS2:c></NS1:r>\n");
    EXPECT_EQ(rewrite("<r><a:s xmlns:a='urn:a'/><b:s xmlns:b='urn:b'/><a:s xmlns:a='urn:a'/></r>", true),
              "<r><NS1:s xmlns:NS1=\"urn:a\"/><NS2:s xmlns:NS2=\"urn:b\"/><NS1:s xmlns:NS1=\"urn:a\"/></r>\n");
}

// The default mode keeps every input binding in scope where the input has
// it: declarations stay on their elements, unused ones included, and only a
// re-declaration of a binding in force goes. With --generate, names take
// generated prefixes that never shadow an input binding.
TEST(Rewriter, DefaultModeKeepsBindingsInScope) {
    struct Case {
        const char* input;
        bool generate;
        const char* output;
    };
    const Case cases[] = {
        {"<x:s xmlns:x='urn:x' xmlns:d='urn:d'><x:t match='d:p'/><x:t xmlns:d='urn:d'/></x:s>", false,
         "<x:s xmlns:x=\"urn:x\" xmlns:d=\"urn:d\"><x:t match=\"d:p\"/><x:t/></x:s>\n"},
        {"<r xmlns:a='urn:1' xmlns:b='urn:1'><a:c b:x='1'/></r>", false,
         "<r xmlns:a=\"urn:1\" xmlns:b=\"urn:1\"><a:c b:x=\"1\"/></r>\n"},
        {"<r xmlns='urn:d'><n xmlns=''/><c/></r>", false, "<r xmlns=\"urn:d\"><n xmlns=\"\"/><c/></r>\n"},
        // The input's NS1 is urn:in's: generated names take it rather than
        // declare a second prefix, and the next one is NS2.
        {"<NS1:r xmlns:NS1='urn:in' xmlns:t='urn:t' v='t:x'><p:c xmlns:p='urn:p'/></NS1:r>", true,
         "<NS1:r xmlns:NS1=\"urn:in\" xmlns:t=\"urn:t\" v=\"t:x\"><NS2:c xmlns:p=\"urn:p\" "
         "xmlns:NS2=\"urn:p\"/></NS1:r>\n"},
        // Where the input binds NS1 to another namespace, r's namespace
        // takes a new prefix there and keeps it below.
        {"<r xmlns='u'><y xmlns:NS1='w'><z/></y></r>", true,
         "<NS1:r xmlns=\"u\" xmlns:NS1=\"u\"><NS2:y xmlns:NS1=\"w\" xmlns:NS2=\"u\"><NS2:z/></NS2:y></NS1:r>\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rewrite(c.input, c.generate, false), c.output) << c.input;
}

// The scanner choice: only bytes that show the root element's start tag
// after nothing but white space, comments and PIs make a prolog plain.
TEST(InputPolicy, ScansThePrologForADocumentType) {
    struct Case {
        const char* bytes;
        Prolog prolog;
    };
    const Case cases[] = {
        {"<r/>", Prolog::Plain},
        {"\xEF\xBB\xBF<r/>", Prolog::Plain},
        {"<?xml version='1.0'?>\n<!-- a > b -->\n<?pi a?b ?>\n<\xC3\xA9l/>", Prolog::Plain},
        {"<?xml version='1.0'?><!DOCTYPE r><r/>", Prolog::Unknown},
        {"<!-- c --><!DOCTYPE r><r/>", Prolog::Unknown},
        {"  text<r/>", Prolog::Unknown},
        {"<", Prolog::NeedMore},
        {"<!-", Prolog::NeedMore},
        {"<?xml version='1.0'", Prolog::NeedMore},
        {"<!-- not yet closed --", Prolog::NeedMore},
        {"", Prolog::NeedMore},
        {"\xEF\xBB", Prolog::NeedMore},
        {"<?xml version='1.0' encoding='ISO-8859-1'?><r/>", Prolog::Plain},
        // In UTF-7, "+AD8APg-" is "?>": these bytes cannot be read as ASCII.
        {"<?xml version='1.0' encoding='UTF-7'?><?p +AD8APg-<!DOCTYPE r><?q ?><r/>", Prolog::Unknown},
    };
    for (const Case& c : cases)
        EXPECT_EQ(scanProlog(reinterpret_cast<const unsigned char*>(c.bytes), std::strlen(c.bytes)), c.prolog)
            << c.bytes;
    // UTF-16, with or without a byte order mark, is not read as ASCII.
    const unsigned char utf16[] = {0xFF, 0xFE, '<', 0, 'r', 0};
    EXPECT_EQ(scanProlog(utf16, sizeof utf16), Prolog::Unknown);
    EXPECT_EQ(scanProlog(utf16 + 2, sizeof utf16 - 2), Prolog::Unknown);
}

namespace {

// Keeps the messages of a document instead of printing them.
struct Collected : Diagnostics {
    std::string text;
    void emit(const std::string& line) override { text += line + "\n"; }
};

std::string contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

// The golden files, as libxml2's runtest keeps them: for each mode,
// data/golden/MODE/X.out is the rewrite of data/roundtrip/X, for the
// canonical modes (c14n, c14n11, exc-c14n, c14n-without-comments) the
// canonical form of data/c14n/X (the Canonical XML Recommendation's worked
// examples, their outputs as it gives them), and data/golden/errors/X.err the
// message of the malformed data/malformed/X; all through the pipeline the
// executable runs.
TEST(Golden, EveryModeWritesItsResultAndEveryErrorItsMessage) {
    const char* dataDir = std::getenv("ZAQ_TEST_DATA");
    ASSERT_NE(dataDir, nullptr) << "ZAQ_TEST_DATA names the test data (ctest sets it)";
    const std::filesystem::path data = dataDir;
    std::size_t compared = 0;
    for (const auto& mode : std::filesystem::directory_iterator(data / "golden")) {
        const std::string name = mode.path().filename().string();
        ToolOptions options;
        options.namespaces.prune = name == "prune";
        options.namespaces.generate = name == "generate";
        options.format = name == "format";
        options.hoist = name == "hoist";
        const bool errors = name == "errors";
        // The canonical forms read the Canonical XML Recommendation's
        // examples, external entities included.
        const bool canonical = name.find("c14n") != std::string::npos;
        options.canonical = canonical;
        options.input.loadExternal = canonical;
        options.c14n.comments = name.find("without-comments") == std::string::npos;
        options.c14n.method = name == "exc-c14n" ? zaq::XmlCanonicalWriter::Method::Exclusive
                              : name == "c14n11" ? zaq::XmlCanonicalWriter::Method::C14N11
                                                 : zaq::XmlCanonicalWriter::Method::C14N10;
        const char* inputs = errors ? "malformed" : canonical ? "c14n" : "roundtrip";
        for (const auto& expected : std::filesystem::directory_iterator(mode.path())) {
            const std::string stem = expected.path().stem().string();
            DocumentInput input = DocumentInput::file((data / inputs / stem).string());
            input.name = stem;
            std::string out;
            zaq::XmlStringSink sink(out);
            Collected diagnostics;
            RewriteSession session(options, diagnostics);
            const bool ok = rewriteDocument(input, sink, options, session, diagnostics);
            EXPECT_EQ(ok, !errors) << name << "/" << stem << ": " << diagnostics.text;
            EXPECT_EQ(errors ? diagnostics.text : out, contents(expected.path())) << name << "/" << stem;
            ++compared;
        }
    }
    EXPECT_GE(compared, 40u);
}

// Subtrees (--select) and the InclusiveNamespaces PrefixList: the context
// each method renders on a subtree's root, through the tool's pipeline.
TEST(Canonical, SubtreesTakeTheirMethodsContext) {
    const std::string doc =
        "<r xmlns='urn:d' xmlns:a='urn:a' xml:lang='en'><a:x xml:space='preserve' Id='k'><y a:b='1'/></a:x><z/></r>";
    const std::string bases = "<r xml:base='http://e.org/a/b/'><s xml:base='c/'><t xml:base='../d'/><u/></s></r>";
    const std::string ids = "<doc><e xml:id='one'><f/></e><e><e Id='two'/></e><e id='three'/></doc>";
    const std::string defaults = "<!DOCTYPE a [<!ATTLIST a y NMTOKENS ' &#9;p  q '>]><a/>";
    // With a byte order mark; and a default inside a parameter entity, whose
    // offsets are the entity's, beside document bytes that would read back
    // to its value: left as the parser read it.
    const std::string bom = "\xEF\xBB\xBF<!DOCTYPE a [<!ATTLIST a y NMTOKENS 'p&#10;q'>]><a/>";
    const std::string bait =
        "<!--" + std::string(52, ' ') +
        "\"x&#9;y\"-->\n<!DOCTYPE r [<!ENTITY % p \"<!ATTLIST r a NMTOKENS 'x&#38;#10;y'>\"> %p;]>\n<r/>";
    const std::string wsu = "<s:Envelope xmlns:s='urn:soap' xmlns:wsu='urn:wsu'><s:Body wsu:Id='Body-1'><x/></s:Body>"
                            "</s:Envelope>";
    using M = zaq::XmlCanonicalWriter::Method;
    struct Case {
        const std::string& doc;
        M method;
        const char* select;
        const char* inclusive;
        const char* expected;
        const char* idAttribute = ""; // --id-attribute
    };
    const Case cases[] = {
        {doc, M::C14N10, "{urn:a}x", "",
         "<a:x xmlns=\"urn:d\" xmlns:a=\"urn:a\" Id=\"k\" xml:lang=\"en\" xml:space=\"preserve\"><y "
         "a:b=\"1\"></y></a:x>"},
        {doc, M::Exclusive, "#k", "",
         "<a:x xmlns:a=\"urn:a\" Id=\"k\" xml:space=\"preserve\"><y xmlns=\"urn:d\" a:b=\"1\"></y></a:x>"},
        {doc, M::Exclusive, "#k", "#default",
         "<a:x xmlns=\"urn:d\" xmlns:a=\"urn:a\" Id=\"k\" xml:space=\"preserve\"><y a:b=\"1\"></y></a:x>"},
        {doc, M::C14N11, "{urn:d}y", "",
         "<y xmlns=\"urn:d\" xmlns:a=\"urn:a\" xml:lang=\"en\" xml:space=\"preserve\" a:b=\"1\"></y>"},
        {bases, M::C14N11, "t", "", "<t xml:base=\"http://e.org/a/b/d\"></t>"},
        {bases, M::C14N10, "t", "", "<t xml:base=\"../d\"></t>"},
        {bases, M::C14N11, "u", "", "<u xml:base=\"http://e.org/a/b/c/\"></u>"},
        {bases, M::C14N10, "u", "", "<u xml:base=\"c/\"></u>"},
        {ids, M::C14N10, "#one", "", "<e xml:id=\"one\"><f></f></e>"},
        {ids, M::C14N10, "#three", "", "<e id=\"three\"></e>"},
        {ids, M::C14N10, "#two", "", "<e Id=\"two\"></e>"},
        {ids, M::C14N10, "e", "", "<e xml:id=\"one\"><f></f></e><e><e Id=\"two\"></e></e><e id=\"three\"></e>"},
        {defaults, M::C14N10, "a", "", "<a y=\"&#x9;p q\"></a>"},
        {bom, M::C14N10, "a", "", "<a y=\"p&#xA;q\"></a>"},
        {bait, M::C14N10, "r", "", "<r a=\"x y\"></r>"},
        {wsu, M::Exclusive, "#Body-1", "",
         "<s:Body xmlns:s=\"urn:soap\" xmlns:wsu=\"urn:wsu\" wsu:Id=\"Body-1\"><x></x></s:Body>", "{urn:wsu}Id"},
    };
    for (const Case& c : cases) {
        ToolOptions options;
        options.canonical = true;
        options.c14n.method = c.method;
        options.select = c.select;
        if (*c.inclusive != 0)
            options.c14n.inclusivePrefixes.emplace_back(OrvWstring::fromUtf8(c.inclusive).view());
        if (*c.idAttribute != 0)
            options.idAttributes.emplace_back(c.idAttribute);
        std::string out;
        zaq::XmlStringSink sink(out);
        Diagnostics diagnostics;
        RewriteSession session(options, diagnostics);
        EXPECT_TRUE(rewriteDocument(DocumentInput::memory(c.doc.data(), c.doc.size(), "t", "t.xml"), sink, options,
                                    session, diagnostics));
        EXPECT_EQ(out, c.expected) << c.select;
    }
}

// A failure or warning that a stage finds carries the line and column of the
// event that brought it about, in the document or in the external entity
// the event came from; after the entity, the document's again. Positions are
// given by the reading side as numbers (the stages never see the parser).
TEST(Positions, StageFindingsNameTheEventsPlace) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "zaq-positions";
    std::filesystem::create_directories(dir);
    const auto write = [&](const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    };
    write("ent.xml", "<a>\n<b><c><d/></c></b></a>\n");
    const std::string inEntity = write("in.xml", "<!DOCTYPE r [<!ENTITY e SYSTEM 'ent.xml'>]>\n<r>\n &e;\n <y/></r>\n");
    write("flat.xml", "<a/>\n");
    const std::string after =
        write("after.xml", "<!DOCTYPE r [<!ENTITY e SYSTEM 'flat.xml'>]>\n<r>\n &e;\n <y><z/></y></r>\n");
    const std::string prune = write("prune.xml", "<r xmlns:p='urn:p'>\n  <a>\n    <p:x xmlns:q='urn:q'>q:v p:w</p:x>"
                                                 "<b xmlns:p='urn:other'>p:z</b></a></r>\n");
    const std::string ids = write("ids.xml", "<r>\n<a id='x'/><b Id='x'/></r>\n");
    // A warning and a failure of one event (the lost prefix of a value, and
    // the value's expansion past the bound): the warning first, both placed.
    const std::string both =
        write("both.xml", "<!DOCTYPE r [<!ENTITY a0 '" + std::string(100000, 'a') +
                              "'>\n<!ENTITY a1 '&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;'>]>\n<r xmlns:p='urn:p'><t>" +
                              "&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;</t>\n<e v='p:x &a1;&a1;'/></r>\n");
    struct Case {
        std::string file;
        unsigned long maxDepth;
        bool prune, canonical;
        std::uint64_t maxExpansion;
        std::string select, expected;
    } cases[] = {
        {inEntity, 4, false, false, 100, "",
         "(entity " + (dir / "ent.xml").string() + "):2:11: elements nest deeper than 4"},
        {inEntity, 4, false, true, 100, "",
         "(entity " + (dir / "ent.xml").string() + "):2:11: elements nest deeper than 4"},
        {after, 2, false, false, 100, "", after + ":4:9: elements nest deeper than 2"},
        {prune, 10000, true, false, 100, "",
         prune +
             ":3:33: warning: 'q:' in content is no longer bound in the output (--prune); --keep-prefixes q keeps "
             "it\n" +
             prune + ":3:65: warning: 'p:' in content"},
        {both, 10000, true, false, 1, "",
         both +
             ":4:22: warning: 'p:' in content is no longer bound in the output (--prune); --keep-prefixes p keeps "
             "it\n" +
             both + ":4:22: the output would exceed"},
        {ids, 10000, false, true, 100, "#x", ids + ":2:23: a second element has the ID 'x'"},
    };
    for (const Case& c : cases) {
        ToolOptions options;
        options.input.loadExternal = true;
        options.input.maxDepth = c.maxDepth;
        options.namespaces.prune = c.prune;
        options.canonical = c.canonical;
        options.input.maxExpansionFactor = c.maxExpansion;
        options.select = c.select;
        std::string output;
        zaq::XmlStringSink sink(output);
        Collected diagnostics;
        RewriteSession session(options, diagnostics);
        rewriteDocument(DocumentInput::file(c.file), sink, options, session, diagnostics);
        EXPECT_NE(diagnostics.text.find(c.expected), std::string::npos) << c.file << "\n" << diagnostics.text;
    }
    std::filesystem::remove_all(dir);
}
