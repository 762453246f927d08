// SPDX-License-Identifier: Apache-2.0
// test_xml_writer.cpp - XmlWriter: exact output of namespace repair and
// escaping, read back by Xerces-C to the meaning the calls intended; every
// refused call leaves the writer and its output as they were; the sinks.
#include "PrefixManagerAccess.h"
#include "WriterScript.h"
#include "XmlCanonicalWriter.h"
#include "XmlFormatTargetSink.h"
#include "XercesTestEnvironment.h"

#include <gtest/gtest.h>

#include <xercesc/framework/MemBufFormatTarget.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

const auto* const gPlatform = ::testing::AddGlobalTestEnvironment(new XercesTestEnvironment);

using Ops = std::vector<WriterOp>;
using Kind = zaq::XmlWriterError::Kind;
using Policy = zaq::XmlWriter::DefaultNamespace;
const std::u16string XML = XMLPrefixManager::XML_NAMESPACE_URI;

std::string run(const Ops& ops, Meaning& meaning, zaq::XmlWriter::Options options = {}) {
    std::string out;
    zaq::XmlStringSink sink(out);
    zaq::XmlWriter w(sink, options);
    for (const WriterOp& op : ops)
        runOp(w, op, meaning);
    w.flush();
    return out;
}

struct Exact {
    const char* name;
    Ops ops;
    const char* expected;
    Policy policy = Policy::Unprefixed;
    bool indent = false;
};

