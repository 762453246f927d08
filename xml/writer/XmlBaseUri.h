// SPDX-License-Identifier: Apache-2.0
// XmlBaseUri.h - URI references as canonical XML 1.1 joins xml:base values.
#ifndef ZAQPREFIXMGR_XML_BASE_URI_H
#define ZAQPREFIXMGR_XML_BASE_URI_H

#include <string>
#include <string_view>

namespace xmlbase {

/// Whether a URI reference starts with a scheme: ALPHA *( ALPHA / DIGIT /
/// "+" / "-" / "." ) ":".
bool hasScheme(std::u16string_view uri);

/// `reference` resolved against `base` (RFC 3986, section 5.2). Against an
/// absolute base this is the RFC's resolution. Against a relative one, as
/// canonical XML 1.1 joins the xml:base values of the ancestors a subtree
/// leaves out, the result stays relative to the unknown base: a ".." that
/// climbs above what the base names is kept (`foo/bar` then `..` then
/// `..` then `x` is `../x`), and a base whose last segment is "." or ".."
/// names a directory. An empty result stands for the base itself, and an
/// empty reference gives the base as it is.
std::u16string join(std::u16string_view base, std::u16string_view reference);

} // namespace xmlbase

#endif
