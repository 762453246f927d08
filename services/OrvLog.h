// SPDX-License-Identifier: Apache-2.0
// OrvLog.h - the process-wide trace log: filter, records, items and sinks.
#ifndef ZAQPREFIXMGR_ORV_LOG_H
#define ZAQPREFIXMGR_ORV_LOG_H

#include "OrvServicesExport.h"
#include "OrvWstring.h"

#include <atomic>
#include <string>
#include <vector>

class OrvLogSource;

/// One trace record as a sink receives it. Integer inserts arrive as their
/// decimal text.
struct ORV_SERVICES_EXPORT OrvLogRecord {
    enum class Kind { DebugEntry, DebugExit, Entry, Exit, Trace };

    Kind kind;
    const char* function;       ///< the operation's "Class::method" name
    const OrvLogSource* source; ///< the log source, for debug records; null otherwise
    std::vector<std::string> inserts;
    /// True when memory ran out while the inserts were taken: `inserts` holds
    /// those made before, the rest are lost.
    bool truncated;

    static const char* kindName(Kind kind) noexcept;
};

/// Where records go. A sink may be called from several threads at once.
class ORV_SERVICES_EXPORT OrvLogSink {
public:
    virtual ~OrvLogSink();
    virtual void write(const OrvLogRecord& record) = 0;
};

/// The trace service. Records are written only when the caller has found the
/// process-wide filter high enough; the filter is read without a lock.
///
/// Writing a record never throws, so tracing is safe in destructors and can
/// never turn a working operation into a failing one: a trace or entry item
/// that cannot get memory for an insert keeps the inserts it has and is
/// written marked truncated, and a record that the sink cannot take (out of
/// memory) is dropped.
class ORV_SERVICES_EXPORT OrvLog {
public:
    using LogFilter = int;

    /// Process-wide trace filter, compared as a signed integer. Atomic so
    /// that a thread changing it races with no reader; reads are relaxed.
    static std::atomic<LogFilter> iEffectiveLogFilter;
    /// Process-wide default log source named in fatal exceptions.
    static OrvWstring iDefaultLogSource;

    static LogFilter filter() noexcept { return iEffectiveLogFilter.load(std::memory_order_relaxed); }

    /// Installs `sink` and returns the previous one; null restores the
    /// default sink, which writes one line per record to stderr. The caller
    /// keeps the sink alive while it is installed.
    static OrvLogSink* setSink(OrvLogSink* sink) noexcept;

    static void writeDebugEntry(const OrvLogSource* source, const char* function) noexcept;
    static void writeDebugExit(const OrvLogSource* source, const char* function) noexcept;
    static void writeExit(const char* function) noexcept;

    /// A record assembled from inserts. Inserting may throw std::bad_alloc;
    /// the trace items below take their inserts without throwing.
    class ORV_SERVICES_EXPORT Item {
    public:
        explicit Item(const char* function);
        Item(const Item&) = default;
        Item& operator=(const Item&) = default;
        virtual ~Item();

        Item& operator<<(const char* text);
        Item& operator<<(const std::string& text);
        Item& operator<<(const OrvWstring& text);
        Item& operator<<(int value);
        Item& operator<<(long long value);

        const char* function() const noexcept { return iFunction; }
        const std::vector<std::string>& inserts() const noexcept { return iInserts; }

    protected:
        const char* iFunction;
        std::vector<std::string> iInserts;
    };

    /// A trace record, written when the item is destroyed. An insert that
    /// cannot get memory truncates the record there: it and every later
    /// insert are left out.
    class ORV_SERVICES_EXPORT TraceItem : public Item {
    public:
        explicit TraceItem(const char* function) : Item(function) {}
        TraceItem(const TraceItem&) = delete;
        TraceItem& operator=(const TraceItem&) = delete;
        ~TraceItem() override;

        TraceItem& operator<<(const char* text) noexcept;
        TraceItem& operator<<(const std::string& text) noexcept;
        TraceItem& operator<<(const OrvWstring& text) noexcept;
        TraceItem& operator<<(int value) noexcept;
        TraceItem& operator<<(long long value) noexcept;

        bool truncated() const noexcept { return iTruncated; }

    private:
        bool iTruncated = false;
    };

    /// A record that takes integer inserts and a null terminator. An insert
    /// that cannot get memory truncates the record there, as for TraceItem.
    class ORV_SERVICES_EXPORT FastItem {
    public:
        /// Only a null pointer of this type is ever passed: it ends the inserts.
        struct MagicInsert;

        explicit FastItem(const char* function) : iFunction(function) {}
        FastItem(const FastItem&) = delete;
        FastItem& operator=(const FastItem&) = delete;
        virtual ~FastItem();

        FastItem& operator<<(const int& value) noexcept;
        FastItem& operator<<(const MagicInsert* end) noexcept;

        const std::vector<std::string>& inserts() const noexcept { return iInserts; }
        bool complete() const noexcept { return iComplete; }
        bool truncated() const noexcept { return iTruncated; }

    protected:
        const char* iFunction;
        std::vector<std::string> iInserts;
        bool iComplete = false;
        bool iTruncated = false;
    };

    /// An entry record, written when the item is destroyed.
    class ORV_SERVICES_EXPORT FastEntryItem : public FastItem {
    public:
        FastEntryItem(const char* function, bool entry) : FastItem(function), iEntry(entry) {}
        ~FastEntryItem() override;

    private:
        bool iEntry;
    };

    /// Hands a record to the installed sink; a record that the sink cannot
    /// take (it throws, out of memory) is dropped.
    static void write(OrvLogRecord& record) noexcept;
};

#endif
