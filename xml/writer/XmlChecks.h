// SPDX-License-Identifier: Apache-2.0
// XmlChecks.h - what the writer checks before it writes: names, characters,
// and the text forms a parser would not read back.
#ifndef ZAQPREFIXMGR_XML_CHECKS_H
#define ZAQPREFIXMGR_XML_CHECKS_H

#include <cstddef>
#include <string>
#include <string_view>

namespace xmlchecks {

constexpr std::size_t NONE = std::u16string_view::npos;

/// Whether `name` is a name without a colon: by XML 1.1, whose rules the
/// fifth edition of XML 1.0 took, in either version.
bool isNCName(std::u16string_view name, bool xml11);

/// Where the first character is that the document cannot hold: not a
/// character of the XML version, or an unpaired surrogate. In XML 1.1 the
/// restricted characters (C0 and C1 controls) count as such unless
/// `referencesAllowed` (text and attribute values, where the output writes
/// them as character references). NONE when every character is allowed.
std::size_t firstForbidden(std::u16string_view text, bool xml11, bool referencesAllowed);

/// The Namespaces Recommendation's rules for the two reserved prefixes, for
/// a declaration binding `prefix` (empty: the default namespace) to `uri`:
/// which one it breaks, if any. Every writer and the tool ask here.
enum class Reserved {
    None,          ///< the declaration may be made
    XmlnsPrefix,   ///< the prefix xmlns is never declared
    XmlPairing,    ///< the prefix xml and its namespace belong to each other only
    XmlnsNamespace ///< the xmlns namespace is never declared
};
Reserved reservedRule(std::u16string_view prefix, std::u16string_view uri);

/// Whether the text is white space only (space, tab, CR, LF).
bool isWhiteSpace(std::u16string_view text);

/// Strict UTF-8 to UTF-16: false (leaving `out` with part of the text) on a
/// malformed, overlong or surrogate sequence.
bool utf8ToUtf16(std::string_view in, std::u16string& out);

/// The text as UTF-8 for a message: at most `most` characters, with
/// anything but printable ASCII as \uXXXX.
std::string quoted(std::u16string_view text, std::size_t most = 64);

} // namespace xmlchecks

#endif
