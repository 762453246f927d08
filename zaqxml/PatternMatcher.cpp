// SPDX-License-Identifier: Apache-2.0
// PatternMatcher.cpp - a pattern's position automaton run on sets of
// positions, determinised as values need it.
#include "PatternMatcher.h"

#include "PositionAutomaton.h"

#include <xercesc/util/regx/RangeToken.hpp>

#include <algorithm>

using namespace xercesc;

namespace {

// A class's ranges are private: an explicit instantiation (where access is
// not checked) hands out the pointer to them.
struct RangesOf {
    using type = XMLInt32* RangeToken::*;
    friend type member(RangesOf);
};
struct CountOf {
    using type = unsigned int RangeToken::*;
    friend type member(CountOf);
};
template <typename Tag, typename Tag::type Member> struct Expose {
    friend typename Tag::type member(Tag) { return Member; }
};
template struct Expose<RangesOf, &RangeToken::fRanges>;
template struct Expose<CountOf, &RangeToken::fElemCount>;

} // namespace

PatternMatcher::~PatternMatcher() { iBudget->used -= iStates.size() * stateBytes(); }

std::size_t PatternMatcher::stateBytes() const {
    // Its positions, its row of transitions, and the bookkeeping of both.
    return iWords * sizeof(Word) + iBounds.size() * sizeof(std::int32_t) + 128;
}

std::unique_ptr<PatternMatcher> PatternMatcher::compile(const char16_t* pattern, Budget* budget,
                                                        std::size_t maxPositions) {
    PositionAutomaton automaton;
    if (!automaton.build(pattern, maxPositions, false))
        return nullptr;
    std::unique_ptr<PatternMatcher> matcher(new PatternMatcher());
    PatternMatcher& m = *matcher;
    m.iBudget = budget != nullptr ? budget : &m.iOwnBudget;
    const std::size_t n = automaton.size();
    m.iWords = (n + 63) / 64;
    // Classes: the code points between two consecutive range ends, which
    // every position reads all or none of.
    std::vector<std::uint32_t> bounds{0};
    for (std::size_t p = 1; p < n; ++p) {
        RangeToken& set = automaton.set(static_cast<int>(p));
        set.sortRanges();
        set.compactRanges();
        const XMLInt32* ranges = set.*member(RangesOf());
        const unsigned int count = set.*member(CountOf());
        for (unsigned int i = 0; i + 1 < count; i += 2) {
            bounds.push_back(static_cast<std::uint32_t>(ranges[i]));
            bounds.push_back(static_cast<std::uint32_t>(ranges[i + 1]) + 1);
        }
    }
    std::sort(bounds.begin(), bounds.end());
    bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());
    m.iBounds = bounds;
    const std::size_t classes = bounds.size();
    m.iClassMask.assign(classes * m.iWords, 0);
    for (std::size_t k = 0; k < classes; ++k)
        for (std::size_t p = 1; p < n; ++p)
            if (automaton.set(static_cast<int>(p)).match(static_cast<XMLInt32>(bounds[k])))
                m.iClassMask[k * m.iWords + p / 64] |= Word(1) << (p % 64);
    // Each position's followers as a row of bits, and as a list where that
    // is shorter to go through (a counted repetition's position has one):
    // the lists one after another, each from its start.
    m.iListStart.assign(n + 1, 0);
    m.iDense.assign(n, 0);
    std::vector<std::uint32_t> list;
    for (std::size_t p = 0; p < n; ++p) {
        list.clear();
        for (int q : automaton.follow(static_cast<int>(p)))
            list.push_back(static_cast<std::uint32_t>(q));
        std::sort(list.begin(), list.end());
        list.erase(std::unique(list.begin(), list.end()), list.end());
        if (list.size() > m.iWords) {
            m.iDense[p] = static_cast<std::uint32_t>(m.iFollow.size() / m.iWords + 1);
            m.iFollow.resize(m.iFollow.size() + m.iWords, 0);
            Word* row = &m.iFollow[m.iFollow.size() - m.iWords];
            for (std::uint32_t q : list)
                row[q / 64] |= Word(1) << (q % 64);
            list.clear();
        }
        m.iLists.insert(m.iLists.end(), list.begin(), list.end());
        m.iListStart[p + 1] = static_cast<std::uint32_t>(m.iLists.size());
    }
    m.iAccepting.assign(m.iWords, 0);
    for (int p : automaton.accepting())
        m.iAccepting[static_cast<std::size_t>(p) / 64] |= Word(1) << (p % 64);
    std::vector<std::uint16_t> ascii(128);
    for (std::uint32_t c = 0; c < 128; ++c)
        ascii[c] = static_cast<std::uint16_t>(m.classOf(c));
    m.iAscii = std::move(ascii);
    std::vector<Word> start(m.iWords, 0);
    start[0] = 1;
    m.stateOf(start);
    return matcher;
}

