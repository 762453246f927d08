// SPDX-License-Identifier: Apache-2.0
// test_prefix_manager.cpp - prefix manager lifecycle, binding, levels and copies.
#include "PrefixTestUtil.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using Stack = std::vector<PM::Binding>;
using Strings = std::vector<std::string>;

// A new manager is idle, knows the two reserved names with their preferred
// prefixes, and has bound nothing.
TEST(PrefixLifecycle, NewManagerIsIdleWithReservedPreferences) {
    ScopedSwitch off(false);
    XMLPrefixManager m(nullptr);
    EXPECT_EQ(PM::level(m), -1);
    EXPECT_FALSE(m.isDefaultSpace());
    EXPECT_EQ(PM::namespaceCount(m), 2u);
    EXPECT_EQ(PM::preferredPrefix(m, XML_NS), "xml");
    EXPECT_EQ(PM::preferredPrefix(m, XMLNS_NS), "xmlns");
    EXPECT_TRUE(PM::prefixRefs(m, XML_NS).empty());
    EXPECT_EQ(PM::prefixCount(m), 1u) << "only the empty prefix";
    EXPECT_TRUE(PM::stack(m, "").empty());
    EXPECT_EQ(PM::levelListCount(m), 0u);
    EXPECT_EQ(PM::cacheSize(m), 0u);
    EXPECT_FALSE(PM::useEmptyPrefixForDefault(m));
    EXPECT_EQ(PM::checkInvariants(m), "");
}

// addNamespace keeps one entry per URI, replaces the preference, keeps the
// bindings in force, and an empty preference means a generated prefix.
TEST(PrefixLifecycle, AddNamespaceRegistersAndReplacesPreference) {
    XMLPrefixManager m(nullptr);
    prefer(m, "urn:a", "a");
    prefer(m, "urn:a", "b");
    EXPECT_EQ(PM::namespaceCount(m), 3u);
    EXPECT_EQ(PM::preferredPrefix(m, "urn:a"), "b");

    m.addLevel();
    EXPECT_EQ(ask(m, "urn:a"), (Answer{"b", false}));
    prefer(m, "urn:a", "c");
    EXPECT_EQ(ask(m, "urn:a"), (Answer{"b", true})) << "the binding in force stays";
    m.addLevel();
    bindPrefix(m, "urn:other", "b"); // shadows b: the new preference is used next
    EXPECT_EQ(ask(m, "urn:a"), (Answer{"c", false}));
    m.removeLevel();

    prefer(m, "urn:plain", "p");
    prefer(m, "urn:plain", "");
    m.addLevel();
    EXPECT_EQ(ask(m, "urn:plain"), (Answer{"NS1", false}));
    EXPECT_EQ(PM::checkInvariants(m), "");
}

// A reserved name's preference can change; the next root level uses it.
TEST(PrefixLifecycle, ReservedPreferenceCanChange) {
    XMLPrefixManager m(nullptr);
    prefer(m, XML_NS, "x");
    m.addLevel();
    EXPECT_EQ(PM::stack(m, "x"), (Stack{{XML_NS, 0}}));
    EXPECT_TRUE(PM::stack(m, "xml").empty());
    EXPECT_EQ(ask(m, XML_NS), (Answer{"x", true}));
}

