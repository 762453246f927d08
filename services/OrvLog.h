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
    /// What a record reports.
    enum class Kind {
        DebugEntry, ///< an operation began (debug tracing, with its log source)
        DebugExit,  ///< an operation is about to return (debug tracing)
        Entry,      ///< an operation began, with its settings as inserts
        Exit,       ///< an operation that wrote an Entry record ends
        Trace       ///< a trace record: inserts only
    };

    Kind kind;                        ///< what the record reports
    const char* function;             ///< the operation's "Class::method" name
    const OrvLogSource* source;       ///< the log source, for debug records; null otherwise
    std::vector<std::string> inserts; ///< the inserts, in the order they were made
    /// True when memory ran out while the inserts were taken: `inserts` holds
    /// those made before, the rest are lost.
    bool truncated;

    /// The kind's name as the default sink prints it.
    static const char* kindName(Kind kind) noexcept;
};

/// Where records go. A sink may be called from several threads at once.
class ORV_SERVICES_EXPORT OrvLogSink {
public:
    virtual ~OrvLogSink();
    /// Takes one record. It may throw: the record is then dropped, and the
    /// operation that wrote it goes on.
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
    /// A trace filter: records of a level are written when the filter is
    /// above it (debug records of the prefix manager above 3, entry and exit
    /// records of the memory manager above 2).
    using LogFilter = int;

    /// Process-wide trace filter, compared as a signed integer. Atomic so
    /// that a thread changing it races with no reader; reads are relaxed.
    static std::atomic<LogFilter> iEffectiveLogFilter;
    /// Process-wide default log source named in fatal exceptions.
    static OrvWstring iDefaultLogSource;

    /// The process-wide filter now.
    static LogFilter filter() noexcept { return iEffectiveLogFilter.load(std::memory_order_relaxed); }

    /// Installs `sink` and returns the previous one; null restores the
    /// default sink, which writes one line per record to stderr. The caller
    /// keeps the sink alive while it is installed.
    static OrvLogSink* setSink(OrvLogSink* sink) noexcept;

    /// Writes a DebugEntry record of `function` ("Class::method") with its
    /// log source. The caller has checked the filter.
    static void writeDebugEntry(const OrvLogSource* source, const char* function) noexcept;
    /// Writes the DebugExit record that matches writeDebugEntry.
    static void writeDebugExit(const OrvLogSource* source, const char* function) noexcept;
    /// Writes the Exit record of an operation that wrote an Entry record.
    static void writeExit(const char* function) noexcept;

    /// A record assembled from inserts. Inserting may throw std::bad_alloc;
    /// the trace items below take their inserts without throwing.
    class ORV_SERVICES_EXPORT Item {
    public:
        /// A record of `function`, a string that outlives the item.
        explicit Item(const char* function);
        Item(const Item&) = default;            ///< copies the inserts
        Item& operator=(const Item&) = default; ///< copies the inserts
        virtual ~Item();

        Item& operator<<(const char* text);        ///< a text insert (null: an empty one)
        Item& operator<<(const std::string& text); ///< a text insert
        Item& operator<<(const OrvWstring& text);  ///< a text insert, as UTF-8
        Item& operator<<(int value);               ///< a decimal insert
        Item& operator<<(long long value);         ///< a decimal insert

        /// The operation's "Class::method" name.
        const char* function() const noexcept { return iFunction; }
        /// The inserts so far.
        const std::vector<std::string>& inserts() const noexcept { return iInserts; }

    protected:
        const char* iFunction;             ///< the operation's name
        std::vector<std::string> iInserts; ///< the inserts so far
    };

    /// A trace record, written when the item is destroyed. An insert that
    /// cannot get memory truncates the record there: it and every later
    /// insert are left out.
    class ORV_SERVICES_EXPORT TraceItem : public Item {
    public:
        /// A trace record of `function`.
        explicit TraceItem(const char* function) : Item(function) {}
        TraceItem(const TraceItem&) = delete;
        TraceItem& operator=(const TraceItem&) = delete;
        ~TraceItem() override;

        TraceItem& operator<<(const char* text) noexcept;        ///< a text insert, or the truncation
        TraceItem& operator<<(const std::string& text) noexcept; ///< a text insert, or the truncation
        TraceItem& operator<<(const OrvWstring& text) noexcept;  ///< a text insert, or the truncation
        TraceItem& operator<<(int value) noexcept;               ///< a decimal insert, or the truncation
        TraceItem& operator<<(long long value) noexcept;         ///< a decimal insert, or the truncation

        /// Whether an insert could not get memory: the record ends before it.
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

        /// A record of `function`.
        explicit FastItem(const char* function) : iFunction(function) {}
        FastItem(const FastItem&) = delete;
        FastItem& operator=(const FastItem&) = delete;
        virtual ~FastItem();

        FastItem& operator<<(const int& value) noexcept;       ///< a decimal insert, or the truncation
        FastItem& operator<<(const MagicInsert* end) noexcept; ///< ends the inserts

        /// The inserts so far.
        const std::vector<std::string>& inserts() const noexcept { return iInserts; }
        /// Whether the null terminator has been inserted.
        bool complete() const noexcept { return iComplete; }
        /// Whether an insert could not get memory: the record ends before it.
        bool truncated() const noexcept { return iTruncated; }

    protected:
        const char* iFunction;             ///< the operation's name
        std::vector<std::string> iInserts; ///< the inserts so far
        bool iComplete = false;            ///< the terminator came
        bool iTruncated = false;           ///< an insert was lost
    };

    /// An entry record, written when the item is destroyed.
    class ORV_SERVICES_EXPORT FastEntryItem : public FastItem {
    public:
        /// An Entry record of `function` when `entry`, else a Trace record.
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
