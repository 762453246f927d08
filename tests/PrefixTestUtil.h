// SPDX-License-Identifier: Apache-2.0
// PrefixTestUtil.h - small helpers for driving a prefix manager in tests.
#ifndef ZAQ_TESTS_PREFIX_TEST_UTIL_H
#define ZAQ_TESTS_PREFIX_TEST_UTIL_H

#include "PrefixManagerAccess.h"
#include "XMLPrefixManager.h"

#include <cstdlib>
#include <ostream>
#include <string>

using PM = XMLPrefixManagerTestAccess;

inline const std::string XML_NS = "http://www.w3.org/XML/1998/namespace";
inline const std::string XMLNS_NS = "http://www.w3.org/2000/xmlns/";

/// One answer of getNamespacePrefix.
struct Answer {
    std::string prefix;
    bool inForce;
    bool operator==(const Answer& other) const { return prefix == other.prefix && inForce == other.inForce; }
};

inline std::ostream& operator<<(std::ostream& os, const Answer& a) {
    return os << '{' << '"' << a.prefix << "\", " << (a.inForce ? "true" : "false") << '}';
}

inline Answer ask(XMLPrefixManager& m, const std::string& uri, bool allowDefault = true) {
    OrvWstring prefix(u"stale");
    const bool inForce = m.getNamespacePrefix(OrvWstring::fromUtf8(uri), prefix, allowDefault);
    return Answer{prefix.toUtf8(), inForce};
}

/// The same through the overload that takes a view.
inline Answer askView(XMLPrefixManager& m, const std::string& uri, bool allowDefault = true) {
    const OrvWstring text = OrvWstring::fromUtf8(uri);
    OrvWstring prefix(u"stale");
    const bool inForce = m.getNamespacePrefix(text.view(), prefix, allowDefault);
    return Answer{prefix.toUtf8(), inForce};
}

inline void bindPrefix(XMLPrefixManager& m, const std::string& uri, const std::string& prefix) {
    m.addNamespaceAndPrefix(OrvWstring::fromUtf8(uri), OrvWstring::fromUtf8(prefix));
}

inline void prefer(XMLPrefixManager& m, const std::string& uri, const std::string& prefix) {
    m.addNamespace(OrvWstring::fromUtf8(uri), OrvWstring::fromUtf8(prefix));
}

/// Sets or clears the default-namespace switch for the scope's lifetime.
class ScopedSwitch {
public:
    explicit ScopedSwitch(bool on) { setDefaultNamespaceSwitch(on); }
    ~ScopedSwitch() { setDefaultNamespaceSwitch(false); }
    ScopedSwitch(const ScopedSwitch&) = delete;
    ScopedSwitch& operator=(const ScopedSwitch&) = delete;
};

#endif
