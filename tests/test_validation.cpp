// SPDX-License-Identifier: Apache-2.0
// test_validation.cpp - validation while rewriting: the patterns refused for
// backtracking, the verdicts, paths and caps of the messages, and the output
// of an invalid document.
#include "PatternSafety.h"
#include "Pipeline.h"
#include "XercesTestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

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
    };
    for (const auto& c : cases)
        EXPECT_EQ(!backtrackingRisk(c.pattern).empty(), c.risky)
            << std::u16string(c.pattern).size() << ": case " << &c - cases;
}
