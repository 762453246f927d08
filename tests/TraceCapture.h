// SPDX-License-Identifier: Apache-2.0
// TraceCapture.h - a sink that records trace records for tests.
#ifndef ZAQ_TESTS_TRACE_CAPTURE_H
#define ZAQ_TESTS_TRACE_CAPTURE_H

#include "OrvLog.h"

#include <mutex>
#include <string>
#include <vector>

/// Installs itself as the trace sink and sets the filter for its lifetime;
/// restores both afterwards. Records are kept as "kind function inserts...",
/// with " ..." at the end of a truncated one.
class TraceCapture : public OrvLogSink {
public:
    explicit TraceCapture(int filter) : iPreviousFilter(OrvLog::filter()) {
        iPreviousSink = OrvLog::setSink(this);
        OrvLog::iEffectiveLogFilter = filter;
    }
    ~TraceCapture() override {
        OrvLog::iEffectiveLogFilter = iPreviousFilter;
        OrvLog::setSink(iPreviousSink);
    }

    void write(const OrvLogRecord& record) override {
        std::string line = OrvLogRecord::kindName(record.kind);
        line += ' ';
        line += record.function;
        for (const auto& insert : record.inserts)
            line += ' ' + insert;
        if (record.truncated)
            line += " ...";
        std::lock_guard<std::mutex> lock(iMutex);
        iLines.push_back(line);
        iSources.push_back(record.source);
    }

    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> lock(iMutex);
        return iLines;
    }
    std::vector<const OrvLogSource*> sources() const {
        std::lock_guard<std::mutex> lock(iMutex);
        return iSources;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(iMutex);
        iLines.clear();
        iSources.clear();
    }

private:
    mutable std::mutex iMutex;
    std::vector<std::string> iLines;
    std::vector<const OrvLogSource*> iSources;
    OrvLogSink* iPreviousSink;
    int iPreviousFilter;
};

#endif
