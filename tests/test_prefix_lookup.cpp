// SPDX-License-Identifier: Apache-2.0
// test_prefix_lookup.cpp - prefix lookup, the default namespace, the lookup
// cache, trace records and a whole serialisation.
#include "PrefixTestUtil.h"
#include "TraceCapture.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using Strings = std::vector<std::string>;

// At a root level the reserved prefixes answer, whatever the flag.
TEST(PrefixLookup, ReservedPrefixesAnswerAtRootLevel) {
    XMLPrefixManager m(nullptr);
    m.addLevel();
    EXPECT_EQ(ask(m, XML_NS, true), (Answer{"xml", true}));
    EXPECT_EQ(ask(m, XML_NS, false), (Answer{"xml", true}));
    EXPECT_EQ(ask(m, XMLNS_NS, false), (Answer{"xmlns", true}));
}

// A new URI gets a new prefix once per level; numbers are never reused.
TEST(PrefixLookup, GeneratedNumbersAreNotReused) {
    XMLPrefixManager m(nullptr);
    m.addLevel();
    EXPECT_EQ(ask(m, "urn:a"), (Answer{"NS1", false}));
    EXPECT_EQ(ask(m, "urn:a"), (Answer{"NS1", true}));
    m.removeLevel();
    m.addLevel();
    EXPECT_EQ(ask(m, "urn:a"), (Answer{"NS2", false}));
}

// A binding of an enclosing level answers at deeper levels until its prefix
// is rebound to another URI; then the URI gets a new binding.
TEST(PrefixLookup, ShadowedPrefixIsNotAnsweredForItsOuterUri) {
    XMLPrefixManager m(nullptr);
    prefer(m, "urn:outer", "p");
    m.addLevel();
    EXPECT_EQ(ask(m, "urn:outer"), (Answer{"p", false}));
    m.addLevel();
    m.addLevel();
    EXPECT_EQ(ask(m, "urn:outer"), (Answer{"p", true}));
    bindPrefix(m, "urn:inner", "p");
    EXPECT_EQ(ask(m, "urn:outer"), (Answer{"NS1", false}));
    EXPECT_EQ(ask(m, "urn:inner", false), (Answer{"p", true}));
    m.removeLevel();
    EXPECT_EQ(ask(m, "urn:outer"), (Answer{"p", true}));
}

// Without the switch the empty prefix takes part like any other prefix,
// except that it never answers when the caller forbids it.
TEST(PrefixLookup, DefaultNamespaceWithoutSwitch) {
    ScopedSwitch off(false);
    XMLPrefixManager m(nullptr);
    m.addLevel();
    bindPrefix(m, "urn:d", "");
    EXPECT_TRUE(m.isDefaultSpace());
    EXPECT_EQ(ask(m, "urn:d", true), (Answer{"", true}));
    EXPECT_EQ(ask(m, "urn:d", false), (Answer{"NS1", false})) << "attributes need a real prefix";
    EXPECT_EQ(ask(m, "urn:d", true), (Answer{"NS1", true})) << "the newest binding in force wins";

    XMLPrefixManager order(nullptr);
    order.addLevel();
    bindPrefix(order, "urn:u", "p");
    order.addLevel();
    bindPrefix(order, "urn:u", "");
    EXPECT_EQ(ask(order, "urn:u"), (Answer{"", true}));
    order.removeLevel();
    order.removeLevel();
    order.addLevel();
    bindPrefix(order, "urn:u", "");
    order.addLevel();
    bindPrefix(order, "urn:u", "p");
    EXPECT_EQ(ask(order, "urn:u"), (Answer{"p", true}));
}

// With the switch set the empty prefix wins whenever it holds the URI, even
// over a newer prefix; it is left out of the scan otherwise.
TEST(PrefixLookup, DefaultNamespaceWithSwitch) {
    ScopedSwitch on(true);
    XMLPrefixManager m(nullptr);
    m.addLevel();
    bindPrefix(m, "urn:u", "");
    m.addLevel();
    bindPrefix(m, "urn:u", "p");
    EXPECT_EQ(ask(m, "urn:u", true), (Answer{"", true}));
    EXPECT_EQ(ask(m, "urn:u", false), (Answer{"p", true}));
    bindPrefix(m, "urn:other", ""); // the default moves away from urn:u
    EXPECT_EQ(ask(m, "urn:u", true), (Answer{"p", true}));
    m.removeLevel();
    m.addLevel();
    bindPrefix(m, "urn:v", "");
    bindPrefix(m, "urn:v", "q");
    m.addLevel();
    bindPrefix(m, "urn:w", "");
    EXPECT_EQ(ask(m, "urn:v", true), (Answer{"q", true})) << "the shadowed default is not scanned";
    EXPECT_FALSE(PM::hasNamespace(m, "urn:never")) << "sanity";
    bindPrefix(m, "urn:w2", "");
    m.removeLevel();
    const std::size_t before = PM::namespaceCount(m);
    EXPECT_EQ(ask(m, "urn:v", true), (Answer{"", true}));
    EXPECT_EQ(PM::namespaceCount(m), before) << "the shortcut touches no map";
}

