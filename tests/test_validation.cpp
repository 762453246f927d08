// SPDX-License-Identifier: Apache-2.0
// test_validation.cpp - validation while rewriting: the patterns refused for
// backtracking, the verdicts, paths and caps of the messages, and the output
// of an invalid document.
#include "PatternMatcher.h"
#include "PatternSafety.h"
#include "Pipeline.h"
#include "XercesTestEnvironment.h"

#include <gtest/gtest.h>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/regx/RegularExpression.hpp>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

const auto* const gPlatform = ::testing::AddGlobalTestEnvironment(new XercesTestEnvironment);

struct Collected : Diagnostics {
    std::string text;
    void emit(const std::string& line) override { text += line + "\n"; }
};

} // namespace

// Each pattern is matched by the parser's backtracking matcher: those whose
// automaton is ambiguous can take exponential or polynomial time and are
// found; the unambiguous ones of real schemas are not.
TEST(PatternSafety, FindsAmbiguousRepetitionOnly) {
    const struct {
        const char16_t* pattern;
        bool risky;
    } cases[] = {
        {u"[A-Z]{3}-[0-9]+", false},
        {u"([a-z]+\\.)*[a-z]+", false},
        {u"\\d{4}-\\d{2}-\\d{2}(Z|[+\\-]\\d{2}:\\d{2})?", false},
        {u"[^<>&]*", false},
        {u"(foo|bar|baz)+", false},
        {u"\\p{L}+(\\s\\p{L}+)*", false},
        {u"[a-z0-9._%+\\-]+@[a-z0-9.\\-]+\\.[a-z]{2,}", false},
        {u"\\s*\\S+", false},
        {u"(a|a)*b", true},
        {u"(a*)*b", true},
        {u"(a+)+c", true},
        {u"(x|xy)*(x|y)*", true},
        {u".*[0-9]+", true},
        {u"[0-9]+[0-9]*", true},
        {u"(ab)*c", false},
        {u"(ab)*(ab)*c", true},
        {u"\\s*\\s*x", true},
        {u"a*a*a*b", true},
        {u"([^b]|a)*z", true},
        {u"(a|[^\\s])*z", true},
        {u"([ac]|[^b])*z", true},
        {u"[^b]*a*z", true},
        {u"(a{1,2})*z", true},
        {u"(a{1,3}){1,30}z", true},
        {u"([^<>]{1,5})*", true},
        {u"[^<>]{0,200}", false},
        {u"[A-Z]{2}[0-9]{1,4}", false},
        {u"(\\d{1,3}\\.){3}\\d{1,3}", false},
        {u"([A-Z]{2})*", false},
        // Large counts are examined as small ones.
        {u"(a|a)*b|c{3000}", true},
        {u"(a{1,900})+", true},
        {u"[a-z]{1,2000}", false},
        {u"(a?){27}a{27}", true},
        {u"(a|){27}a{27}", true},
        {u"(a|aa){30}b", true},
        {u"[A-Z]{3}-[0-9]{1,500}(\\.[0-9]{1,500})?", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(!backtrackingRisk(c.pattern).empty(), c.risky)
            << std::u16string(c.pattern).size() << ": case " << &c - cases;
}

// The tool's linear matcher decides as the parser's own: every string of up
// to three characters over an alphabet the patterns use (a line end and a
// character past the BMP among them), and longer random ones made of each
// pattern's own characters.
TEST(PatternMatcher, DecidesAsTheParsersMatcher) {
    const char16_t* const patterns[] = {
        u"[A-Z]{3}-[0-9]+",
        u"([a-z]+\\.)*[a-z]+",
        u"\\d{2}(Z|[+\\-]\\d{2})?",
        u"[^<>&]*",
        u"(ab|ba|c)+",
        u"\\p{L}+(\\s\\p{L}+)*",
        u"[a-z.]+@[a-z]+\\.[a-z]{2,}",
        u"\\s*\\S+",
        u"(a|a)*b",
        u"(a+)+c",
        u"(x|xy)*(x|y)*",
        u".*[0-9]+",
        u"(ab)*(ab)*c",
        u"([^b]|a)*z",
        u"(a{1,2})*z",
        u"(a{1,3}){1,4}z",
        u"[^<>]{0,5}",
        u"([A-Z]{2})*",
        u"",
        u"a{0}b",
        u"(a|)b?",
        u".",
        u"\\i\\c*",
        u"[a-z-[aeiou]]+",
        u"\\P{Lu}\\W?",
        u"\\u{10400}|\\uD801\\uDC00",
        u"(\U00010400|x)+",
        u"[\\n\\r\\t ]+",
        u"[^a]",
        u"abc|abd",
        u"(a|b|c){2,3}(c|d)?",
    };
    const std::u16string alphabet = u"abcxyz09-.@ \nAZ\u00e9<\U00010400";
    std::vector<std::u16string> shortOnes{u""};
    for (std::size_t from = 0, length = 1; length <= 3; ++length) {
        const std::size_t to = shortOnes.size();
        for (std::size_t i = from; i < to; ++i)
            for (std::size_t c = 0; c < alphabet.size(); ++c) {
                // A surrogate pair is one character.
                const std::size_t width = (alphabet[c] >= 0xD800 && alphabet[c] < 0xDC00) ? 2 : 1;
                shortOnes.push_back(shortOnes[i] + alphabet.substr(c, width));
                c += width - 1;
            }
        from = to;
    }
    std::mt19937 random(20261211);
    for (std::size_t k = 0; k < sizeof patterns / sizeof patterns[0]; ++k) {
        const char16_t* pattern = patterns[k];
        xercesc::RegularExpression* parsers = nullptr;
        try {
            parsers = new xercesc::RegularExpression(pattern, u"X");
        } catch (const xercesc::XMLException&) {
            EXPECT_EQ(PatternMatcher::compile(pattern), nullptr) << "not an expression, case " << k;
            continue;
        }
        std::unique_ptr<xercesc::RegularExpression> owned(parsers);
        std::unique_ptr<PatternMatcher> ours = PatternMatcher::compile(pattern);
        ASSERT_NE(ours, nullptr) << "case " << k;
        std::vector<std::u16string> values = shortOnes;
        const std::u16string own = std::u16string(pattern) + u"ab";
        for (int i = 0; i < 300; ++i) {
            std::u16string value;
            for (int n = static_cast<int>(random() % 14); n > 0; --n)
                value += own[random() % own.size()];
            values.push_back(value);
        }
        for (const std::u16string& value : values)
            ASSERT_EQ(ours->matches(value), parsers->matches(value.c_str()))
                << "case " << k << ", a value of " << value.size() << " code units";
    }
}
