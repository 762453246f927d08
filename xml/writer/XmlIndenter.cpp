// SPDX-License-Identifier: Apache-2.0
// XmlIndenter.cpp - white space between tags, held back until the elements
// it lies in show whether their content is mixed.
#include "XmlIndenter.h"

namespace zaq {

namespace {

// Held white space beyond this is written as it came: the content is then
// taken as mixed, and memory stays bounded.
constexpr std::size_t MOST_HELD = 1 << 16;

// A CR in parsed text came from a character reference (the parser turns
// raw ones into LF): one written on purpose, kept as text.
bool isSpace(char16_t c) { return c == ' ' || c == '\t' || c == '\n'; }

} // namespace

void XmlIndenter::open(const std::u16string_view* space) {
    if (!iEnabled)
        return;
    const Level* parent = iLevels.empty() ? nullptr : &iLevels.back();
    bool preserve = parent != nullptr && parent->preserve;
    if (space != nullptr)
        preserve = *space == u"preserve";
    // Below a mixed element nothing is added: it is decided at once.
    const bool mixed = preserve || (parent != nullptr && parent->kind == Kind::Mixed);
    std::size_t record = NONE;
    if (!mixed) {
        const std::size_t parentRecord = parent != nullptr && held(parent->record) ? parent->record : NONE;
        record = iFirstRecord + iRecords.size();
        iRecords.push_back(Record{parentRecord, Kind::Undecided});
    }
    iLevels.push_back(Level{mixed ? Kind::Mixed : Kind::Undecided, false, preserve, record, iFirstGap + iGaps.size()});
    if (mixed && iDecided == iLevels.size() - 1)
        ++iDecided;
}

void XmlIndenter::close() {
    if (!iEnabled)
        return;
    Level& level = iLevels.back();
    const bool undecided = level.kind == Kind::Undecided;
    if (undecided) // no text came: element-only
        setKind(level, Kind::ElementOnly);
    iLevels.pop_back();
    if (iDecided > iLevels.size())
        iDecided = iLevels.size();
    if (undecided)
        release();
}

bool XmlIndenter::hold(const char16_t* chars, std::size_t length) {
    if (!iEnabled || iLevels.empty() || iLevels.back().kind == Kind::Mixed)
        return false;
    // Past the most held, white space is text, unless the element is
    // already written element-only with children: there it is layout only.
    const Level& level = iLevels.back();
    const bool layout = level.kind == Kind::ElementOnly && level.children;
    if (iHeld.size() + length > MOST_HELD && !layout)
        return false;
    for (std::size_t i = 0; i < length; ++i)
        if (!isSpace(chars[i]))
            return false;
    if (iHeld.size() + length <= MOST_HELD)
        iHeld.append(chars, length);
    return true;
}

bool XmlIndenter::beforeText() {
    if (!iEnabled || iLevels.empty())
        return true;
    Level& level = iLevels.back();
    // Decided element-only while open: the lookahead ran out before this text.
    const bool late = level.kind == Kind::ElementOnly;
    if (level.kind == Kind::Undecided) {
        setKind(level, Kind::Mixed);
        release();
    }
    writeHeld();
    return !late;
}

void XmlIndenter::beforeChild() {
    if (!iEnabled || iLevels.empty())
        return;
    Level& level = iLevels.back();
    level.children = true;
    if (level.kind == Kind::Mixed)
        writeHeld();
    else
        addGap(iLevels.size());
}

bool XmlIndenter::writesBeforeEnd() const {
    return iEnabled && !iLevels.empty() &&
           (!iHeld.empty() || (iLevels.back().children && iLevels.back().kind != Kind::Mixed));
}

void XmlIndenter::beforeEnd() {
    if (!iEnabled || iLevels.empty())
        return;
    const Level& level = iLevels.back();
    if (level.kind == Kind::Mixed || !level.children)
        writeHeld(); // white space in an element without children is its text
    else
        addGap(iLevels.size() - 1);
}

void XmlIndenter::addGap(std::size_t depth) {
    const Level& level = iLevels.back();
    const std::size_t record = held(level.record) ? level.record : NONE;
    if (record == NONE && iGaps.empty()) {
        // Decided element-only, with nothing held before it: written now.
        iHeld.clear();
        newLine(depth);
        return;
    }
    if (iGaps.empty())
        iOut.holdFrom(iOut.written());
    const std::size_t original = iOriginals.size();
    iOriginals.append(iHeld.begin(), iHeld.end()); // space, tab and LF only
    iHeld.clear();
    iGaps.push_back(Gap{iOut.written() - iInserted, record, depth, original, iOriginals.size() - original});
    iGapBytes += 1 + 2 * depth; // what the gap may become
    bound();
}

void XmlIndenter::enforceLookahead() {
    if (heldCost() <= iLookahead)
        return;
    // Past the lookahead the outermost undecided elements are taken as
    // element-only, as many as it takes for what stays held to fit, and
    // what they held is written out in one release.
    while (iDecided < iLevels.size()) {
        setKind(iLevels[iDecided], Kind::ElementOnly);
        if (iDecided == iLevels.size())
            break;
        const std::size_t next = iLevels[iDecided].firstGap - iFirstGap;
        if (next >= iGaps.size() ||
            iOut.written() - (iGaps[next].at + iInserted) + (iGaps.size() - next) * sizeof(Gap) + iGapBytes <=
                iLookahead)
            break;
    }
    release();
}

std::size_t XmlIndenter::heldCost() const {
    const std::uint64_t from = iGaps.empty() ? iOut.written() : iGaps.front().at + iInserted;
    return static_cast<std::size_t>(iOut.written() - from) + iGaps.size() * sizeof(Gap) +
           iRecords.size() * sizeof(Record) + iOriginals.size() + iGapBytes;
}

void XmlIndenter::setKind(Level& level, Kind kind) {
    level.kind = kind;
    if (held(level.record))
        iRecords[level.record - iFirstRecord].kind = kind;
    while (iDecided < iLevels.size() && iLevels[iDecided].kind != Kind::Undecided)
        ++iDecided;
}

void XmlIndenter::release() {
    // Everything before the outermost element still undecided is decided:
    // the gaps there are written, as indentation where every element they
    // lie in is element-only, else as the white space they had.
    const bool pending = iDecided < iLevels.size();
    const std::size_t lastGap = pending ? iLevels[iDecided].firstGap : iFirstGap + iGaps.size();
    const std::size_t keepRecords = pending ? iLevels[iDecided].record : iFirstRecord + iRecords.size();
    const std::size_t count = lastGap - iFirstGap;
    if (count > 0) {
        iIndented.assign(keepRecords - iFirstRecord, false);
        for (std::size_t i = 0; i < iIndented.size(); ++i) {
            const Record& r = iRecords[i];
            iIndented[i] = r.kind == Kind::ElementOnly && (!held(r.parent) || iIndented[r.parent - iFirstRecord]);
        }
        const std::uint64_t base = iOut.written() - iOut.size();
        const std::uint64_t start = iGaps.front().at + iInserted;
        std::uint64_t from = start;
        std::size_t added = 0;
        iScratch.clear();
        for (std::size_t g = 0; g < count; ++g) {
            const Gap& gap = iGaps[g];
            iGapBytes -= 1 + 2 * gap.depth;
            const std::uint64_t at = gap.at + iInserted;
            iScratch.append(iOut.data() + (from - base), static_cast<std::size_t>(at - from));
            const std::size_t before = iScratch.size();
            if (!held(gap.record) || iIndented[gap.record - iFirstRecord]) {
                iScratch += '\n';
                iScratch.append(2 * gap.depth, ' ');
            } else {
                iScratch.append(iOriginals, gap.original, gap.length);
            }
            added += iScratch.size() - before;
            from = at;
        }
        iScratch.append(iOut.data() + (from - base), static_cast<std::size_t>(iOut.written() - from));
        iOut.replaceFrom(start, iScratch.data(), iScratch.size());
        iInserted += added;
        const std::size_t originals = count < iGaps.size() ? iGaps[count].original : iOriginals.size();
        iGaps.erase(iGaps.begin(), iGaps.begin() + static_cast<std::ptrdiff_t>(count));
        iOriginals.erase(0, originals);
        for (Gap& gap : iGaps)
            gap.original -= originals;
        iFirstGap = lastGap;
    }
    iRecords.erase(iRecords.begin(), iRecords.begin() + static_cast<std::ptrdiff_t>(keepRecords - iFirstRecord));
    iFirstRecord = keepRecords;
    if (iGaps.empty())
        iOut.releaseHold();
    else
        iOut.holdFrom(iGaps.front().at + iInserted);
}

void XmlIndenter::writeHeld() {
    if (iHeld.empty())
        return;
    iOut.append(iHeld.data(), iHeld.size(), XmlTextOutput::Escape::Text);
    iHeld.clear();
}

void XmlIndenter::newLine(std::size_t depth) {
    iOut.put('\n');
    for (std::size_t i = 0; i < depth; ++i)
        iOut.put("  ");
}

} // namespace zaq
