// SPDX-License-Identifier: Apache-2.0
// OrvLog.cpp - trace filter, records, items and the default stderr sink.
#include "OrvLog.h"

#include <cstdio>
#include <string>

std::atomic<OrvLog::LogFilter> OrvLog::iEffectiveLogFilter{0};
OrvWstring OrvLog::iDefaultLogSource(u"zaqprefixmgr");

namespace {

class StderrSink final : public OrvLogSink {
public:
    void write(const OrvLogRecord& record) override {
        std::string line = "[";
        line += OrvLogRecord::kindName(record.kind);
        line += "] ";
        line += record.function ? record.function : "?";
        for (const std::string& insert : record.inserts) {
            line += ' ';
            line += insert;
        }
        if (record.truncated)
            line += " ...";
        line += '\n';
        std::fputs(line.c_str(), stderr);
    }
};

StderrSink gStderrSink;
std::atomic<OrvLogSink*> gSink{&gStderrSink};

// Trace and entry items are built in destructors and on failure paths, so
// running out of memory must not escape from them: the insert that cannot be
// made ends the record, which keeps what it has. Later inserts are left out
// too, so that each insert the sink receives stays at its own position.
template <typename Insert> void insertOrTruncate(bool& truncated, Insert insert) noexcept {
    if (truncated)
        return;
    try {
        insert();
    } catch (...) {
        truncated = true;
    }
}

} // namespace

const char* OrvLogRecord::kindName(Kind kind) noexcept {
    switch (kind) {
    case Kind::DebugEntry:
        return "debug entry";
    case Kind::DebugExit:
        return "debug exit";
    case Kind::Entry:
        return "entry";
    case Kind::Exit:
        return "exit";
    case Kind::Trace:
        return "trace";
    }
    return "?";
}

OrvLogSink::~OrvLogSink() = default;

OrvLogSink* OrvLog::setSink(OrvLogSink* sink) noexcept {
    OrvLogSink* previous = gSink.exchange(sink ? sink : &gStderrSink);
    return previous == &gStderrSink ? nullptr : previous;
}

void OrvLog::write(OrvLogRecord& record) noexcept {
    try {
        gSink.load()->write(record);
    } catch (...) {
        // Tracing must never turn a working operation into a failing one:
        // a record that cannot be written (out of memory) is dropped.
    }
}

void OrvLog::writeDebugEntry(const OrvLogSource* source, const char* function) noexcept {
    OrvLogRecord record{OrvLogRecord::Kind::DebugEntry, function, source, {}, false};
    write(record);
}

void OrvLog::writeDebugExit(const OrvLogSource* source, const char* function) noexcept {
    OrvLogRecord record{OrvLogRecord::Kind::DebugExit, function, source, {}, false};
    write(record);
}

void OrvLog::writeExit(const char* function) noexcept {
    OrvLogRecord record{OrvLogRecord::Kind::Exit, function, nullptr, {}, false};
    write(record);
}

OrvLog::Item::Item(const char* function) : iFunction(function) {}

OrvLog::Item::~Item() = default;

OrvLog::Item& OrvLog::Item::operator<<(const char* text) {
    iInserts.emplace_back(text ? text : "");
    return *this;
}

OrvLog::Item& OrvLog::Item::operator<<(const std::string& text) {
    iInserts.push_back(text);
    return *this;
}

OrvLog::Item& OrvLog::Item::operator<<(const OrvWstring& text) {
    iInserts.push_back(text.toUtf8());
    return *this;
}

OrvLog::Item& OrvLog::Item::operator<<(int value) {
    iInserts.push_back(std::to_string(value));
    return *this;
}

OrvLog::Item& OrvLog::Item::operator<<(long long value) {
    iInserts.push_back(std::to_string(value));
    return *this;
}

OrvLog::TraceItem& OrvLog::TraceItem::operator<<(const char* text) noexcept {
    insertOrTruncate(iTruncated, [&] { Item::operator<<(text); });
    return *this;
}

OrvLog::TraceItem& OrvLog::TraceItem::operator<<(const std::string& text) noexcept {
    insertOrTruncate(iTruncated, [&] { Item::operator<<(text); });
    return *this;
}

OrvLog::TraceItem& OrvLog::TraceItem::operator<<(const OrvWstring& text) noexcept {
    insertOrTruncate(iTruncated, [&] { Item::operator<<(text); });
    return *this;
}

OrvLog::TraceItem& OrvLog::TraceItem::operator<<(int value) noexcept {
    insertOrTruncate(iTruncated, [&] { Item::operator<<(value); });
    return *this;
}

OrvLog::TraceItem& OrvLog::TraceItem::operator<<(long long value) noexcept {
    insertOrTruncate(iTruncated, [&] { Item::operator<<(value); });
    return *this;
}

OrvLog::TraceItem::~TraceItem() {
    OrvLogRecord record{OrvLogRecord::Kind::Trace, iFunction, nullptr, std::move(iInserts), iTruncated};
    write(record);
}

OrvLog::FastItem::~FastItem() = default;

OrvLog::FastItem& OrvLog::FastItem::operator<<(const int& value) noexcept {
    insertOrTruncate(iTruncated, [&] { iInserts.push_back(std::to_string(value)); });
    return *this;
}

OrvLog::FastItem& OrvLog::FastItem::operator<<(const MagicInsert*) noexcept {
    iComplete = true;
    return *this;
}

OrvLog::FastEntryItem::~FastEntryItem() {
    OrvLogRecord record{iEntry ? OrvLogRecord::Kind::Entry : OrvLogRecord::Kind::Trace, iFunction, nullptr,
                        std::move(iInserts), iTruncated};
    write(record);
}
