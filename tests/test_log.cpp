// SPDX-License-Identifier: Apache-2.0
// test_log.cpp - trace records, log sources and the fatal exception.
#include "OrvFatalException.h"
#include "OrvLog.h"
#include "OrvLogSource.h"
#include "TraceCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Lines = std::vector<std::string>;

// Each kind of record reaches the installed sink with its inserts in order.
TEST(OrvLog, RecordsReachTheSinkInOrder) {
    TraceCapture capture(4);
    OrvNamedLogSource owner(OrvWstring(u"owner"));
    OrvLog::writeDebugEntry(&owner, "A::f");
    {
        OrvLog::FastEntryItem item("A::g", true);
        item << 1024 << 64 << static_cast<const OrvLog::FastItem::MagicInsert*>(nullptr);
        EXPECT_TRUE(item.complete());
    }
    {
        OrvLog::TraceItem item("A::h");
        item << "Throwing exception" << OrvWstring(u"w\u00e9") << 7;
    }
    OrvLog::writeExit("A::g");
    OrvLog::writeDebugExit(&owner, "A::f");
    EXPECT_EQ(capture.lines(), (Lines{"debug entry A::f", "entry A::g 1024 64",
                                      "trace A::h Throwing exception w\xC3\xA9 7", "exit A::g", "debug exit A::f"}));
    EXPECT_EQ(capture.sources().front(), &owner);
}

// A sink that throws loses its record but never the caller's operation.
TEST(OrvLog, FailingSinkDropsTheRecord) {
    struct Throwing : OrvLogSink {
        void write(const OrvLogRecord&) override { throw std::bad_alloc(); }
    } sink;
    OrvLogSink* previous = OrvLog::setSink(&sink);
    EXPECT_NO_THROW(OrvLog::writeExit("A::f"));
    EXPECT_NO_THROW({ OrvLog::TraceItem item("A::f"); });
    OrvLog::setSink(previous);
}

// The fatal exception throws an independent copy that says what failed.
TEST(OrvFatalException, ThrowsCopyWithMessageAndInserts) {
    try {
        OrvFatalException e("src/pool.cpp", 42, "Pool::Pool", OrvLog::iDefaultLogSource, static_cast<int>(0xC0000840u));
        e << "Memory pool chunk sizes too small"
          << "Memory pool chunk sizes too small" << 3;
        e.throwThis();
    } catch (const OrvFatalException& caught) {
        EXPECT_EQ(static_cast<unsigned>(caught.messageId()), 0xC0000840u);
        EXPECT_EQ(caught.messageNumber(), "ZAQ2112");
        EXPECT_EQ(caught.line(), 42);
        EXPECT_STREQ(caught.function(), "Pool::Pool");
        ASSERT_EQ(caught.inserts().size(), 3u);
        EXPECT_EQ(caught.inserts()[2], "3");
        EXPECT_STREQ(caught.what(), "ZAQ2112: Memory pool chunk sizes too small [3] (pool.cpp:42, Pool::Pool)");
        const std::exception& base = caught;
        EXPECT_NE(std::string(base.what()).find("ZAQ2112"), std::string::npos);
        return;
    }
    FAIL() << "throwThis returned";
}

// Owned sources answer through their owner; the owner can change.
TEST(OrvLogSource, OwnedSourceAnswersThroughOwner) {
    OrvNamedLogSource first(OrvWstring(u"serialiser"), OrvWstring(u"xml"));
    OrvNamedLogSource second(OrvWstring(u"other"));
    OrvOwnedLogSource owned(&first);
    EXPECT_TRUE(first.isNamed());
    EXPECT_FALSE(owned.isNamed());
    EXPECT_EQ(owned.logName().toUtf8(), "serialiser");
    EXPECT_EQ(owned.logType().toUtf8(), "xml");
    EXPECT_EQ(owned.owner(), &first);
    EXPECT_EQ(&owned.setOwner(&second), &owned);
    EXPECT_EQ(owned.logName().toUtf8(), "other");
    OrvOwnedLogSource copy(owned);
    EXPECT_EQ(copy.owner(), &second);
    OrvOwnedLogSource orphan(nullptr);
    EXPECT_TRUE(orphan.logName().isEmpty());
    {
        TraceCapture capture(3);
        EXPECT_TRUE(owned.isTraceActive());
        EXPECT_FALSE(owned.isDebugTraceActive());
        EXPECT_EQ(owned.traceFilter(), OrvLogSource::LOG_TRACE);
    }
}