// isDefaultSpace follows the empty prefix's top binding.
TEST(PrefixLookup, IsDefaultSpaceFollowsTopBinding) {
    XMLPrefixManager m(nullptr);
    EXPECT_FALSE(m.isDefaultSpace());
    m.addLevel();
    bindPrefix(m, "urn:d", "");
    EXPECT_TRUE(m.isDefaultSpace());
    m.addLevel();
    bindPrefix(m, "", "");
    EXPECT_FALSE(m.isDefaultSpace());
    m.removeLevel();
    EXPECT_TRUE(m.isDefaultSpace());
    m.removeLevel();
    EXPECT_FALSE(m.isDefaultSpace());
}

// The cache is only a hint: the same calls answered with every hint
// forgotten give the same answers and the same state.
// The other manager also asks through the other overload (a view), and has
// the switch from its constructor, the environment saying the opposite.
TEST(PrefixLookup, CacheNeverChangesAnAnswer) {
    for (bool useSwitch : {false, true}) {
        ScopedSwitch sw(useSwitch);
        XMLPrefixManager cached(nullptr);
        setDefaultNamespaceSwitch(!useSwitch);
        using Default = XMLPrefixManager::DefaultNamespace;
        XMLPrefixManager uncached(nullptr, useSwitch ? Default::Unprefixed : Default::Prefixed);
        setDefaultNamespaceSwitch(useSwitch);
        const Strings uris = {"urn:a", "urn:b", "urn:c", "", XML_NS};
        const Strings prefixes = {"", "a", "NS1", "NS2", "p"};
        std::mt19937 rng(12345);
        for (int step = 0; step < 4000; ++step) {
            const unsigned op = rng() % 10;
            const std::string& uri = uris[rng() % uris.size()];
            if (op < 2) {
                cached.addLevel();
                uncached.addLevel();
            } else if (op < 4) {
                cached.removeLevel();
                uncached.removeLevel();
            } else if (op == 4) {
                const std::string& prefix = prefixes[rng() % prefixes.size()];
                bindPrefix(cached, uri, prefix);
                bindPrefix(uncached, uri, prefix);
            } else {
                const bool allow = rng() % 2;
                PM::forgetCache(uncached);
                ASSERT_EQ(ask(cached, uri, allow), askView(uncached, uri, allow)) << "step " << step;
            }
            if (PM::level(cached) > 8 || PM::level(cached) < -3) {
                cached.reset();
                uncached.reset();
            }
        }
        EXPECT_EQ(PM::checkInvariants(cached), "");
        for (const auto& prefix : prefixes)
            EXPECT_EQ(PM::stack(cached, prefix), PM::stack(uncached, prefix));
    }
}

namespace {
using Lines = std::vector<std::string>;
std::string entry(const char* f) { return std::string("debug entry XMLPrefixManager::") + f; }
std::string exit(const char* f) { return std::string("debug exit XMLPrefixManager::") + f; }
} // namespace

// Debug records at filter 4: the constructor encloses two addNamespace
// pairs, a root addLevel encloses the lookups that bind xml and xmlns, and a
// generated prefix encloses numToStr; every record names the manager.
TEST(PrefixTrace, DebugRecordsNestAsCallsDo) {
    TraceCapture capture(4);
    auto m = std::make_unique<XMLPrefixManager>(nullptr);
    EXPECT_EQ(capture.lines(), (Lines{entry("XMLPrefixManager"), entry("addNamespace"), exit("addNamespace"),
                                      entry("addNamespace"), exit("addNamespace"), exit("XMLPrefixManager")}));
    for (const OrvLogSource* source : capture.sources())
        EXPECT_EQ(source, m.get());

    capture.clear();
    m->addLevel();
    EXPECT_EQ(capture.lines(),
              (Lines{entry("addLevel"), entry("getNamespacePrefix"), entry("createNewPrefix"), exit("createNewPrefix"),
                     exit("getNamespacePrefix"), entry("getNamespacePrefix"), entry("createNewPrefix"),
                     exit("createNewPrefix"), exit("getNamespacePrefix"), exit("addLevel")}));

    capture.clear();
    ask(*m, "urn:a");
    EXPECT_EQ(capture.lines(),
              (Lines{entry("getNamespacePrefix"), entry("createNewPrefix"), entry("generatePrefix"), entry("numToStr"),
                     exit("numToStr"), exit("generatePrefix"), exit("createNewPrefix"), exit("getNamespacePrefix")}));

    capture.clear();
    m->isDefaultSpace();
    bindPrefix(*m, "urn:b", "b");
    m->removeLevel();
    m->reset();
    EXPECT_EQ(capture.lines(), (Lines{entry("isDefaultSpace"), exit("isDefaultSpace"), entry("addNamespaceAndPrefix"),
                                      exit("addNamespaceAndPrefix"), entry("removeLevel"), exit("removeLevel"),
                                      entry("reset"), entry("addNamespace"), exit("addNamespace"),
                                      entry("addNamespace"), exit("addNamespace"), exit("reset")}));

    capture.clear();
    XMLPrefixManager copy(*m);
    copy = *m;
    EXPECT_TRUE(capture.lines().empty()) << "copies write no trace";
    m.reset();
    EXPECT_EQ(capture.lines(), (Lines{entry("~XMLPrefixManager"), exit("~XMLPrefixManager")}));
}

