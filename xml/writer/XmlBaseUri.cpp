// SPDX-License-Identifier: Apache-2.0
// XmlBaseUri.cpp - RFC 3986 resolution, and its relative form that keeps
// the ".." segments a relative base cannot absorb.
#include "XmlBaseUri.h"

#include <algorithm>
#include <vector>

namespace xmlbase {

namespace {

// remove_dot_segments (RFC 3986, 5.2.4) as canonical XML 1.1 modifies it:
// "//" is first taken as "/"; in an absolute path a ".." at the root is
// dropped, as the RFC drops it, and in a relative one it is kept, since
// what it climbs out of is not known.
std::u16string removeDots(std::u16string_view path) {
    const bool absolute = !path.empty() && path[0] == u'/';
    if (absolute)
        path.remove_prefix(1);
    std::vector<std::u16string_view> out;
    bool directory = false; // the last segment was . or ..: the result names a directory
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find(u'/', start);
        if (end == std::u16string_view::npos)
            end = path.size();
        const std::u16string_view segment = path.substr(start, end - start);
        const bool last = end == path.size();
        directory = false;
        if (segment.empty() && !last) {
            directory = false; // "//" is one "/"
        } else if (segment == u".") {
            directory = last;
        } else if (segment == u"..") {
            if (!out.empty() && out.back() != u"..")
                out.pop_back();
            else if (!absolute)
                out.push_back(segment);
            directory = last;
        } else {
            out.push_back(segment);
        }
        start = end + 1;
    }
    std::u16string result = absolute ? u"/" : u"";
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (i > 0)
            result += u'/';
        result.append(out[i]);
    }
    if (directory && !out.empty())
        result += u'/';
    return result;
}

// Where the path of `uri` starts: after the scheme and the authority.
std::size_t pathStart(std::u16string_view uri) {
    std::size_t at = hasScheme(uri) ? uri.find(u':') + 1 : 0;
    if (uri.substr(at, 2) == u"//") {
        const std::size_t slash = uri.find(u'/', at + 2);
        at = slash == std::u16string_view::npos ? uri.size() : slash;
    }
    return at;
}

} // namespace

bool hasScheme(std::u16string_view uri) {
    auto alpha = [](char16_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (uri.empty() || !alpha(uri[0]))
        return false;
    for (std::size_t i = 1; i < uri.size(); ++i) {
        const char16_t c = uri[i];
        if (c == ':')
            return true;
        if (!alpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.')
            return false;
    }
    return false;
}

std::u16string join(std::u16string_view base, std::u16string_view reference) {
    if (hasScheme(reference))
        return std::u16string(reference);
    if (reference.substr(0, 2) == u"//") {
        // A network-path reference keeps only the base's scheme.
        const std::size_t scheme = hasScheme(base) ? base.find(u':') + 1 : 0;
        return std::u16string(base.substr(0, scheme)).append(reference);
    }
    if (reference.empty())
        return std::u16string(base); // the base itself, as the attribute gave it
    // The base's fragment does not carry over, nor its query where the
    // reference has a path or a query of its own.
    base = base.substr(0, std::min(base.size(), base.find(u'#')));
    if (reference[0] == u'#')
        return std::u16string(base).append(reference);
    base = base.substr(0, std::min(base.size(), base.find(u'?')));
    if (reference[0] == u'?')
        return std::u16string(base).append(reference);
    const std::size_t split = pathStart(base);
    const bool authority = base.substr(hasScheme(base) ? base.find(u':') + 1 : 0, 2) == u"//";
    std::u16string result(base.substr(0, split));
    std::u16string_view basePath = base.substr(split);
    // Dot segments are removed from the path alone: the reference's query
    // and fragment are kept as they are.
    const std::size_t tail = std::min(reference.size(), reference.find_first_of(u"?#"));
    const std::u16string_view suffix = reference.substr(tail);
    reference = reference.substr(0, tail);
    std::u16string merged;
    if (reference[0] == u'/') { // not empty: it began with neither ? nor #
        merged = reference;
    } else {
        // A base ending in a "." or ".." segment names that directory.
        const std::size_t slash = basePath.rfind(u'/');
        const std::u16string_view last = slash == std::u16string_view::npos ? basePath : basePath.substr(slash + 1);
        if (last == u"." || last == u"..")
            merged.append(basePath).append(u"/");
        else if (slash != std::u16string_view::npos)
            merged.append(basePath.substr(0, slash + 1));
        else if (authority && basePath.empty())
            merged = u"/"; // an authority with an empty path: the path is "/"
        merged.append(reference);
    }
    result += removeDots(merged);
    result.append(suffix);
    return result;
}

} // namespace xmlbase
