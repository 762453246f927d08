// SPDX-License-Identifier: Apache-2.0
// test_wstring.cpp - the UTF-16 string value: construction, mutation, order.
#include "OrvWstring.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace {

std::u16string text(const OrvWstring& s) { return std::u16string(s.data(), s.length()); }

const char16_t LONG_URI[] = u"http://schemas.example.org/messaging/envelope/2026/extensions/v1";

} // namespace

// A default string is empty; text constructors copy up to the terminator.
TEST(OrvWstring, ConstructsFromTextAndIsEmptyByDefault) {
    OrvWstring empty;
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_EQ(empty.length(), 0u);

    const unsigned short raw[] = {'x', 'm', 'l', 0};
    OrvWstring fromRaw(raw);
    EXPECT_EQ(text(fromRaw), u"xml");
    EXPECT_FALSE(fromRaw.isEmpty());

    OrvWstring longText(LONG_URI);
    EXPECT_EQ(text(longText), LONG_URI);
    EXPECT_EQ(OrvWstring(static_cast<const char16_t*>(nullptr)).length(), 0u);
}

// Copies are independent values whatever the storage: mutating one never
// shows through another, also when a long text is shared.
TEST(OrvWstring, CopiesAreIndependentValues) {
    for (const char16_t* start : {u"ns", LONG_URI}) {
        OrvWstring a(start);
        OrvWstring b(a);
        OrvWstring c;
        c = a;
        b.append(OrvWstring(u"-b"));
        c.insert(0, 2, u'c');
        EXPECT_EQ(text(a), start);
        EXPECT_EQ(text(b), std::u16string(start) + u"-b");
        EXPECT_EQ(text(c), u"cc" + std::u16string(start));

        OrvWstring moved(std::move(b));
        EXPECT_EQ(text(moved), std::u16string(start) + u"-b");
        c = OrvWstring();
        EXPECT_TRUE(c.isEmpty()) << "assigning an empty string empties the target";
        const OrvWstring& alias = a;
        a = alias; // self-assignment keeps the value
        EXPECT_EQ(text(a), start);
    }
}

// assign, append and insert across the inline boundary, including self-append
// and prepending digits to an empty string.
TEST(OrvWstring, MutatesAcrossInlineBoundary) {
    OrvWstring s;
    s.assign(u"NS");
    for (int i = 0; i < 40; ++i)
        s.insert(2, 1, static_cast<unsigned short>(u'0' + i % 10));
    EXPECT_EQ(s.length(), 42u);
    EXPECT_EQ(s.data()[0], u'N');
    EXPECT_EQ(s.data()[2], u'9');

    OrvWstring digits;
    digits.insert(0, 1, u'7');
    EXPECT_EQ(text(digits), u"7");

    OrvWstring twice(u"abcdefghij");
    twice.append(twice);
    EXPECT_EQ(text(twice), u"abcdefghijabcdefghij");
    twice.append(twice);
    EXPECT_EQ(twice.length(), 40u);

    OrvWstring assigned(LONG_URI);
    OrvWstring sharer(assigned);
    assigned.assign(u"NS");
    EXPECT_EQ(text(assigned), u"NS");
    EXPECT_EQ(text(sharer), LONG_URI) << "assign leaves a sharer's text alone";
    EXPECT_THROW(assigned.insert(assigned.length() + 1, 1, u'x'), std::out_of_range);
}

