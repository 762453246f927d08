// SPDX-License-Identifier: Apache-2.0
// XmlIndenter.cpp - white space between tags, held back and decided on later.
#include "XmlIndenter.h"

#include <xercesc/util/XMLString.hpp>

namespace {

// Held white space beyond this is written as it came: the content is then
// taken as mixed, and memory stays bounded.
constexpr std::size_t MOST_HELD = 1 << 16;

bool isSpace(XMLCh c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

} // namespace

void XmlIndenter::open(const XMLCh* space) {
    if (!iEnabled)
        return;
    bool preserve = !iPreserve.empty() && iPreserve.back();
    if (space != nullptr)
        preserve = xercesc::XMLString::equals(space, u"preserve");
    iPreserve.push_back(preserve);
    iLevels.push_back(Level{preserve, false});
}

void XmlIndenter::close() {
    if (!iEnabled)
        return;
    iLevels.pop_back();
    iPreserve.pop_back();
}

bool XmlIndenter::hold(const XMLCh* chars, std::size_t length) {
    if (!iEnabled || iLevels.empty() || iLevels.back().mixed || iHeld.size() + length > MOST_HELD)
        return false;
    for (std::size_t i = 0; i < length; ++i)
        if (!isSpace(chars[i]))
            return false;
    iHeld.append(reinterpret_cast<const char16_t*>(chars), length);
    return true;
}

void XmlIndenter::beforeText() {
    if (!iEnabled || iLevels.empty())
        return;
    iLevels.back().mixed = true;
    releaseHeld();
}

void XmlIndenter::beforeChild() {
    if (!iEnabled || iLevels.empty())
        return;
    Level& level = iLevels.back();
    level.children = true;
    if (level.mixed) {
        releaseHeld();
        return;
    }
    iHeld.clear();
    newLine(iLevels.size());
}

bool XmlIndenter::writesBeforeEnd() const {
    return iEnabled && !iLevels.empty() && (!iHeld.empty() || (iLevels.back().children && !iLevels.back().mixed));
}

void XmlIndenter::beforeEnd() {
    if (!iEnabled || iLevels.empty())
        return;
    const Level& level = iLevels.back();
    if (level.mixed || !level.children) {
        releaseHeld(); // white space in an element without children is its text
        return;
    }
    iHeld.clear();
    newLine(iLevels.size() - 1);
}

void XmlIndenter::releaseHeld() {
    if (iHeld.empty())
        return;
    iOut.append(reinterpret_cast<const XMLCh*>(iHeld.data()), iHeld.size(), XmlTextOutput::Escape::Text);
    iHeld.clear();
}

void XmlIndenter::newLine(std::size_t depth) {
    iOut.put('\n');
    for (std::size_t i = 0; i < depth; ++i)
        iOut.put("  ");
}