// reset discards open levels and every binding, numbering starts again,
// and the next root level binds the reserved prefixes anew.
TEST(PrefixLifecycle, ResetReturnsToNewState) {
    XMLPrefixManager m(nullptr);
    m.addLevel();
    m.addLevel();
    EXPECT_EQ(ask(m, "urn:a"), (Answer{"NS1", false}));
    bindPrefix(m, "urn:d", "");
    prefer(m, "urn:p", "p");
    m.reset();
    EXPECT_EQ(PM::level(m), -1);
    EXPECT_EQ(PM::levelListCount(m), 0u);
    EXPECT_EQ(PM::cacheSize(m), 0u);
    EXPECT_EQ(PM::namespaceCount(m), 2u);
    EXPECT_EQ(PM::prefixCount(m), 1u);
    EXPECT_TRUE(PM::stack(m, "").empty());
    EXPECT_EQ(PM::preferredPrefix(m, XML_NS), "xml");
    EXPECT_FALSE(m.isDefaultSpace());
    EXPECT_EQ(PM::checkInvariants(m), "");

    m.addLevel();
    EXPECT_EQ(PM::level(m), 0);
    EXPECT_EQ(PM::stack(m, "xml"), (Stack{{XML_NS, 0}}));
    EXPECT_EQ(ask(m, "urn:a"), (Answer{"NS1", false})) << "generated numbers restart after reset";

    // reset after a changed reserved preference restores "xml".
    prefer(m, XML_NS, "x");
    m.reset();
    EXPECT_EQ(PM::preferredPrefix(m, XML_NS), "xml");
}

// The switch is read once per manager, at construction: presence alone
// counts, and reset keeps it.
TEST(PrefixLifecycle, EnvironmentSwitchIsReadOnceAtConstruction) {
    std::unique_ptr<XMLPrefixManager> on;
    {
        ScopedSwitch set(true); // defined with an empty value
        on = std::make_unique<XMLPrefixManager>(nullptr);
    }
    EXPECT_TRUE(PM::useEmptyPrefixForDefault(*on));
    on->reset();
    EXPECT_TRUE(PM::useEmptyPrefixForDefault(*on)) << "reset does not read the environment";
    XMLPrefixManager off(nullptr);
    EXPECT_FALSE(PM::useEmptyPrefixForDefault(off));
}

// Destroying with levels open and with bindings made outside any level
// releases everything once (checked by the sanitizers' leak report).
TEST(PrefixLifecycle, DestroysInAnyState) {
    auto m = std::make_unique<XMLPrefixManager>(nullptr);
    bindPrefix(*m, "urn:loose", "l");
    for (int i = 0; i < 5; ++i) {
        m->addLevel();
        ask(*m, "urn:" + std::to_string(i));
    }
    m.reset();
    SUCCEED();
}

// Generated prefixes count up, skip candidates bound at the current level
// (preferred or generated), and consume the numbers they skip.
TEST(PrefixBinding, GeneratedPrefixesSkipCurrentLevelCandidates) {
    XMLPrefixManager m(nullptr);
    m.addLevel();
    EXPECT_EQ(PM::createNewPrefix(m, "urn:a"), "NS1");
    EXPECT_EQ(PM::createNewPrefix(m, "urn:b"), "NS2");

    XMLPrefixManager n(nullptr);
    n.addLevel();
    EXPECT_EQ(ask(n, "urn:a"), (Answer{"NS1", false}));
    bindPrefix(n, "urn:x", "NS2");
    EXPECT_EQ(ask(n, "urn:b"), (Answer{"NS3", false})) << "NS2 is bound at this level by the caller";

    XMLPrefixManager p(nullptr);
    prefer(p, "urn:one", "p");
    prefer(p, "urn:two", "p");
    p.addLevel();
    EXPECT_EQ(ask(p, "urn:one"), (Answer{"p", false}));
    EXPECT_EQ(ask(p, "urn:two"), (Answer{"NS1", false})) << "p is taken at this level";
    p.addLevel();
    EXPECT_EQ(ask(p, "urn:two", false), (Answer{"NS1", true}));
    bindPrefix(p, "urn:three", "NS1");
    EXPECT_EQ(ask(p, "urn:two"), (Answer{"p", false})) << "p from an enclosing level may be shadowed";
    EXPECT_EQ(PM::stack(p, "p"), (Stack{{"urn:one", 0}, {"urn:two", 1}}));
    EXPECT_EQ(PM::prefixCounter(p), 1);
    EXPECT_EQ(PM::checkInvariants(p), "");
}