// Each case's output is compared byte for byte, then parsed back: the
// elements, attributes and text a parser reports must be what the calls
// asked for, whatever prefixes the writer chose.
TEST(XmlWriter, ExactOutputReadsBackToTheIntendedNames) {
    const std::vector<Exact> cases = {
        {"preferred prefix", {{'P', u"urn:a", u"a"}, {'S', u"urn:a", u"r"}, {'E'}}, R"(<a:r xmlns:a="urn:a"/>)"},
        {"generated prefix, in force below",
         {{'S', u"urn:a", u"r"}, {'S', u"urn:a", u"c"}, {'E'}, {'E'}},
         R"(<NS1:r xmlns:NS1="urn:a"><NS1:c/></NS1:r>)"},
        {"siblings declare again, with the prefix generated for the URI",
         {{'S', u"", u"r"},
          {'S', u"urn:a", u"c"},
          {'E'},
          {'S', u"urn:b", u"c"},
          {'E'},
          {'S', u"urn:a", u"c"},
          {'E'},
          {'E'}},
         R"(<r><NS1:c xmlns:NS1="urn:a"/><NS2:c xmlns:NS2="urn:b"/><NS1:c xmlns:NS1="urn:a"/></r>)"},
        {"a shadowed prefix is declared again",
         {{'P', u"urn:a", u"p"},
          {'P', u"urn:b", u"p"},
          {'S', u"urn:a", u"r"},
          {'S', u"urn:b", u"c"},
          {'S', u"urn:a", u"d"},
          {'E'},
          {'E'},
          {'E'}},
         R"(<p:r xmlns:p="urn:a"><NS1:c xmlns:NS1="urn:b"><p:d/></NS1:c></p:r>)"},
        {"declared default namespace answers",
         {{'S', u"urn:a", u"r"}, {'N', u"urn:a", u""}, {'S', u"urn:a", u"c"}, {'E'}, {'E'}},
         R"(<r xmlns="urn:a"><c/></r>)"},
        {"newer prefixed binding wins",
         {{'S', u"urn:a", u"r"},
          {'N', u"urn:a", u""},
          {'S', u"urn:a", u"c"},
          {'N', u"urn:a", u"p"},
          {'S', u"urn:a", u"d"},
          {'E'},
          {'E'},
          {'E'}},
         R"(<r xmlns="urn:a"><p:c xmlns:p="urn:a"><p:d/></p:c></r>)",
         Policy::Prefixed},
        {"default namespace preferred",
         {{'S', u"urn:a", u"r"},
          {'N', u"urn:a", u""},
          {'S', u"urn:a", u"c"},
          {'N', u"urn:a", u"p"},
          {'S', u"urn:a", u"d"},
          {'E'},
          {'E'},
          {'E'}},
         R"(<r xmlns="urn:a"><c xmlns:p="urn:a"><d/></c></r>)",
         Policy::Unprefixed},
        {"unqualified attribute under a default namespace",
         {{'S', u"urn:a", u"r"}, {'N', u"urn:a", u""}, {'A', u"", u"x", u"1"}, {'E'}},
         R"(<r xmlns="urn:a" x="1"/>)"},
        {"a namespaced attribute never takes the default namespace",
         {{'S', u"urn:a", u"r"}, {'N', u"urn:a", u""}, {'A', u"urn:a", u"x", u"1"}, {'E'}},
         R"(<r xmlns="urn:a" xmlns:NS1="urn:a" NS1:x="1"/>)"},
        {"an element in no namespace undeclares the default",
         {{'S', u"urn:a", u"r"}, {'N', u"urn:a", u""}, {'S', u"", u"c"}, {'S', u"", u"d"}, {'E'}, {'E'}, {'E'}},
         R"(<r xmlns="urn:a"><c xmlns=""><d/></c></r>)"},
        {"prefix hint, then in force",
         {{'S', u"urn:a", u"r", u"h"}, {'S', u"urn:a", u"c", u"h"}, {'E'}, {'E'}},
         R"(<h:r xmlns:h="urn:a"><h:c/></h:r>)"},
        {"a hint the tag declares elsewhere is passed over",
         {{'S', u"urn:a", u"r", u"h"}, {'N', u"urn:b", u"h"}, {'E'}},
         R"(<NS1:r xmlns:h="urn:b" xmlns:NS1="urn:a"/>)"},
        {"a new binding never takes a prefix in force that the tag uses",
         {{'P', u"urn:a", u"p"},
          {'S', u"urn:a", u"r"},
          {'S', u"urn:a", u"c"},
          {'P', u"urn:b", u"p"},
          {'A', u"urn:b", u"x", u"1"},
          {'E'},
          {'E'}},
         R"(<p:r xmlns:p="urn:a"><p:c xmlns:NS1="urn:b" NS1:x="1"/></p:r>)"},
        {"nor does a name that found such a binding, when the tag is resolved again",
         {{'S', u"urn:a", u"r", u"NS1"},
          {'S', u"urn:a", u"b"},
          {'A', u"urn:b", u"s", u""},
          {'A', u"urn:b", u"a", u"p"},
          {'E'},
          {'E'}},
         R"(<NS1:r xmlns:NS1="urn:a"><NS1:b xmlns:NS2="urn:b" NS2:s="" NS2:a="p"/></NS1:r>)"},
        {"a name written before follows a rebinding of its prefix",
         {{'P', u"urn:a", u"a"},
          {'S', u"urn:a", u"r"},
          {'S', u"urn:a", u"c"},
          {'E'},
          {'S', u"", u"d"},
          {'N', u"urn:z", u"a"},
          {'S', u"urn:a", u"c"},
          {'E'},
          {'E'},
          {'S', u"urn:a", u"c"},
          {'E'},
          {'E'}},
         R"(<a:r xmlns:a="urn:a"><a:c/><d xmlns:a="urn:z"><NS1:c xmlns:NS1="urn:a"/></d><a:c/></a:r>)"},
        {"a hint never rebinds a prefix the caller declared for QName values",
         {{'S', u"", u"r"},
          {'N', u"http://www.w3.org/2001/XMLSchema", u"xs"},
          {'S', u"urn:c", u"el", u"xs"},
          {'A', u"", u"type", u"xs:string"},
          {'E'},
          {'E'}},
         R"(<r xmlns:xs="http://www.w3.org/2001/XMLSchema"><NS1:el xmlns:NS1="urn:c" type="xs:string"/></r>)"},
        {"nor does another URI's preferred prefix",
         {{'P', u"urn:other", u"p"},
          {'S', u"", u"r"},
          {'N', u"urn:mine", u"p"},
          {'S', u"urn:other", u"x"},
          {'E'},
          {'E'}},
         R"(<r xmlns:p="urn:mine"><NS1:x xmlns:NS1="urn:other"/></r>)"},
        {"nor a generated prefix",
         {{'S', u"", u"r"},
          {'N', u"urn:mine", u"NS1"},
          {'S', u"urn:other", u"x"},
          {'A', u"", u"ref", u"NS1:thing"},
          {'E'},
          {'E'}},
         R"(<r xmlns:NS1="urn:mine"><NS2:x xmlns:NS2="urn:other" ref="NS1:thing"/></r>)"},
        {"the default namespace keeps serving its URI after an attribute needed a prefix",
         {{'S', u"urn:atom", u"feed", u"(default)"},
          {'A', u"urn:atom", u"x", u"1"},
          {'S', u"urn:atom", u"entry"},
          {'E'},
          {'E'}},
         R"(<feed xmlns="urn:atom" xmlns:NS1="urn:atom" NS1:x="1"><entry/></feed>)"},
        {"the default namespace asked for, and passed over where it is another URI's",
         {{'S', u"urn:a", u"r", u"(default)"}, {'S', u"urn:b", u"c", u"(default)"}, {'E'}, {'E'}},
         R"(<r xmlns="urn:a"><NS1:c xmlns:NS1="urn:b"/></r>)"},
        {"hints that cannot be used are ignored alike",
         {{'S', u"", u"r", u"p"}, {'A', XML, u"lang", u"en", u"foo"}, {'S', u"urn:a", u"c", u"xml"}, {'E'}, {'E'}},
         R"(<r xml:lang="en"><NS1:c xmlns:NS1="urn:a"/></r>)"},
        {"an attribute's prefix hint",
         {{'S', u"", u"r"}, {'A', u"urn:a", u"x", u"1", u"h"}, {'E'}},
         R"(<r xmlns:h="urn:a" h:x="1"/>)"},
        {"endDocument closes what is open", {{'S', u"", u"r"}, {'S', u"", u"c"}, {'Z'}}, R"(<r><c/></r>)"},
        {"XML 1.1 undeclares a prefix",
         {{'D', u"1.1"},
          {'S', u"urn:a", u"r"},
          {'N', u"urn:a", u"p"},
          {'S', u"", u"c"},
          {'N', u"", u"p"},
          {'E'},
          {'E'}},
         "<?xml version=\"1.1\" encoding=\"UTF-8\"?>\n<p:r xmlns:p=\"urn:a\"><c xmlns:p=\"\"/></p:r>"},
        {"xml attributes need no declaration",
         {{'S', u"", u"r"}, {'A', XML, u"lang", u"en"}, {'E'}},
         R"(<r xml:lang="en"/>)"},
        {"escaping",
         {{'S', u"", u"r"}, {'A', u"", u"v", u"<&\"\t\n\r>'"}, {'T', u"]]> & \r\n<"}, {'E'}},
         "<r v=\"&lt;&amp;&quot;&#9;&#10;&#13;>'\">]]&gt; &amp; &#13;\n&lt;</r>"},
        {"CDATA split at ]]> and around CR",
         {{'S', u"", u"r"}, {'C', u"a]]>b\rc"}, {'E'}},
         "<r><![CDATA[a]]]]><![CDATA[>b]]>&#13;<![CDATA[c]]></r>"},
        {"prolog, comment, PI, non-BMP text",
         {{'D'}, {'M', u" c "}, {'I', u"pi", u"d"}, {'S', u"", u"r"}, {'T', u"\U0001F600\u00e9"}, {'I', u"x"}, {'E'}},
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- c --><?pi d?><r>\xF0\x9F\x98\x80\xC3\xA9<?x?></r>"},
        {"XML 1.1 controls and line ends as references",
         {{'D', u"1.1"}, {'S', u"", u"r"}, {'A', u"", u"v", u"\x01"}, {'T', u"\x01\u0085\u2028"}, {'E'}},
         "<?xml version=\"1.1\" encoding=\"UTF-8\"?>\n<r v=\"&#1;\">&#1;&#133;&#8232;</r>"},
        {"indented element-only content; mixed content kept",
         {{'M', u"c"},
          {'S', u"", u"r"},
          {'T', u"\n "},
          {'S', u"", u"a"},
          {'T', u"x"},
          {'S', u"", u"b"},
          {'E'},
          {'E'},
          {'S', u"", u"c"},
          {'E'},
          {'E'},
          {'Z'}},
         "<!--c-->\n<r>\n  <a>x<b/></a>\n  <c/>\n</r>\n",
         Policy::Prefixed,
         true},
        {"indentation: text after children makes the content mixed, below it too",
         {{'S', u"", u"r"}, {'S', u"", u"a"}, {'S', u"", u"b"}, {'E'}, {'E'}, {'T', u"late"}, {'E'}, {'Z'}},
         "<r><a><b/></a>late</r>\n",
         Policy::Prefixed,
         true},
    };
    for (const Exact& c : cases) {
        Meaning intended, read;
        zaq::XmlWriter::Options options;
        options.defaultNamespace = c.policy;
        options.indent = c.indent;
        std::string out;
        ASSERT_NO_THROW(out = run(c.ops, intended, options)) << c.name;
        EXPECT_EQ(out, c.expected) << c.name;
        ASSERT_TRUE(readBack(out, read)) << c.name << ": " << out;
        EXPECT_EQ(read.elements, intended.elements) << c.name;
        for (const std::u16string& rebinding : read.rebound)
            EXPECT_NE(std::find(intended.rebound.begin(), intended.rebound.end(), rebinding), intended.rebound.end())
                << c.name << ": the writer bound again a prefix in force";
        if (!c.indent) {
            EXPECT_TRUE(read.text == intended.text) << c.name;
        }
    }
}

// Tags met again are written from the names remembered from earlier ones:
// each copy of a part holding short tags (remembered, then written from what
// was learnt) and a tag of more names than the writer remembers (after which
// it stops remembering for a while) comes out the same, and all reads back.
TEST(XmlWriter, RepeatedTagsAreWrittenAlike) {
    Ops ops = {
        {'P', u"urn:a", u"p"}, {'P', u"urn:b", u"q"}, {'S', u"", u"r"}, {'N', u"urn:a", u"p"}, {'N', u"urn:b", u"q"}};
    for (int copy = 0; copy < 3; ++copy) {
        for (int small = 0; small < 2; ++small) {
            ops.push_back({'S', u"urn:a", u"f"});
            ops.push_back({'A', u"", u"id", u"1"});
            ops.push_back({'A', u"urn:b", u"id", u"2"});
            ops.push_back({'E'});
        }
        ops.push_back({'S', u"urn:a", u"e"});
        for (int i = 0; i < 600; ++i)
            ops.push_back(
                {'A', i % 3 ? u"urn:b" : u"",
                 u"a" + std::u16string(1, char16_t(u'a' + i % 26)) + std::u16string(1, char16_t(u'a' + i / 26)), u"v"});
        ops.push_back({'S', u"urn:b", u"c"});
        ops.push_back({'E'});
        ops.push_back({'E'});
    }
    ops.push_back({'E'});
    Meaning intended, read;
    const std::string out = run(ops, intended, zaq::XmlWriter::Options{Policy::Prefixed, false});
    const std::size_t root = out.find('>') + 1, copy = (out.size() - root - 4) / 3;
    ASSERT_EQ(out.substr(root, copy), out.substr(root + copy, copy)) << out;
    ASSERT_EQ(out.substr(root, copy), out.substr(root + 2 * copy, copy)) << out;
    EXPECT_EQ(out.substr(root, 30), R"(<p:f id="1" q:id="2"/><p:f id=)");
    ASSERT_TRUE(readBack(out, read)) << out;
    EXPECT_EQ(read.elements, intended.elements);
}

struct Refused {
    const char* name;
    Ops before; // accepted calls
    WriterOp call;
    Kind kind;
};

// A refused call throws its kind of error and changes nothing: the output
// so far is unchanged, and the document then ends as if the call had never
// been made.
TEST(XmlWriter, RefusedCallsChangeNothing) {
    const WriterOp root{'S', u"", u"r"};
    const std::vector<Refused> cases = {
        {"element name with a digit first", {root}, {'S', u"", u"1a"}, Kind::Name},
        {"element name with a colon", {root}, {'S', u"", u"a:b"}, Kind::Name},
        {"unpaired surrogate ending an XML 1.1 name", {{'D', u"1.1"}, root}, {'S', u"", u"x\xD800"}, Kind::Name},
        {"attribute name empty", {root}, {'A', u"", u"", u"v"}, Kind::Name},
        {"control character in 1.0", {root}, {'T', u"a\x01"}, Kind::Character},
        {"unpaired surrogate", {root}, {'A', u"", u"v", u"\xD800x"}, Kind::Character},
        {"U+FFFE", {root}, {'M', u"\uFFFE"}, Kind::Character},
        {"restricted character in a 1.1 comment", {{'D', u"1.1"}, root}, {'M', u"\x01"}, Kind::Character},
        {"comment with --", {root}, {'M', u"a--b"}, Kind::Comment},
        {"comment ending with -", {root}, {'M', u"a-"}, Kind::Comment},
        {"PI target xml", {}, {'I', u"XmL", u""}, Kind::Instruction},
        {"PI data with ?>", {root}, {'I', u"p", u"a?>b"}, Kind::Instruction},
        {"second root", {root, {'E'}}, {'S', u"", u"s"}, Kind::Order},
        {"attribute after content", {root, {'T', u"x"}}, {'A', u"", u"a", u"1"}, Kind::Order},
        {"attribute after a child's end", {root, {'S', u"", u"c"}, {'E'}}, {'A', u"", u"a", u"1"}, Kind::Order},
        {"duplicate attribute",
         {root, {'A', u"urn:a", u"x", u"1"}},
         {'A', u"urn:a", u"x", u"2"},
         Kind::DuplicateAttribute},
        {"duplicate prefix declaration",
         {root, {'N', u"urn:a", u"p"}},
         {'N', u"urn:b", u"p"},
         Kind::DuplicateAttribute},
        {"xmlns as an attribute", {root}, {'A', u"", u"xmlns", u"urn:a"}, Kind::Namespace},
        {"prefix bound to no namespace", {root}, {'N', u"", u"p"}, Kind::Namespace},
        {"xml prefix to another URI", {root}, {'N', u"urn:a", u"xml"}, Kind::Namespace},
        {"default namespace on an element in no namespace", {root}, {'N', u"urn:a", u""}, Kind::Namespace},
        {"prefix hint that is not a name", {root}, {'S', u"urn:a", u"c", u"1p"}, Kind::Name},
        {"unpaired surrogate ending an XML 1.0 name", {root}, {'S', u"", u"x\xDBFF"}, Kind::Name},
        {"namespace name no IRI can be", {root}, {'S', u"urn:a b", u"c"}, Kind::Namespace},
        {"declared namespace name no IRI can be", {root}, {'N', u"urn:{x}", u"p"}, Kind::Namespace},
        {"end without a start", {root, {'E'}}, {'E'}, Kind::Order},
        {"end of document before any element", {{'M', u"c"}}, {'Z'}, Kind::Order},
        {"text outside the document element", {}, {'T', u"x"}, Kind::Character},
        {"CR before the document element", {}, {'T', u"\r"}, Kind::Character},
        {"CR after the document element", {root, {'E'}}, {'T', u" \r\n"}, Kind::Character},
        {"CDATA outside the document element", {root, {'E'}}, {'C', u"x"}, Kind::Order},
        {"declaration after the first call", {{'M', u"c"}}, {'D'}, Kind::Order},
    };
    for (const Refused& c : cases) {
        std::string out;
        zaq::XmlStringSink sink(out);
        zaq::XmlWriter w(sink);
        Meaning meaning;
        for (const WriterOp& op : c.before)
            runOp(w, op, meaning);
        w.flush();
        const std::string before = out;
        const std::size_t depth = w.depth();
        try {
            runOp(w, c.call, meaning);
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const zaq::XmlWriterError& e) {
            EXPECT_EQ(e.kind(), c.kind) << c.name << ": " << e.what();
        }
        w.flush();
        EXPECT_EQ(out, before) << c.name;
        EXPECT_EQ(w.depth(), depth) << c.name;
        // The same document ends the same way with or without the call.
        Ops rest(depth, WriterOp{'E'});
        bool rooted = false;
        for (const WriterOp& op : c.before)
            rooted = rooted || op.code == 'S';
        if (!rooted)
            rest.insert(rest.end(), {root, {'E'}});
        rest.push_back({'Z'});
        for (const WriterOp& op : rest)
            ASSERT_NO_THROW(runOp(w, op, meaning)) << c.name;
        Meaning unused;
        Ops without = c.before;
        without.insert(without.end(), rest.begin(), rest.end());
        EXPECT_EQ(out, run(without, unused)) << c.name;
    }
}

// Every sink gets the same bytes; UTF-8 calls write what UTF-16 calls do,
// and malformed UTF-8 is refused.
TEST(XmlWriter, SinksAndUtf8Calls) {
    auto write = [](zaq::XmlSink& sink) {
        zaq::XmlWriter w(sink);
        w.startDocument();
        w.startElement("urn:\xC3\xA9", "r", "e");
        w.attribute("", "a", "\xF0\x9F\x98\x80");
        w.text("t");
        w.endElement();
        w.endDocument();
        EXPECT_THROW(w.comment("\xC3"), zaq::XmlWriterError);
    };
    std::string expected;
    zaq::XmlStringSink toString(expected);
    write(toString);
    EXPECT_EQ(expected, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                        "<e:r xmlns:e=\"urn:\xC3\xA9\" a=\"\xF0\x9F\x98\x80\">t</e:r>");

    std::ostringstream stream;
    zaq::XmlStreamSink toStream(stream);
    write(toStream);
    EXPECT_EQ(stream.str(), expected);

    xercesc::MemBufFormatTarget target;
    zaq::XmlFormatTargetSink toTarget(target);
    write(toTarget);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(target.getRawBuffer()), target.getLen()), expected);

    for (bool descriptor : {false, true}) {
        std::FILE* file = std::tmpfile();
        ASSERT_NE(file, nullptr);
        {
            zaq::XmlFileSink toFile(file);
            zaq::XmlDescriptorSink toDescriptor(fileno(file));
            write(descriptor ? static_cast<zaq::XmlSink&>(toDescriptor) : toFile);
        }
        std::rewind(file);
        std::string read(expected.size() + 1, '\0');
        read.resize(std::fread(&read[0], 1, read.size(), file));
        std::fclose(file);
        EXPECT_EQ(read, expected) << (descriptor ? "descriptor" : "FILE*");
    }

    // A sink that refuses: the call that fills the buffer reports it, and so
    // does every later one.
    struct Refusing : zaq::XmlSink {
        bool write(const char*, std::size_t) override { return false; }
    } refusing;
    zaq::XmlWriter w(refusing);
    w.startElement(u"", u"r");
    const std::u16string block(1 << 17, u'x');
    try {
        w.text(block);
        FAIL() << "a refused write went unreported";
    } catch (const zaq::XmlWriterError& e) {
        EXPECT_EQ(e.kind(), Kind::Output);
    }
    EXPECT_THROW(w.endElement(), zaq::XmlWriterError);
}

