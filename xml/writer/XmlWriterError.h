// SPDX-License-Identifier: Apache-2.0
// XmlWriterError.h - what the writers refuse, and their failures.
#ifndef ZAQPREFIXMGR_XML_WRITER_ERROR_H
#define ZAQPREFIXMGR_XML_WRITER_ERROR_H

#include "ZaqPrefixMgrExport.h"

#include <stdexcept>
#include <string>

namespace zaq {

/// What `XmlWriter` or `XmlCanonicalWriter` refused, and why (`what()` says
/// it in words).
class ZAQ_PREFIXMGR_EXPORT XmlWriterError : public std::runtime_error {
public:
    /// The kinds of refusal.
    enum class Kind {
        Name,               ///< not a name without a colon
        Character,          ///< a character the place cannot hold, or malformed UTF-8
        Comment,            ///< a comment containing "--" or ending with "-"
        Instruction,        ///< a PI target "xml" (any case) or data containing "?>"
        Namespace,          ///< a declaration the Namespaces Recommendation forbids, or a namespace name no IRI can be
        Order,              ///< a call out of place: second root, attribute after content, end without start, ...
        DuplicateAttribute, ///< an attribute or declaration already on the start tag
        Output              ///< the writer has failed (the sink, or an earlier exception); nothing more is written
    };
    /// An error of `kind`, described by `message`.
    XmlWriterError(Kind kind, const std::string& message) : std::runtime_error(message), iKind(kind) {}
    ~XmlWriterError() override;
    /// What was refused.
    Kind kind() const noexcept { return iKind; }

private:
    Kind iKind;
};

} // namespace zaq

#endif