// With no level open, bindings carry level -1, go into no level list, reject
// candidates bound at -1 too, and stay until reset.
TEST(PrefixBinding, BindingsWithNoLevelOpenStayUntilReset) {
    XMLPrefixManager m(nullptr);
    m.addLevel();
    m.addLevel();
    m.removeLevel();
    m.removeLevel();
    ASSERT_EQ(PM::levelListCount(m), 2u);
    EXPECT_EQ(ask(m, "urn:a"), (Answer{"NS1", false}));
    EXPECT_EQ(ask(m, "urn:b"), (Answer{"NS2", false}));
    bindPrefix(m, "urn:c", "NS3");
    EXPECT_EQ(ask(m, "urn:d"), (Answer{"NS4", false}));
    EXPECT_EQ(PM::stack(m, "NS1"), (Stack{{"urn:a", -1}}));
    EXPECT_TRUE(PM::levelList(m, 0).empty());
    EXPECT_TRUE(PM::levelList(m, 1).empty());

    m.addLevel();
    EXPECT_EQ(ask(m, "urn:a"), (Answer{"NS1", true}));
    m.removeLevel();
    EXPECT_EQ(ask(m, "urn:a"), (Answer{"NS1", true})) << "closing a root level leaves level -1 bindings";
    EXPECT_EQ(PM::checkInvariants(m), "");
    m.reset();
    EXPECT_FALSE(PM::hasPrefixEntry(m, "NS1"));
}

// The same pair bound twice makes two of each record; the level removes both.
TEST(PrefixBinding, DuplicateBindingIsRecordedTwice) {
    XMLPrefixManager m(nullptr);
    m.addLevel();
    m.addLevel();
    bindPrefix(m, "urn:a", "a");
    bindPrefix(m, "urn:a", "a");
    EXPECT_EQ(PM::prefixRefs(m, "urn:a"), (Strings{"a", "a"}));
    EXPECT_EQ(PM::stack(m, "a"), (Stack{{"urn:a", 1}, {"urn:a", 1}}));
    EXPECT_EQ(PM::levelList(m, 1), (Strings{"urn:a", "urn:a"}));
    m.removeLevel();
    EXPECT_TRUE(PM::prefixRefs(m, "urn:a").empty());
    EXPECT_TRUE(PM::stack(m, "a").empty());
    EXPECT_TRUE(PM::hasPrefixEntry(m, "a")) << "entries stay after their bindings go";
    EXPECT_TRUE(PM::levelList(m, 1).empty());

    bindPrefix(m, "", "");
    EXPECT_FALSE(m.isDefaultSpace()) << "the empty prefix bound to the empty URI";
    bindPrefix(m, "urn:d", "");
    EXPECT_TRUE(m.isDefaultSpace());
}

// numToStr prepends decimal digits; negative numbers leave the text alone.
TEST(PrefixBinding, NumToStrPrependsDigits) {
    XMLPrefixManager m(nullptr);
    EXPECT_EQ(PM::numToStr(m, 0, ""), "0");
    EXPECT_EQ(PM::numToStr(m, 42, "x"), "42x");
    EXPECT_EQ(PM::numToStr(m, -5, "x"), "x");
    EXPECT_EQ(PM::numToStr(m, 9223372036854775807LL, ""), "9223372036854775807");
    EXPECT_EQ(PM::numToStr(m, 1000, ""), "1000");
    EXPECT_EQ(PM::generatePrefix(m), "NS1");
    EXPECT_EQ(PM::generatePrefix(m), "NS2");
}

