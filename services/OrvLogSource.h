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
class ORV_SERVICES_EXPORT OrvLogSource {
public:
    enum LogLevel { LOG_NONE = 0, LOG_ERROR = 1, LOG_WARNING = 2, LOG_TRACE = 3, LOG_DEBUG = 4 };

    OrvLogSource() = default;
    OrvLogSource(const OrvLogSource&) = default;
    OrvLogSource& operator=(const OrvLogSource&) = default;

    virtual bool isNamed() const;
    virtual OrvWstring logType() const;
    virtual OrvWstring logName() const;
    virtual OrvWstring logLabel() const;
    virtual LogLevel userTraceFilter() const;
    virtual LogLevel traceFilter() const;
    virtual bool isUserTraceActive() const;
    virtual bool isUserDebugTraceActive() const;
    virtual bool isTraceActive() const;
    virtual bool isDebugTraceActive() const;
    virtual void addLogInserts(OrvLog::FastItem& item);
    virtual ~OrvLogSource();
};

/// A log source with a name of its own; owners of other sources are named.
class ORV_SERVICES_EXPORT OrvNamedLogSource : public OrvLogSource {
public:
    explicit OrvNamedLogSource(const OrvWstring& name, const OrvWstring& type = OrvWstring());

    bool isNamed() const override;
    OrvWstring logType() const override;
    OrvWstring logName() const override;
    OrvWstring logLabel() const override;

private:
    OrvWstring iName;
    OrvWstring iType;
};

/// A log source that answers for itself through its owner, a named source.
/// The owner is not owned; it must outlive the records that name it.
class ORV_SERVICES_EXPORT OrvOwnedLogSource : public OrvLogSource {
public:
    explicit OrvOwnedLogSource(const OrvNamedLogSource* owner) noexcept : iOwner(owner) {}
    OrvOwnedLogSource(const OrvOwnedLogSource&) = default;
    OrvOwnedLogSource& operator=(const OrvOwnedLogSource&) = default;

    OrvWstring logType() const override;
    OrvWstring logName() const override;
    OrvWstring logLabel() const override;
    ~OrvOwnedLogSource() override;
    virtual OrvOwnedLogSource& setOwner(const OrvNamedLogSource* owner);
    virtual const OrvNamedLogSource* owner() const;

private:
    const OrvNamedLogSource* iOwner;
};

#endif
