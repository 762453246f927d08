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
        line += '\n';
        std::fputs(line.c_str(), stderr);
    }
};

StderrSink gStderrSink;
std::atomic<OrvLogSink*> gSink{&gStderrSink};

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
    OrvLogRecord record{OrvLogRecord::Kind::DebugEntry, function, source, {}};
    write(record);
}

void OrvLog::writeDebugExit(const OrvLogSource* source, const char* function) noexcept {
    OrvLogRecord record{OrvLogRecord::Kind::DebugExit, function, source, {}};
    write(record);
}

void OrvLog::writeExit(const char* function) noexcept {
    OrvLogRecord record{OrvLogRecord::Kind::Exit, function, nullptr, {}};
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

OrvLog::TraceItem::~TraceItem() {
    OrvLogRecord record{OrvLogRecord::Kind::Trace, iFunction, nullptr, std::move(iInserts)};
    write(record);
}

OrvLog::FastItem::~FastItem() = default;

OrvLog::FastItem& OrvLog::FastItem::operator<<(const int& value) {
    iInserts.push_back(std::to_string(value));
    return *this;
}

OrvLog::FastItem& OrvLog::FastItem::operator<<(const MagicInsert*) {
    iComplete = true;
    return *this;
}

OrvLog::FastEntryItem::~FastEntryItem() {
    OrvLogRecord record{iEntry ? OrvLogRecord::Kind::Entry : OrvLogRecord::Kind::Trace, iFunction, nullptr,
                        std::move(iInserts)};
    write(record);
}