// The first root level: list with both reserved names, both bound at 0, one
// cache element at the end position; closing withdraws them but keeps the
// entries and the list; the next root level reuses that list.
TEST(PrefixLevels, RootLevelBindsAndWithdrawsReservedPrefixes) {
    XMLPrefixManager m(nullptr);
    m.addLevel();
    EXPECT_EQ(PM::level(m), 0);
    EXPECT_EQ(PM::levelList(m, 0), (Strings{XML_NS, XMLNS_NS}));
    EXPECT_EQ(PM::stack(m, "xml"), (Stack{{XML_NS, 0}}));
    EXPECT_EQ(PM::stack(m, "xmlns"), (Stack{{XMLNS_NS, 0}}));
    ASSERT_EQ(PM::cacheSize(m), 1u);
    EXPECT_TRUE(PM::cacheIsEnd(m, 0));
    const void* rootList = PM::levelListAddress(m, 0);

    m.removeLevel();
    EXPECT_EQ(PM::level(m), -1);
    EXPECT_TRUE(PM::stack(m, "xml").empty());
    EXPECT_TRUE(PM::hasPrefixEntry(m, "xmlns"));
    EXPECT_EQ(PM::levelListCount(m), 1u);
    EXPECT_TRUE(PM::levelList(m, 0).empty());
    EXPECT_EQ(PM::cacheSize(m), 0u);

    m.addLevel();
    EXPECT_EQ(PM::levelListCount(m), 1u);
    EXPECT_EQ(PM::levelListAddress(m, 0), rootList) << "the kept list serves again";
    EXPECT_EQ(PM::stack(m, "xml"), (Stack{{XML_NS, 0}}));
}

// Lists are created once per depth and kept: 3 deep makes 3, 4 deep one more.
TEST(PrefixLevels, LevelListsAreKeptPerDepth) {
    XMLPrefixManager m(nullptr);
    for (int i = 0; i < 3; ++i)
        m.addLevel();
    EXPECT_EQ(PM::cacheSize(m), 3u);
    for (int i = 0; i < 3; ++i)
        m.removeLevel();
    EXPECT_EQ(PM::levelListCount(m), 3u);
    for (int i = 0; i < 4; ++i)
        m.addLevel();
    EXPECT_EQ(PM::levelListCount(m), 4u);
    for (int i = 0; i < 4; ++i)
        m.removeLevel();
    EXPECT_EQ(PM::level(m), -1);
    EXPECT_EQ(PM::cacheSize(m), 0u);
    EXPECT_EQ(PM::checkInvariants(m), "");
}

// A prefix rebound at an inner level answers for the inner URI until that
// level closes, then for the outer one again; bindings of one URI at one
// level are withdrawn newest first.
TEST(PrefixLevels, InnerRebindingIsWithdrawnWithItsLevel) {
    XMLPrefixManager m(nullptr);
    m.addLevel();
    bindPrefix(m, "urn:u", "p");
    m.addLevel();
    bindPrefix(m, "urn:v", "p");
    EXPECT_EQ(PM::stack(m, "p").back(), (PM::Binding{"urn:v", 1}));
    EXPECT_EQ(ask(m, "urn:u"), (Answer{"NS1", false})) << "p is shadowed for urn:u";
    m.removeLevel();
    EXPECT_EQ(PM::stack(m, "p"), (Stack{{"urn:u", 0}}));
    EXPECT_TRUE(PM::prefixRefs(m, "urn:v").empty());
    EXPECT_EQ(ask(m, "urn:u"), (Answer{"p", true}));

    m.addLevel();
    bindPrefix(m, "urn:w", "p1");
    bindPrefix(m, "urn:w", "q1");
    EXPECT_EQ(PM::prefixRefs(m, "urn:w"), (Strings{"p1", "q1"}));
    m.removeLevel();
    EXPECT_TRUE(PM::stack(m, "q1").empty());
    EXPECT_TRUE(PM::stack(m, "p1").empty());
    EXPECT_EQ(PM::checkInvariants(m), "");
}