// compare is a consistent total order: antisymmetric, transitive, and 0
// exactly when equals holds, whatever the storage of either side.
TEST(OrvWstring, CompareIsTotalOrderConsistentWithEquals) {
    std::vector<std::u16string> raw = {u"",
                                       u"a",
                                       u"ab",
                                       u"b",
                                       u"B",
                                       u"xml",
                                       u"xmlns",
                                       LONG_URI,
                                       std::u16string(LONG_URI) + u"x",
                                       std::u16string(LONG_URI) + u"y",
                                       u"\xD800\xDC00",
                                       u"\xFFFF",
                                       u"\x0100",
                                       u"\x0001"};
    std::vector<OrvWstring> values;
    for (const auto& r : raw)
        values.emplace_back(r.data(), static_cast<unsigned>(r.size()));
    for (std::size_t i = 0; i < values.size(); ++i) {
        for (std::size_t j = 0; j < values.size(); ++j) {
            const OrvWstring& a = values[i];
            const OrvWstring& b = values[j];
            EXPECT_EQ(a.equals(b), raw[i] == raw[j]);
            EXPECT_EQ(a.compare(b) == 0, raw[i] == raw[j]);
            EXPECT_EQ(a.compare(b), -b.compare(a));
            for (const OrvWstring& c : values) {
                if (a.compare(b) < 0 && b.compare(c) < 0) {
                    EXPECT_LT(a.compare(c), 0);
                }
            }
        }
        const OrvWstring copy(values[i]);
        EXPECT_EQ(copy.compare(values[i]), 0);
        EXPECT_TRUE(copy.equals(values[i]));
    }
}

// UTF-8 round trip, including supplementary characters; bad input is replaced.
TEST(OrvWstring, ConvertsToAndFromUtf8) {
    const std::string utf8 = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80";
    OrvWstring s = OrvWstring::fromUtf8(utf8);
    EXPECT_EQ(s.length(), 9u) << "the emoji takes a surrogate pair";
    EXPECT_EQ(s.toUtf8(), utf8);
    EXPECT_EQ(OrvWstring::fromUtf8(std::string("a\xFF"
                                               "b"))
                  .toUtf8(),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(OrvWstring::fromUtf8(std::string("\xC3")).toUtf8(), "\xEF\xBF\xBD");
    const char16_t lone[] = {0xD800, u'x', 0};
    EXPECT_EQ(OrvWstring(lone).toUtf8(), "\xEF\xBF\xBDx");
}

// Ordered containers find every string again by compare alone.
TEST(OrvWstring, LessServesOrderedContainers) {
    std::map<OrvWstring, int, OrvWstring::Less> map;
    std::vector<std::u16string> raw = {u"xmlns", u"", u"NS10", u"NS2", u"NS1", u"a", LONG_URI};
    for (std::size_t i = 0; i < raw.size(); ++i)
        map.emplace(OrvWstring(raw[i].data(), static_cast<unsigned>(raw[i].size())), int(i));
    ASSERT_EQ(map.size(), raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i)
        EXPECT_EQ(map.at(OrvWstring(raw[i].data(), static_cast<unsigned>(raw[i].size()))), int(i));
    EXPECT_EQ(map.count(OrvWstring(u"NS3")), 0u);
}

// std::u16string_view in and out (zeros inside included), ==/!= agreeing
// with equals, and a hash that keys unordered containers.
TEST(OrvWstring, InteroperatesWithStandardStrings) {
    const std::u16string zeroInside(u"a\0b", 3);
    const std::vector<std::u16string> cases = {u"", u"ns", zeroInside, LONG_URI, std::u16string(LONG_URI) + u"x"};
    std::unordered_set<OrvWstring> set;
    for (const std::u16string& c : cases) {
        const OrvWstring s(c);
        EXPECT_EQ(s.view(), c);
        EXPECT_EQ(s.size(), c.size());
        EXPECT_TRUE(s == OrvWstring(std::u16string_view(c)));
        EXPECT_EQ(std::hash<OrvWstring>()(s), std::hash<std::u16string_view>()(c));
        set.insert(s);
        for (const std::u16string& other : cases)
            EXPECT_EQ(s != OrvWstring(other), c != other) << OrvWstring(c).toUtf8();
    }
    EXPECT_EQ(set.size(), cases.size());
    EXPECT_EQ(set.count(OrvWstring(u"ns")), 1u);

    // The limit is checked before any code unit is read or allocated.
    const std::u16string_view tooLong(LONG_URI, OrvWstring::MAX_LENGTH + 1);
    EXPECT_THROW(OrvWstring{tooLong}, std::length_error);
    EXPECT_NO_THROW(OrvWstring(LONG_URI, std::size_t(3)));
}