std::size_t PatternMatcher::classOf(std::uint32_t c) const {
    if (c < 128 && !iAscii.empty())
        return iAscii[c];
    return static_cast<std::size_t>(std::upper_bound(iBounds.begin(), iBounds.end(), c) - iBounds.begin()) - 1;
}

std::size_t PatternMatcher::SetHash::operator()(const std::vector<Word>& set) const {
    std::uint64_t hash = 0x9E3779B97F4A7C15u;
    for (Word word : set)
        hash = (hash ^ word) * 0x100000001B3u;
    return static_cast<std::size_t>(hash ^ (hash >> 29));
}

int PatternMatcher::stateOf(const std::vector<Word>& set) {
    const auto found = iByPositions.find(set);
    if (found != iByPositions.end())
        return found->second;
    const int id = static_cast<int>(iStates.size());
    const auto made = iByPositions.emplace(set, id).first;
    State state;
    state.positions = &made->first; // keys stay where they are
    for (std::size_t w = 0; w < iWords; ++w)
        state.accepting = state.accepting || (set[w] & iAccepting[w]) != 0;
    iStates.push_back(state);
    iBudget->used += stateBytes();
    iNext.resize(iStates.size() * iBounds.size(), -2);
    return id;
}

int PatternMatcher::step(int state, std::size_t k) {
    const std::size_t at = static_cast<std::size_t>(state) * iBounds.size() + k;
    if (iNext[at] != -2)
        return iNext[at];
    iScratch.assign(iWords, 0);
    const std::vector<Word>& from = *iStates[static_cast<std::size_t>(state)].positions;
    for (std::size_t w = 0; w < iWords; ++w)
        for (Word bits = from[w]; bits != 0; bits &= bits - 1) {
            const std::size_t p = w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits));
            if (iDense[p] == 0)
                for (std::uint32_t i = iListStart[p], end = iListStart[p + 1]; i < end; ++i)
                    iScratch[iLists[i] / 64] |= Word(1) << (iLists[i] % 64);
            else
                for (std::size_t v = 0, row = (iDense[p] - 1) * iWords; v < iWords; ++v)
                    iScratch[v] |= iFollow[row + v];
        }
    bool any = false;
    for (std::size_t w = 0; w < iWords; ++w) {
        iScratch[w] &= iClassMask[k * iWords + w];
        any = any || iScratch[w] != 0;
    }
    if (!any)
        return iNext[at] = -1;
    const std::size_t stateBytes = this->stateBytes();
    if (iBudget->used + stateBytes > iBudget->limit) {
        // Start again from the start state alone; `state` is gone with the rest.
        const std::vector<Word> start = *iStates[0].positions;
        iBudget->used -= iStates.size() * stateBytes;
        iStates.clear();
        iNext.clear();
        iByPositions.clear();
        stateOf(start);
        return stateOf(iScratch);
    }
    const int next = stateOf(iScratch);
    iNext[at] = next;
    return next;
}

bool PatternMatcher::matches(std::u16string_view value) {
    int state = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        std::uint32_t c = value[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < value.size() && value[i + 1] >= 0xDC00 && value[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (value[i + 1] - 0xDC00u);
            ++i;
        }
        state = step(state, classOf(c));
        if (state < 0)
            return false;
    }
    return iStates[static_cast<std::size_t>(state)].accepting;
}