// Unbalanced closing: removeLevel on a new manager goes to -2; the next
// addLevel is a root level at -1 with no list whose bindings stay.
TEST(PrefixLevels, UnbalancedRemoveLevelGoesNegative) {
    XMLPrefixManager m(nullptr);
    m.removeLevel();
    EXPECT_EQ(PM::level(m), -2);
    EXPECT_EQ(PM::cacheSize(m), 0u);
    m.addLevel();
    EXPECT_EQ(PM::level(m), -1);
    EXPECT_EQ(PM::levelListCount(m), 0u);
    EXPECT_EQ(PM::stack(m, "xml"), (Stack{{XML_NS, -1}}));
    EXPECT_EQ(PM::stack(m, "xmlns"), (Stack{{XMLNS_NS, -1}}));
    m.addLevel(); // level 0: a root level again, with a list
    EXPECT_EQ(PM::level(m), 0);
    EXPECT_EQ(PM::levelList(m, 0), Strings{}) << "xml is already in force from level -1";
    m.addLevel();
    EXPECT_EQ(ask(m, "urn:a"), (Answer{"NS1", false}));
    m.removeLevel();
    m.removeLevel();
    m.removeLevel();
    EXPECT_EQ(PM::level(m), -2);
    EXPECT_EQ(PM::stack(m, "xml"), (Stack{{XML_NS, -1}})) << "level -1 bindings stay until reset";
    EXPECT_EQ(PM::checkInvariants(m), "");
}

namespace {

// Drives a manager through a fixed mix of calls and returns every answer.
std::vector<Answer> drive(XMLPrefixManager& m) {
    std::vector<Answer> answers;
    const char* uris[] = {"urn:a", "urn:b", "urn:c", "", "http://www.w3.org/XML/1998/namespace"};
    for (int round = 0; round < 3; ++round) {
        m.addLevel();
        for (int i = 0; i < 5; ++i) {
            answers.push_back(ask(m, uris[(i + round) % 5], i % 2 == 0));
            if (i == round)
                bindPrefix(m, uris[i], "p" + std::to_string(i));
        }
        answers.push_back(Answer{"default", m.isDefaultSpace()});
    }
    for (int round = 0; round < 2; ++round) {
        m.removeLevel();
        answers.push_back(ask(m, "urn:b"));
    }
    return answers;
}

} // namespace

// A copy made deep inside a document behaves exactly like its source from
// then on, shares nothing (the source can die first), and assignment does
// the same; self-assignment is harmless.
TEST(PrefixCopy, CopyBehavesLikeSourceAndSharesNothing) {
    auto source = std::make_unique<XMLPrefixManager>(nullptr);
    prefer(*source, "urn:b", "b");
    for (int i = 0; i < 4; ++i) {
        source->addLevel();
        ask(*source, "urn:x" + std::to_string(i));
        bindPrefix(*source, "urn:y", "y");
    }
    XMLPrefixManager copy(*source);
    XMLPrefixManager assigned(nullptr);
    assigned.addLevel();
    ask(assigned, "urn:junk");
    assigned = *source;
    EXPECT_EQ(PM::checkInvariants(copy), "");
    EXPECT_EQ(PM::checkInvariants(assigned), "");
    EXPECT_EQ(PM::cacheSize(copy), 4u);
    EXPECT_EQ(PM::cacheUri(copy, 2), PM::cacheUri(*source, 2));
    XMLPrefixManager rootOnly(nullptr);
    rootOnly.addLevel();
    XMLPrefixManager rootCopy(rootOnly);
    XMLPrefixManager rootAssigned(nullptr);
    rootAssigned = rootOnly;
    EXPECT_TRUE(PM::cacheIsEnd(rootCopy, 0)) << "an end hint stays an end hint of the copy's own map";
    EXPECT_TRUE(PM::cacheIsEnd(rootAssigned, 0));

    const std::vector<Answer> expected = drive(*source);
    source.reset(); // the copies must not depend on the source
    EXPECT_EQ(drive(copy), expected);
    EXPECT_EQ(drive(assigned), expected);

    const XMLPrefixManager& alias = copy;
    copy = alias;
    EXPECT_EQ(PM::checkInvariants(copy), "");
    while (PM::level(copy) >= 0)
        copy.removeLevel();
    const std::string next = "NS" + std::to_string(PM::prefixCounter(copy) + 1);
    EXPECT_EQ(ask(copy, "urn:y"), (Answer{next, false}));
}
