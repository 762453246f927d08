// SPDX-License-Identifier: Apache-2.0
// test_start_tag_guard.cpp - the attribute count before the parser: markup
// that holds '=' or quotes but no attributes, encodings, and reads cut at
// every byte.
#include "DocumentError.h"
#include "StartTagGuard.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Where the guard refuses `doc` with at most `limit` attributes, fed in
// reads of `step` bytes: "line:column", or "" when it passes.
std::string refusal(const std::string& doc, std::size_t limit, std::size_t step) {
    StartTagGuard guard(limit);
    try {
        for (std::size_t at = 0; at < doc.size(); at += step) {
            const std::string read = doc.substr(at, step);
            guard.scan(reinterpret_cast<const unsigned char*>(read.data()), read.size());
        }
    } catch (const DocumentError& e) {
        return std::to_string(e.line()) + ":" + std::to_string(e.column());
    }
    return "";
}

std::string utf16(const std::string& ascii, bool littleEndian) {
    std::string wide = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (const char c : ascii)
        wide += littleEndian ? std::string{c, '\0'} : std::string{'\0', c};
    return wide;
}

TEST(StartTagGuard, CountsAttributesOnlyInStartTagsWhereverAReadEnds) {
    // Two attributes allowed; "at" is where the third one starts.
    const struct {
        std::string doc;
        std::string at;
    } cases[] = {
        {"<r a='1' b=\"2\"/>", ""},
        {"<r a='1' b='2' c='3'/>", "1:16"},
        {"<r\n  a = '1'\n  b='2'\n  c='3'>", "4:3"},
        {"<?xml version='1.0' encoding='UTF-8' standalone='yes'?><r a='1'/>", ""},
        {"<r a='>' b=\"x='1' y='2'\"/><s a='1' b='2'/>", ""},
        {"<!-- <r a='1' b='2' c='3'> -- --><r/>", ""},
        {"<r><![CDATA[<r a='1' b='2' c='3'>]]></r>", ""},
        {"<?pi a='1' b='2' c='3'?><r/>", ""},
        {"<r></r a b c><s a='1' b='2' c='3'/>", "1:29"},
        {"<!DOCTYPE r SYSTEM 'x>y' [<!ATTLIST r a CDATA 'a=1 b=2 c=3'><!-- ' -->]><r a='' b=''/>", ""},
        {"<!DOCTYPE r [<!ENTITY e '<r xmlns:a=\"1\" xmlns:b=\"2\"/>'>]><r/>", ""},
        {"<!DOCTYPE r [<!ENTITY e '<r xmlns:a=\"1\" xmlns:b=\"2\" xmlns:c=\"3\"/>'>]><r/>", "1:57"},
        {"<!DOCTYPE r [<?pi ']'?><!ENTITY e 'x'>]><r a='1' b='2' c='3'/>", "1:56"},
        {utf16("<r a='1' b='2' c='3'/>", true), "1:16"},
        {utf16("<r a='1' b='2' c='3'/>", false), "1:16"},
        {utf16("<r a='1' b='2'/>", true), ""},
    };
    for (const auto& c : cases)
        for (std::size_t step : {c.doc.size(), std::size_t(1), std::size_t(2), std::size_t(7)})
            EXPECT_EQ(refusal(c.doc, 2, step), c.at) << c.doc.substr(0, 60) << " in reads of " << step;
}

} // namespace
