// SPDX-License-Identifier: Apache-2.0
// test_alloc_failure.cpp - every allocation of our own code made to fail in
// turn: std::bad_alloc reaches the caller, nothing leaks (LeakSanitizer in the
// sanitizer build), nothing crashes, and the object stays usable.
#include "MemoryTestAccess.h"
#include "PrefixTestUtil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

namespace {

// The k-th allocation after arming fails; the counter is off otherwise.
long gCountdown = -1;
bool gInjected = false;

void* allocateOrFail(std::size_t size) {
    if (gCountdown >= 0) {
        if (gCountdown == 0) {
            gCountdown = -1;
            gInjected = true;
            throw std::bad_alloc();
        }
        --gCountdown;
    }
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

/// Runs `scenario` with allocation k failing, for k = 0, 1, 2, ... until a
/// run completes; `after` checks the state after each failed run. Returns
/// the number of failure points.
template <typename Scenario, typename After> long sweep(const char* name, Scenario scenario, After after) {
    for (long k = 0;; ++k) {
        gInjected = false;
        gCountdown = k;
        bool threw = false;
        try {
            scenario();
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        gCountdown = -1;
        if (!threw) {
            EXPECT_FALSE(gInjected) << name << ": an injected failure was swallowed";
            std::printf("%s: %ld failure points\n", name, k);
            ::testing::Test::RecordProperty(name, static_cast<int>(k));
            return k;
        }
        EXPECT_TRUE(gInjected) << name << ": bad_alloc without an injected failure";
        after(k);
        if (::testing::Test::HasFailure())
            return k;
    }
}

// The strings of a serialisation, built before any failure is armed so that
// every failure point is one of the manager's own.
struct Names {
    OrvWstring orders{u"urn:example:orders"}, atom{u"http://www.w3.org/2005/Atom"};
    OrvWstring defaults{u"urn:example:default"}, xml{u"http://www.w3.org/XML/1998/namespace"};
    OrvWstring o{u"o"}, a{u"a"}, empty;
    std::vector<OrvWstring> extensions;
    Names() {
        for (int i = 0; i < 6; ++i)
            extensions.push_back(OrvWstring::fromUtf8("urn:example:ext:" + std::to_string(i)));
    }
};
const Names& names() {
    static const Names n;
    return n;
}

using Answers = std::vector<std::pair<OrvWstring, bool>>;

// A document shaped like a serialisation, driven on a manager; the answers
// go to a list with room reserved beforehand.
void serialise(XMLPrefixManager& m, Answers& answers) {
    const Names& n = names();
    OrvWstring prefix;
    auto ask = [&](const OrvWstring& uri, bool allowDefault) {
        const bool inForce = m.getNamespacePrefix(uri, prefix, allowDefault);
        answers.emplace_back(prefix, inForce);
    };
    m.addNamespace(n.orders, n.o);
    m.addNamespace(n.atom, n.a);
    for (int record = 0; record < 3; ++record) {
        m.addLevel();
        ask(n.orders, true);
        m.addNamespaceAndPrefix(n.defaults, n.empty);
        for (int depth = 0; depth < 6; ++depth) {
            m.addLevel();
            ask(depth % 2 ? n.atom : n.defaults, true);
            ask(n.extensions[std::size_t(depth)], false);
            ask(n.xml, false);
        }
        for (int depth = 0; depth < 6; ++depth)
            m.removeLevel();
        answers.emplace_back(n.empty, m.isDefaultSpace());
        m.removeLevel();
    }
}

Answers serialised(XMLPrefixManager& m) {
    Answers answers;
    answers.reserve(128);
    serialise(m, answers);
    return answers;
}

Answers freshAnswers() {
    XMLPrefixManager fresh(nullptr);
    return serialised(fresh);
}

bool sameAnswers(const Answers& x, const Answers& y) {
    if (x.size() != y.size())
        return false;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (!x[i].first.equals(y[i].first) || x[i].second != y[i].second)
            return false;
    return true;
}

void expectRecovered(XMLPrefixManager& m, long k) {
    EXPECT_EQ(PM::checkInvariants(m), "") << "after failure " << k;
    m.reset();
    EXPECT_TRUE(sameAnswers(serialised(m), freshAnswers())) << "after failure " << k << " and reset";
}

} // namespace

void* operator new(std::size_t size) { return allocateOrFail(size); }
void* operator new[](std::size_t size) { return allocateOrFail(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocateOrFail(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

// Construction fails cleanly at each of its allocations.
TEST(AllocationFailure, PrefixManagerConstruction) {
    const long points = sweep(
        "construction", [] { XMLPrefixManager m(nullptr); }, [](long) {});
    EXPECT_GT(points, 0);
}

// A serialisation interrupted anywhere leaves a consistent manager that,
// after reset, answers like a new one.
TEST(AllocationFailure, PrefixManagerSerialisation) {
    auto m = std::make_unique<XMLPrefixManager>(nullptr);
    Answers answers;
    answers.reserve(128);
    const long points = sweep(
        "serialisation",
        [&] {
            answers.clear();
            serialise(*m, answers);
        },
        [&](long k) { expectRecovered(*m, k); });
    EXPECT_GT(points, 10);
    m->reset();
}

// reset needs no memory, so it has no failure point at all.
TEST(AllocationFailure, PrefixManagerReset) {
    XMLPrefixManager m(nullptr);
    serialised(m);
    m.addLevel();
    m.addLevel();
    ask(m, "urn:open");
    EXPECT_EQ(sweep(
                  "reset", [&] { m.reset(); }, [](long) {}),
              0);
    EXPECT_TRUE(sameAnswers(serialised(m), freshAnswers()));
}

// A failed copy leaks nothing; a failed assignment leaves its target as it
// was.
TEST(AllocationFailure, PrefixManagerCopy) {
    XMLPrefixManager source(nullptr);
    serialised(source);
    source.addLevel();
    source.addLevel();
    ask(source, "urn:deep");
    EXPECT_GT(sweep(
                  "copy construction", [&] { XMLPrefixManager copy(source); }, [](long) {}),
              5);

    XMLPrefixManager target(nullptr);
    target.addLevel();
    ask(target, "urn:target");
    EXPECT_GT(sweep(
                  "copy assignment", [&] { target = source; },
                  [&](long k) {
                      EXPECT_EQ(PM::level(target), 0) << k;
                      EXPECT_EQ(ask(target, "urn:target"), (Answer{"NS1", true})) << k;
                  }),
              5);
    EXPECT_EQ(PM::level(target), PM::level(source));
    expectRecovered(target, -1);
}

// The memory manager's construction (the object and every pool block) fails
// cleanly at each allocation, with N = 1024.
TEST(AllocationFailure, MemoryManagerConstruction) {
    const long points = sweep(
        "memory manager construction", [] { auto m = std::make_unique<OrvXmlMemoryManager>(1024); }, [](long) {});
    EXPECT_EQ(points, 13) << "the object, six pools and six blocks";
}

// The heap paths: an exhausted pool's fallback, sizes above 2048, a busy
// buffer. A failure changes no pool counter and no buffer flag.
TEST(AllocationFailure, MemoryManagerHeapPaths) {
    auto m = std::make_unique<OrvXmlMemoryManager>(32);
    void* chunk = m->allocate(100); // the only 128-byte chunk
    void* buffer = m->allocate(65536);
    std::vector<void*> got;
    got.reserve(8);
    const long points = sweep(
        "memory manager heap paths",
        [&] {
            got.push_back(m->allocate(100));    // pool exhausted: heap
            got.push_back(m->allocate(5000));   // above 2048: heap
            got.push_back(m->allocate(65536));  // buffer busy: heap
            got.push_back(m->allocate(163948)); // buffer free: no heap
        },
        [&](long k) {
            EXPECT_EQ(m->getPool(1)->getNalloc(), 1) << k;
            EXPECT_TRUE(m->isBuffer65536InUse()) << k;
            for (void* p : got)
                m->deallocate(p);
            got.clear();
        });
    EXPECT_EQ(points, 3);
    for (void* p : got)
        m->deallocate(p);
    m->deallocate(buffer);
    m->deallocate(chunk);
    EXPECT_EQ(m->getPool(1)->getNalloc(), 0);
    EXPECT_FALSE(m->isBuffer163948InUse());
}