// Nothing is written at filter 3 or below.
TEST(PrefixTrace, SilentAtFilterThree) {
    TraceCapture capture(3);
    XMLPrefixManager m(nullptr);
    m.addLevel();
    ask(m, "urn:a");
    m.removeLevel();
    EXPECT_TRUE(capture.lines().empty());
}

// A SOAP-like document written as a serialiser would: every answer, the
// declarations it implies, and the idle shape after the outermost level.
TEST(PrefixScenario, SerialisesNestedDocument) {
    const std::string S = "http://schemas.xmlsoap.org/soap/envelope/";
    const std::string W = "http://www.w3.org/2005/08/addressing";
    const std::string M = "urn:example:orders";
    const std::string D = "urn:example:default";
    const std::string X = "urn:example:extension";
    XMLPrefixManager m(nullptr);
    prefer(m, S, "soap");
    prefer(m, W, "wsa");
    prefer(m, M, "m");

    m.addLevel(); // <soap:Envelope xml:lang="en">
    EXPECT_EQ(ask(m, S), (Answer{"soap", false}));
    EXPECT_EQ(ask(m, XML_NS, false), (Answer{"xml", true}));
    m.addLevel(); // <soap:Header>
    EXPECT_EQ(ask(m, S), (Answer{"soap", true}));
    m.addLevel(); // <wsa:To>
    EXPECT_EQ(ask(m, W), (Answer{"wsa", false}));
    m.removeLevel();
    m.removeLevel();
    m.addLevel(); // <soap:Body>
    EXPECT_EQ(ask(m, S), (Answer{"soap", true}));
    m.addLevel(); // <m:Order xmlns="D" m:id="1">
    bindPrefix(m, D, "");
    EXPECT_EQ(ask(m, M), (Answer{"m", false}));
    EXPECT_EQ(ask(m, M, false), (Answer{"m", true}));
    m.addLevel(); // <item xml:lang="fr" m:qty="2"/>
    EXPECT_EQ(ask(m, D), (Answer{"", true}));
    EXPECT_EQ(ask(m, XML_NS, false), (Answer{"xml", true}));
    EXPECT_EQ(ask(m, M, false), (Answer{"m", true}));
    m.removeLevel();
    m.addLevel(); // <plain xmlns=""/>: no namespace under a default one
    EXPECT_TRUE(m.isDefaultSpace());
    bindPrefix(m, "", "");
    EXPECT_FALSE(m.isDefaultSpace());
    m.removeLevel();
    EXPECT_TRUE(m.isDefaultSpace());
    m.removeLevel();
    m.addLevel(); // <m:Order ext:flag="y"> - the sibling's declarations are gone
    EXPECT_FALSE(m.isDefaultSpace());
    EXPECT_EQ(ask(m, M), (Answer{"m", false}));
    EXPECT_EQ(ask(m, X, false), (Answer{"NS1", false}));
    m.addLevel(); // <NS1:child>
    EXPECT_EQ(ask(m, X), (Answer{"NS1", true}));
    m.removeLevel();
    m.removeLevel();
    m.removeLevel();
    m.removeLevel();

    EXPECT_EQ(PM::level(m), -1);
    EXPECT_EQ(PM::cacheSize(m), 0u);
    ASSERT_EQ(PM::levelListCount(m), 4u);
    for (std::size_t k = 0; k < 4; ++k)
        EXPECT_TRUE(PM::levelList(m, k).empty());
    for (const char* prefix : {"", "soap", "wsa", "m", "NS1", "xml", "xmlns"})
        EXPECT_TRUE(PM::stack(m, prefix).empty()) << prefix;
    EXPECT_FALSE(m.isDefaultSpace());
    EXPECT_EQ(PM::checkInvariants(m), "");
}
