// SPDX-License-Identifier: Apache-2.0
// test_alloc_failure.cpp - every allocation of our own code made to fail in
// turn, with tracing off and on: std::bad_alloc reaches the caller, nothing
// leaks (LeakSanitizer in the sanitizer build), nothing crashes, the object
// stays usable, and a failure inside tracing costs at most its record.
#include "MemoryTestAccess.h"
#include "OrvFatalException.h"
#include "PrefixTestUtil.h"
#include "TraceCapture.h"
#include "XmlWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

// The k-th allocation after arming fails, and with gExhaust every later one
// too; the counter is off otherwise.
long gCountdown = -1;
bool gExhaust = false;
bool gInjected = false;
long gRefused = 0;

void* allocateOrFail(std::size_t size) {
    if (gCountdown >= 0) {
        if (gCountdown == 0) {
            if (!gExhaust)
                gCountdown = -1;
            gInjected = true;
            ++gRefused;
            throw std::bad_alloc();
        }
        --gCountdown;
    }
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

// Trace filters of the sweeps: off, the memory manager's and pools' records,
// and the prefix manager's debug records as well.
const int FILTERS[] = {0, 3, 4};

// Which records a scenario writes: none, the prefix manager's debug records
// (no inserts, filter above 3), or the memory manager's and pools' entry and
// exit records (integer inserts, filter above 2).
enum class Traces { None, Debug, Entry };

bool traced(Traces traces, int filter) {
    return (traces == Traces::Debug && filter > 3) || (traces == Traces::Entry && filter > 2);
}

using Lines = std::vector<std::string>;

// A record that lost inserts for lack of memory ends in " ...".
bool isTruncated(const std::string& line) { return line.size() >= 4 && line.compare(line.size() - 4, 4, " ...") == 0; }

// Whether the records of a run whose tracing lost memory are those of a
// complete run, in order, each one whole, truncated after some of its
// inserts, or missing.
bool recordsConsistent(const Lines& got, const Lines& complete) {
    std::size_t j = 0;
    for (const std::string& line : got) {
        const bool truncated = isTruncated(line);
        const std::string stem = truncated ? line.substr(0, line.size() - 4) : line;
        while (j < complete.size() &&
               (truncated ? complete[j].compare(0, stem.size(), stem) != 0 : complete[j] != stem))
            ++j;
        if (j == complete.size())
            return false;
        ++j;
    }
    return true;
}

struct SweepResult {
    long failures = 0;  ///< runs that ended in std::bad_alloc
    long absorbed = 0;  ///< runs whose failed allocation was tracing's: they succeeded
    long truncated = 0; ///< truncated records seen
};

int failureCount() { return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count(); }

/// Runs `scenario` at trace filter `filter`, with a sink that keeps the
/// records (so tracing allocates too), first with no failure for the
/// complete records, then with allocation k failing for k = 0, 1, 2, ...
/// until a run makes fewer allocations. `after(k, threw)` checks the state
/// after each run (k is -1 for the first) and restores it for the next.
/// With `exhaust`, every allocation from the k-th on fails.
template <typename Scenario, typename After>
SweepResult sweep(const char* name, int filter, bool exhaust, Scenario scenario, After after) {
    Lines complete;
    {
        TraceCapture capture(filter);
        scenario();
        complete = capture.lines();
    }
    after(-1, false);
    const int failuresBefore = failureCount();
    SweepResult result;
    for (long k = 0;; ++k) {
        TraceCapture capture(filter);
        gInjected = false;
        gExhaust = exhaust;
        gCountdown = k;
        bool threw = false;
        try {
            scenario();
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        gCountdown = -1;
        const Lines lines = capture.lines();
        if (!gInjected) {
            EXPECT_FALSE(threw) << name << ": bad_alloc without an injected failure";
            EXPECT_EQ(lines, complete) << name;
            std::printf("%s, trace filter %d%s: %ld failure points, %ld absorbed by tracing, %ld records truncated\n",
                        name, filter, exhaust ? ", exhausting" : "", result.failures, result.absorbed,
                        result.truncated);
            after(k, false);
            return result;
        }
        ++(threw ? result.failures : result.absorbed);
        for (const std::string& line : lines)
            result.truncated += isTruncated(line);
        // A run that failed did less; one that succeeded did everything.
        if (!threw) {
            EXPECT_TRUE(recordsConsistent(lines, complete))
                << name << ": records after failure " << k << "\n  " << ::testing::PrintToString(lines);
        }
        after(k, threw);
        if (failureCount() != failuresBefore)
            return result;
    }
}

/// The sweep at each trace filter. Tracing never changes which runs fail:
/// the library's own allocations fail as many times at every filter, and
/// every failure inside tracing is absorbed. Returns the failure points.
template <typename Scenario, typename After>
long sweepTraced(const char* name, Traces traces, Scenario scenario, After after, bool exhaust = false) {
    long untraced = -1;
    const int failuresBefore = failureCount();
    for (int filter : FILTERS) {
        const SweepResult result = sweep(name, filter, exhaust, scenario, after);
        if (failureCount() != failuresBefore)
            return result.failures;
        if (untraced < 0)
            untraced = result.failures;
        if (exhaust)
            continue; // a run exhausted inside tracing fails at its next allocation of its own
        EXPECT_EQ(result.failures, untraced) << name << " at trace filter " << filter;
        EXPECT_EQ(result.absorbed > 0, traced(traces, filter)) << name << " at trace filter " << filter;
        EXPECT_EQ(result.truncated > 0, traces == Traces::Entry && traced(traces, filter))
            << name << " at trace filter " << filter;
    }
    ::testing::Test::RecordProperty(name, static_cast<int>(untraced));
    return untraced;
}

void nothingAfter(long, bool) {}

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

// The answers of a new manager, computed once.
const Answers& freshAnswers() {
    static const Answers answers = [] {
        XMLPrefixManager fresh(nullptr);
        return serialised(fresh);
    }();
    return answers;
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

// The objects' construction and destruction, with the pool's and the
// manager's failures on argument too, fail cleanly at each allocation,
// also when memory stays exhausted from there on.
TEST(AllocationFailure, ConstructionAndDestruction) {
    using Pool = OrvXmlMemoryManager::MemoryPool;
    unsigned int fatalId = 0;
    auto fatal = [&](auto construct) {
        return [&fatalId, construct] {
            fatalId = 0;
            try {
                construct();
            } catch (const OrvFatalException& e) {
                fatalId = static_cast<unsigned int>(e.messageId());
            }
        };
    };
    const unsigned int ZAQ2111 = 0xC000083Fu;
    struct Case {
        const char* name;
        Traces traces;
        std::function<void()> scenario;
        unsigned int fatalId; ///< the OrvFatalException every complete run raises, or 0
        long points;          ///< failure points
    };
    const Case cases[] = {
        {"prefix manager", Traces::Debug, [] { XMLPrefixManager m(nullptr); }, 0, 4},
        {"pool", Traces::Entry,
         [] {
             Pool pool(1, 64);
             void* chunk = pool.allocate(64);
             void* heap = pool.allocate(64); // exhausted: from the heap
             pool.deallocate(chunk);
             ::operator delete(heap);
         },
         0, 2},
        {"pool of size 0", Traces::Entry, fatal([] { Pool pool(0, 64); }), ZAQ2111, 0},
        {"memory manager", Traces::Entry, [] { auto m = std::make_unique<OrvXmlMemoryManager>(1024); }, 0, 13},
        {"memory manager of size 31", Traces::Entry, fatal([] { auto m = std::make_unique<OrvXmlMemoryManager>(31); }),
         ZAQ2111, 0},
    };
    auto after = [&](const Case& c) {
        return [&](long k, bool threw) {
            if (!threw) {
                EXPECT_EQ(fatalId, c.fatalId) << c.name << " after failure " << k;
            }
            fatalId = 0;
        };
    };
    for (const Case& c : cases) {
        const long points = sweepTraced(c.name, c.traces, c.scenario, after(c));
        if (c.points > 0)
            EXPECT_EQ(points, c.points) << c.name;
        else
            EXPECT_GT(points, 0) << c.name; // the exception's own allocations
        sweepTraced(c.name, c.traces, c.scenario, after(c), true);
    }
}

// Destroying every object while no memory can be had at all: destructors
// allocate nothing of their own, and tracing that cannot get memory gives
// up its records without throwing.
TEST(AllocationFailure, DestructionWithMemoryExhausted) {
    for (int filter : FILTERS) {
        TraceCapture capture(filter);
        auto pool = std::make_unique<OrvXmlMemoryManager::MemoryPool>(4, 64);
        void* chunk = pool->allocate(64);
        auto memory = std::make_unique<OrvXmlMemoryManager>(32);
        void* buffer = memory->allocate(65536);
        auto prefixes = std::make_unique<XMLPrefixManager>(nullptr);
        prefixes->addLevel();
        ask(*prefixes, "urn:exhausted");
        gRefused = 0;
        gExhaust = true;
        gCountdown = 0;
        memory->deallocate(buffer);
        pool->deallocate(chunk);
        memory.reset();
        pool.reset();
        prefixes.reset();
        gCountdown = -1;
        EXPECT_EQ(gRefused > 0, filter > 2) << "trace filter " << filter;
    }
}

// A serialisation interrupted anywhere leaves a consistent manager that,
// after reset, answers like a new one; one that completed answers right.
TEST(AllocationFailure, PrefixManagerSerialisation) {
    auto m = std::make_unique<XMLPrefixManager>(nullptr);
    Answers answers;
    answers.reserve(128);
    const long points = sweepTraced(
        "serialisation", Traces::Debug,
        [&] {
            answers.clear();
            serialise(*m, answers);
        },
        [&](long k, bool threw) {
            if (threw)
                expectRecovered(*m, k);
            else
                EXPECT_TRUE(sameAnswers(answers, freshAnswers())) << "after failure " << k;
            m->reset();
        });
    EXPECT_GT(points, 10);
}

// reset needs no memory, so it has no failure point at all.
TEST(AllocationFailure, PrefixManagerReset) {
    XMLPrefixManager m(nullptr);
    auto populate = [&] {
        serialised(m);
        m.addLevel();
        m.addLevel();
        ask(m, "urn:open");
    };
    populate();
    EXPECT_EQ(sweepTraced(
                  "reset", Traces::Debug, [&] { m.reset(); },
                  [&](long k, bool) {
                      EXPECT_TRUE(sameAnswers(serialised(m), freshAnswers())) << k;
                      m.reset();
                      populate();
                  }),
              0);
}

// A failed copy leaks nothing; a failed assignment leaves its target as it
// was.
TEST(AllocationFailure, PrefixManagerCopy) {
    XMLPrefixManager source(nullptr);
    serialised(source);
    source.addLevel();
    source.addLevel();
    ask(source, "urn:deep");
    EXPECT_GT(sweepTraced(
                  "copy construction", Traces::Debug, [&] { XMLPrefixManager copy(source); }, nothingAfter),
              5);

    // Copy assignment writes no records; the target's destruction does.
    XMLPrefixManager original(nullptr);
    original.addLevel();
    ask(original, "urn:target");
    auto target = std::make_unique<XMLPrefixManager>(original);
    EXPECT_GT(sweepTraced(
                  "copy assignment", Traces::None, [&] { *target = source; },
                  [&](long k, bool threw) {
                      if (threw) {
                          EXPECT_EQ(PM::level(*target), 0) << k;
                          EXPECT_EQ(ask(*target, "urn:target"), (Answer{"NS1", true})) << k;
                      } else {
                          EXPECT_EQ(PM::level(*target), PM::level(source)) << k;
                          expectRecovered(*target, k);
                      }
                      target = std::make_unique<XMLPrefixManager>(original);
                  }),
              5);
}

// The heap paths: an exhausted pool's fallback, sizes above 2048, a busy
// buffer. A failure changes no pool counter and no buffer flag.
// A lookup by view that a binding in force answers allocates nothing, even
// for a URI far longer than an OrvWstring holds inline.
TEST(AllocationFailure, LookupByViewAllocatesNothing) {
    const std::u16string uri = u"http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous";
    XMLPrefixManager m(nullptr);
    m.addLevel();
    OrvWstring prefix;
    ASSERT_FALSE(m.getNamespacePrefix(std::u16string_view(uri), prefix, false)) << "binds NS1";
    m.addLevel();
    gInjected = false;
    gCountdown = 0; // the next allocation fails
    bool found = false;
    EXPECT_NO_THROW(found = m.getNamespacePrefix(std::u16string_view(uri), prefix, false));
    gCountdown = -1;
    EXPECT_TRUE(found);
    EXPECT_FALSE(gInjected) << "the lookup allocated";
    EXPECT_EQ(prefix.toUtf8(), "NS1");
}

// Once a document's URIs and depth have been seen, an element with its
// attributes, text and declarations in force costs the writer no allocation.
TEST(AllocationFailure, WriterSteadyStateAllocatesNothing) {
    struct Discard : zaq::XmlSink {
        bool write(const char*, std::size_t) override { return true; }
    } sink;
    zaq::XmlWriter w(sink);
    const std::u16string soap = u"http://schemas.xmlsoap.org/soap/envelope/";
    const std::u16string wsa = u"http://schemas.xmlsoap.org/ws/2004/08/addressing";
    const std::u16string fresh = u"http://example.org/a/namespace/bound/on/no/ancestor";
    w.setPreferredPrefix(soap, u"soap");
    w.setPreferredPrefix(wsa, u"wsa");
    w.startElement(soap, u"Envelope");
    w.declareNamespace(wsa, u"wsa");
    auto item = [&] {
        w.startElement(soap, u"Body");
        w.startElement(wsa, u"To");
        w.attribute(soap, u"mustUnderstand", u"1");
        w.attribute(u"", u"id", u"a-rather-long-identifier-value");
        w.text(u"http://example.org/a/service/endpoint/that/is/long & <escaped>");
        w.endElement();
        w.comment(u" done ");
        // A URI bound on no ancestor: each sibling declares it again, with
        // the one prefix generated for it.
        w.startElement(fresh, u"sibling");
        w.attribute(fresh, u"a", u"1");
        w.endElement();
        w.endElement();
    };
    for (int i = 0; i < 3; ++i)
        item();
    gInjected = false;
    gCountdown = 0; // the next allocation fails
    EXPECT_NO_THROW(for (int i = 0; i < 100; ++i) item());
    gCountdown = -1;
    EXPECT_FALSE(gInjected) << "an element allocated";
    w.endElement();
    w.endDocument();
}

// An allocation that fails at any point of any call leaves the writer
// failed: that call and every later one throw, and nothing more reaches the
// sink (not even what was buffered), so the output never ends in half an
// event or names a prefix it did not declare.
TEST(AllocationFailure, WriterFailsWholeAfterAnyAllocationFailure) {
    struct Collect : zaq::XmlSink {
        std::string text;
        bool write(const char* data, std::size_t size) override {
            text.append(data, size);
            return true;
        }
    };
    // The script's own strings are made before any allocation may fail.
    const std::u16string uris[] = {u"urn:fresh-0", u"urn:fresh-1", u"urn:fresh-2", u"urn:fresh-3"};
    const std::u16string longText(70000, u'x'); // past the buffer: a write to the sink
    auto script = [&](zaq::XmlWriter& w) {
        w.setPreferredPrefix(u"urn:a", u"a");
        w.startDocument();
        w.startElement(u"urn:a", u"r");
        for (const std::u16string& uri : uris) {
            w.startElement(uri, u"c");
            w.attribute(u"urn:b", u"x", u"value");
            w.declareNamespace(u"urn:declared", u"d");
            w.text(longText);
            w.endElement();
        }
        w.endDocument();
    };
    long points = 0;
    for (long k = 0;; ++k) {
        Collect sink;
        std::size_t written = 0;
        {
            zaq::XmlWriter w(sink);
            bool threw = false;
            gInjected = false;
            gCountdown = k;
            try {
                script(w);
            } catch (const std::bad_alloc&) {
                threw = true;
            }
            gCountdown = -1;
            if (!gInjected)
                break; // the script ran through: every allocation was tried
            ++points;
            ASSERT_TRUE(threw) << k;
            EXPECT_TRUE(w.failed()) << k;
            written = sink.text.size();
            EXPECT_THROW(w.endElement(), zaq::XmlWriterError) << k;
            EXPECT_THROW(w.text(u"more"), zaq::XmlWriterError) << k;
            EXPECT_THROW(w.endDocument(), zaq::XmlWriterError) << k;
        }
        EXPECT_EQ(sink.text.size(), written) << k << ": written after the failure";
    }
    EXPECT_GT(points, 20);
}

TEST(AllocationFailure, MemoryManagerHeapPaths) {
    auto m = std::make_unique<OrvXmlMemoryManager>(32);
    void* chunk = m->allocate(100); // the only 128-byte chunk
    void* buffer = m->allocate(65536);
    std::vector<void*> got;
    got.reserve(8);
    const long points = sweepTraced(
        "memory manager heap paths", Traces::None,
        [&] {
            got.push_back(m->allocate(100));    // pool exhausted: heap
            got.push_back(m->allocate(5000));   // above 2048: heap
            got.push_back(m->allocate(65536));  // buffer busy: heap
            got.push_back(m->allocate(163948)); // buffer free: no heap
        },
        [&](long k, bool threw) {
            EXPECT_EQ(m->getPool(1)->getNalloc(), 1) << k;
            EXPECT_TRUE(m->isBuffer65536InUse()) << k;
            EXPECT_EQ(m->isBuffer163948InUse(), !threw) << k;
            for (void* p : got)
                m->deallocate(p);
            got.clear();
        });
    EXPECT_EQ(points, 3);
    m->deallocate(buffer);
    m->deallocate(chunk);
    EXPECT_EQ(m->getPool(1)->getNalloc(), 0);
    EXPECT_FALSE(m->isBuffer163948InUse());
}