// A sink's own exception fails the writer like a refused write; text of any
// length reaches the sink in pieces no larger than the buffer.
TEST(XmlWriter, ThrowingSinksAndLongCalls) {
    struct Throwing : zaq::XmlSink {
        bool write(const char*, std::size_t) override { throw std::runtime_error("disk on fire"); }
    } throwing;
    zaq::XmlWriter failing(throwing);
    failing.startElement(u"", u"r");
    EXPECT_THROW(failing.text(std::u16string(1 << 17, u'x')), std::runtime_error);
    EXPECT_TRUE(failing.failed());
    try {
        failing.endElement();
        ADD_FAILURE() << "a failed writer went on";
    } catch (const zaq::XmlWriterError& e) {
        EXPECT_EQ(e.kind(), Kind::Output);
    }

    struct Largest : zaq::XmlSink {
        std::size_t largest = 0, total = 0;
        std::string tail;
        bool write(const char* data, std::size_t size) override {
            largest = std::max(largest, size);
            total += size;
            tail.append(data, size);
            tail.erase(0, tail.size() > 32 ? tail.size() - 32 : 0);
            return true;
        }
    };
    const std::string utf8 = std::string(3 << 20, 'a') + "\xC3\xA9]]>";
    const std::u16string utf16 = std::u16string(3 << 20, u'a') + u"😀";
    for (int kind = 0; kind < 4; ++kind) {
        Largest sink;
        zaq::XmlWriter w(sink);
        w.startElement("", "r");
        if (kind == 0)
            w.text(utf8);
        else if (kind == 1)
            w.text(utf16);
        else if (kind == 2)
            w.cdata(utf8);
        else
            w.comment(utf8.substr(0, utf8.size() - 5));
        w.endDocument();
        EXPECT_LE(sink.largest, std::size_t(1) << 17) << kind;
        EXPECT_GT(sink.total, std::size_t(3) << 20) << kind;
        const char* const ends[] = {"a\xC3\xA9]]&gt;</r>", "a\xF0\x9F\x98\x80</r>", "\xC3\xA9]]]]><![CDATA[>]]></r>",
                                    "aaaaaaaaaaa--></r>"};
        EXPECT_EQ(sink.tail.substr(sink.tail.size() - std::strlen(ends[kind])), ends[kind]) << kind;
    }
}

