// SPDX-License-Identifier: Apache-2.0
// XmlString.h - a string argument of the writers, UTF-8 or UTF-16.
#ifndef ZAQPREFIXMGR_XML_STRING_H
#define ZAQPREFIXMGR_XML_STRING_H

#include <cstddef>
#include <string>
#include <string_view>

namespace zaq {

/// A view of a string argument, in UTF-8 (`char`) or UTF-16 (`char16_t`), so
/// that one call takes either and the two mix freely:
/// `w.attribute(zaq::XML_NAMESPACE, u"lang", "en")`. It converts implicitly
/// from string literals, pointers to zero-terminated strings (a null pointer
/// is the empty string), `std::string`, `std::u16string` and their views.
/// Like any view it refers to the caller's characters, which must stay
/// valid for the call; the writers copy what they keep.
class XmlString {
public:
    /// The empty string.
    constexpr XmlString() noexcept : iData(u""), iSize(UTF16) {}
    /// UTF-8 text, zero-terminated.
    constexpr XmlString(const char* text) noexcept
        : iData(text ? text : ""), iSize(text ? std::char_traits<char>::length(text) : 0) {}
    /// UTF-8 text.
    constexpr XmlString(std::string_view text) noexcept : iData(text.data()), iSize(text.size()) {}
    /// UTF-8 text.
    XmlString(const std::string& text) noexcept : iData(text.data()), iSize(text.size()) {}
#if defined(__cpp_char8_t)
    /// UTF-8 text, zero-terminated (C++20's `u8"..."`).
    XmlString(const char8_t* text) noexcept : XmlString(reinterpret_cast<const char*>(text)) {}
    /// UTF-8 text (C++20).
    XmlString(std::u8string_view text) noexcept : iData(text.data()), iSize(text.size()) {}
#endif
    /// UTF-16 text, zero-terminated.
    constexpr XmlString(const char16_t* text) noexcept
        : iData(text ? text : u""), iSize((text ? std::char_traits<char16_t>::length(text) : 0) | UTF16) {}
    /// UTF-16 text.
    constexpr XmlString(std::u16string_view text) noexcept : iData(text.data()), iSize(text.size() | UTF16) {}
    /// UTF-16 text.
    XmlString(const std::u16string& text) noexcept : iData(text.data()), iSize(text.size() | UTF16) {}

    /// Whether the text is UTF-16 (else UTF-8).
    constexpr bool isUtf16() const noexcept { return (iSize & UTF16) != 0; }
    /// The length in code units (bytes for UTF-8).
    constexpr std::size_t size() const noexcept { return iSize & ~(UTF16 | MARK); }
    /// Whether the text is empty.
    constexpr bool empty() const noexcept { return size() == 0; }
    /// The UTF-16 text; only when `isUtf16()`.
    constexpr std::u16string_view utf16() const noexcept {
        return std::u16string_view(static_cast<const char16_t*>(iData), size());
    }
    /// The UTF-8 text; only when not `isUtf16()`.
    constexpr std::string_view utf8() const noexcept {
        return std::string_view(static_cast<const char*>(iData), size());
    }
    /// Whether this is `zaq::UNPREFIXED`.
    constexpr bool isUnprefixed() const noexcept { return (iSize & MARK) != 0; }

    /// `zaq::UNPREFIXED`: an empty string that asks for the default namespace.
    static constexpr XmlString unprefixed() noexcept { return XmlString(u"", MARK | UTF16); }

private:
    static constexpr std::size_t UTF16 = ~(~std::size_t(0) >> 1);
    static constexpr std::size_t MARK = UTF16 >> 1;
    constexpr XmlString(const char16_t* text, std::size_t size) noexcept : iData(text), iSize(size) {}

    const void* iData;
    std::size_t iSize; // the length, with UTF16 and MARK in its two top bits
};

/// As `XmlWriter::startElement`'s prefix hint: the element is to be written
/// unprefixed, in the default namespace.
inline constexpr XmlString UNPREFIXED = XmlString::unprefixed();

/// The namespace name of the `xml` prefix (`xml:lang`, `xml:space`, ...).
inline constexpr std::string_view XML_NAMESPACE = "http://www.w3.org/XML/1998/namespace";
/// The same in UTF-16.
inline constexpr std::u16string_view XML_NAMESPACE_U16 = u"http://www.w3.org/XML/1998/namespace";
/// The namespace name of the `xmlns` prefix, which no name of a document is in.
inline constexpr std::string_view XMLNS_NAMESPACE = "http://www.w3.org/2000/xmlns/";
/// The same in UTF-16.
inline constexpr std::u16string_view XMLNS_NAMESPACE_U16 = u"http://www.w3.org/2000/xmlns/";

} // namespace zaq

#endif
