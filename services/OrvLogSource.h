// SPDX-License-Identifier: Apache-2.0
// OrvLogSource.h - log sources: the plain, the named and the owned kind.
#ifndef ZAQPREFIXMGR_ORV_LOG_SOURCE_H
#define ZAQPREFIXMGR_ORV_LOG_SOURCE_H

#include "OrvLog.h"
#include "OrvServicesExport.h"
#include "OrvWstring.h"

class OrvNamedLogSource;

/// Something that trace records can name as their source. Holds no data;
/// every answer derives from the process-wide filter unless overridden.
/// Nothing here throws except by allocating a returned string.
class ORV_SERVICES_EXPORT OrvLogSource {
public:
    /// Trace levels, lowest first; a filter at a level lets records of that level and below through.
    enum LogLevel { LOG_NONE = 0, LOG_ERROR = 1, LOG_WARNING = 2, LOG_TRACE = 3, LOG_DEBUG = 4 };

    OrvLogSource() = default;
    /// Sources hold no data: copies are trivial.
    OrvLogSource(const OrvLogSource&) = default;
    /// Sources hold no data: assignment is trivial.
    OrvLogSource& operator=(const OrvLogSource&) = default;

    /// Whether the source has a name of its own (false here).
    virtual bool isNamed() const;
    /// The kind of source, as records print it (empty here).
    virtual OrvWstring logType() const;
    /// The source's name, as records print it (empty here).
    virtual OrvWstring logName() const;
    /// The label records carry for the source (`logName` here).
    virtual OrvWstring logLabel() const;
    /// The user trace filter of this source (LOG_NONE here).
    virtual LogLevel userTraceFilter() const;
    /// The process-wide filter (OrvLog::filter) clamped to LOG_NONE..LOG_DEBUG.
    virtual LogLevel traceFilter() const;
    /// Whether `userTraceFilter` reaches LOG_TRACE.
    virtual bool isUserTraceActive() const;
    /// Whether `userTraceFilter` reaches LOG_DEBUG.
    virtual bool isUserDebugTraceActive() const;
    /// Whether the process-wide filter is above 2: entry and exit records are written.
    virtual bool isTraceActive() const;
    /// Whether the process-wide filter is above 3: debug records are written.
    virtual bool isDebugTraceActive() const;
    /// Adds the source's own inserts to a record being built (none here).
    virtual void addLogInserts(OrvLog::FastItem& item);
    virtual ~OrvLogSource();
};

/// A log source with a name of its own; owners of other sources are named.
/// Immutable after construction: any number of threads may ask it at once.
class ORV_SERVICES_EXPORT OrvNamedLogSource : public OrvLogSource {
public:
    /// A source called `name`, of kind `type`; both are copied.
    explicit OrvNamedLogSource(const OrvWstring& name, const OrvWstring& type = OrvWstring());

    /// Always true.
    bool isNamed() const override;
    /// The type given to the constructor.
    OrvWstring logType() const override;
    /// The name given to the constructor.
    OrvWstring logName() const override;
    /// The name given to the constructor.
    OrvWstring logLabel() const override;

private:
    OrvWstring iName;
    OrvWstring iType;
};

/// A log source that answers for itself through its owner, a named source.
/// The owner is not owned and may be null; it must outlive this source (or
/// be replaced first). `setOwner` is not synchronised with other calls.
class ORV_SERVICES_EXPORT OrvOwnedLogSource : public OrvLogSource {
public:
    /// A source named through `owner`, which may be null (records then name no source).
    explicit OrvOwnedLogSource(const OrvNamedLogSource* owner) noexcept : iOwner(owner) {}
    /// The copy has the same owner.
    OrvOwnedLogSource(const OrvOwnedLogSource&) = default;
    /// Takes the other's owner.
    OrvOwnedLogSource& operator=(const OrvOwnedLogSource&) = default;

    /// The owner's type; empty without an owner.
    OrvWstring logType() const override;
    /// The owner's name; empty without an owner.
    OrvWstring logName() const override;
    /// The owner's label; empty without an owner.
    OrvWstring logLabel() const override;
    ~OrvOwnedLogSource() override;
    /// Replaces the owner (null allowed); returns this source.
    virtual OrvOwnedLogSource& setOwner(const OrvNamedLogSource* owner);
    /// The owner, or null.
    virtual const OrvNamedLogSource* owner() const;

private:
    const OrvNamedLogSource* iOwner;
};

#endif