// UTF-8 and UTF-16 arguments mix; the prefix in force for a QName value is
// asked for without making a binding; writers move; the default namespace
// policy does not follow the environment unless asked to.
TEST(XmlWriter, InterfaceCalls) {
    const char* const XS = "http://www.w3.org/2001/XMLSchema";
    std::string out;
    zaq::XmlStringSink sink(out);
    zaq::XmlWriter first(sink);
    zaq::XmlWriter w(std::move(first));
    EXPECT_THROW(first.startElement("", "r"), zaq::XmlWriterError);
    std::string prefix = "unchanged";
    w.startElement(XS, u"schema", "xs");
    w.attribute(zaq::XML_NAMESPACE, u"lang", "en");
    EXPECT_FALSE(w.prefixInForce(XS, prefix)) << "the tag's own prefix is not decided yet";
    EXPECT_EQ(prefix, "unchanged");
    w.declareNamespace("urn:t", "tns");
    ASSERT_TRUE(w.prefixInForce(u"urn:t", prefix));
    EXPECT_EQ(prefix, "tns");
    w.startElement(XS, "element");
    ASSERT_TRUE(w.prefixInForce(XS, prefix));
    EXPECT_EQ(prefix, "xs");
    EXPECT_FALSE(w.prefixInForce("urn:nowhere", prefix));
    w.attribute("", "type", prefix + ":string");
    w.endDocument();
    EXPECT_EQ(out, R"(<xs:schema xmlns:tns="urn:t" xmlns:xs="http://www.w3.org/2001/XMLSchema" xml:lang="en">)"
                   R"(<xs:element type="xs:string"/></xs:schema>)");

    // Where the open tag undeclares the default namespace, or binds the
    // newest prefix of a URI to another, the answer is what holds there.
    std::string scoped;
    zaq::XmlStringSink scopedSink(scoped);
    zaq::XmlWriter q(scopedSink);
    q.startElement("urn:a", "root", zaq::UNPREFIXED);
    q.declareNamespace("urn:a", "q");
    q.declareNamespace("urn:a", "p");
    q.startElement("", "child");
    EXPECT_TRUE(q.prefixInForce("urn:a", prefix)) << "q and p are in force";
    EXPECT_NE(prefix, "") << "the child undeclares the default namespace";
    q.declareNamespace("urn:b", "p");
    ASSERT_TRUE(q.prefixInForce("urn:a", prefix, false));
    EXPECT_EQ(prefix, "q");
    q.endDocument();

    // Calls in the 1.x order compile (every argument is a string) and are
    // caught where a URI lands in a prefix's place.
    std::string canonical;
    zaq::XmlStringSink canonicalSink(canonical);
    zaq::XmlCanonicalWriter c(canonicalSink, zaq::XmlCanonicalWriter::Options());
    EXPECT_THROW(c.startElement(u"", u"root", u"urn:d"), zaq::XmlWriterError);
    zaq::XmlWriter swapped(canonicalSink);
    swapped.startElement("", "r");
    try {
        swapped.declareNamespace("p", "urn:x");
        ADD_FAILURE() << "a URI taken for a prefix";
    } catch (const zaq::XmlWriterError& e) {
        EXPECT_EQ(e.kind(), Kind::Name);
        EXPECT_NE(std::string(e.what()).find("URI first"), std::string::npos) << e.what();
    }
    EXPECT_EQ(canonical, "");

    // Names follow XML 1.0's fifth edition in and beyond the BMP.
    std::string names;
    zaq::XmlStringSink namesSink(names);
    zaq::XmlWriter n(namesSink);
    n.startElement("", u"\u2070x");
    n.attribute("", u"x\U00010000", "");
    n.endDocument();
    EXPECT_EQ(names, "<\xE2\x81\xB0x x\xF0\x90\x80\x80=\"\"/>");

    // The same program writes the same bytes whatever the environment.
    auto write = [] {
        std::string text;
        zaq::XmlStringSink to(text);
        zaq::XmlWriter x(to);
        x.startElement("urn:a", "r");
        x.declareNamespace("urn:a", "");
        x.startElement("urn:a", "c");
        x.declareNamespace("urn:a", "p");
        x.startElement("urn:a", "d");
        x.endDocument();
        return text;
    };
    const std::string plain = write();
    setDefaultNamespaceSwitch(true);
    const std::string withVariable = write();
    setDefaultNamespaceSwitch(false);
    EXPECT_EQ(plain, withVariable);
    EXPECT_EQ(plain, R"(<r xmlns="urn:a"><c xmlns:p="urn:a"><d/></c></r>)");
}

std::string describe(const Ops& ops) {
    std::string text;
    for (const WriterOp& op : ops) {
        text += op.code;
        for (const std::u16string* s : {&op.a, &op.b, &op.c})
            text += " [" + OrvWstring(*s).toUtf8() + "]";
        text += '\n';
    }
    return text;
}

// The model: random call sequences, each refused call changing nothing,
// end in documents that Xerces-C and expat read back as the calls meant.
TEST(XmlWriter, RandomCallSequencesReadBackAsIntended) {
    std::mt19937 random(20261210);
    const std::function<unsigned()> next = [&] { return static_cast<unsigned>(random()); };
    for (int i = 0; i < 5000; ++i) {
        const Ops ops = randomOps(next, 1 + random() % 40);
        const std::string problem = checkScript(ops);
        ASSERT_EQ(problem, "") << "sequence " << i << ":\n" << describe(ops);
    }
}

} // namespace
