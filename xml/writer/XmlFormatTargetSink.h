// SPDX-License-Identifier: Apache-2.0
// XmlFormatTargetSink.h - a writer's bytes into a Xerces-C format target.
#ifndef ZAQPREFIXMGR_XML_FORMAT_TARGET_SINK_H
#define ZAQPREFIXMGR_XML_FORMAT_TARGET_SINK_H

#include "XmlSink.h"
#include "ZaqPrefixMgrExport.h"

#include <xercesc/framework/XMLFormatter.hpp>

namespace zaq {

/// Writes to a Xerces-C format target (`LocalFileFormatTarget`,
/// `MemBufFormatTarget`, `StdOutFormatTarget`, ...), which is not owned. The
/// bytes are UTF-8 and handed over as they are, with no formatter. An
/// `XMLException` from the target is answered as a failed write.
class ZAQ_PREFIXMGR_EXPORT XmlFormatTargetSink : public XmlSink {
public:
    /// Writes to `target` (not owned).
    explicit XmlFormatTargetSink(xercesc::XMLFormatTarget& target) : iTarget(target) {}
    bool write(const char* data, std::size_t size) override;
    bool flush() override;

private:
    xercesc::XMLFormatTarget& iTarget;
};

} // namespace zaq

#endif
