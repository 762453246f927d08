// SPDX-License-Identifier: Apache-2.0
// OrvLogSource.cpp - default answers of log sources.
#include "OrvLogSource.h"

bool OrvLogSource::isNamed() const { return false; }
OrvWstring OrvLogSource::logType() const { return OrvWstring(); }
OrvWstring OrvLogSource::logName() const { return OrvWstring(); }
OrvWstring OrvLogSource::logLabel() const { return logName(); }

OrvLogSource::LogLevel OrvLogSource::userTraceFilter() const { return LOG_NONE; }

OrvLogSource::LogLevel OrvLogSource::traceFilter() const {
    const OrvLog::LogFilter filter = OrvLog::filter();
    if (filter <= LOG_NONE)
        return LOG_NONE;
    return filter >= LOG_DEBUG ? LOG_DEBUG : static_cast<LogLevel>(filter);
}

bool OrvLogSource::isUserTraceActive() const { return userTraceFilter() >= LOG_TRACE; }
bool OrvLogSource::isUserDebugTraceActive() const { return userTraceFilter() >= LOG_DEBUG; }
bool OrvLogSource::isTraceActive() const { return OrvLog::filter() > 2; }
bool OrvLogSource::isDebugTraceActive() const { return OrvLog::filter() > 3; }
void OrvLogSource::addLogInserts(OrvLog::FastItem&) {}
OrvLogSource::~OrvLogSource() = default;

OrvNamedLogSource::OrvNamedLogSource(const OrvWstring& name, const OrvWstring& type) : iName(name), iType(type) {}

bool OrvNamedLogSource::isNamed() const { return true; }
OrvWstring OrvNamedLogSource::logType() const { return iType; }
OrvWstring OrvNamedLogSource::logName() const { return iName; }
OrvWstring OrvNamedLogSource::logLabel() const { return iName; }

OrvWstring OrvOwnedLogSource::logType() const { return iOwner ? iOwner->logType() : OrvWstring(); }
OrvWstring OrvOwnedLogSource::logName() const { return iOwner ? iOwner->logName() : OrvWstring(); }
OrvWstring OrvOwnedLogSource::logLabel() const { return iOwner ? iOwner->logLabel() : OrvWstring(); }
OrvOwnedLogSource::~OrvOwnedLogSource() = default;

OrvOwnedLogSource& OrvOwnedLogSource::setOwner(const OrvNamedLogSource* owner) {
    iOwner = owner;
    return *this;
}

const OrvNamedLogSource* OrvOwnedLogSource::owner() const { return iOwner; }
