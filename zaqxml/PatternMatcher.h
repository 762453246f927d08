// SPDX-License-Identifier: Apache-2.0
// PatternMatcher.h - matching a value against an XML Schema pattern in time
// linear in the value.
#ifndef ZAQXML_PATTERN_MATCHER_H
#define ZAQXML_PATTERN_MATCHER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

/// Whether a whole value matches an XML Schema regular expression, as the
/// parser's own matcher decides, but without backtracking: the expression's
/// position automaton (PositionAutomaton) is run on sets of positions, and
/// each set met is kept as a state of a deterministic automaton built as the
/// values need it. A value costs one step a character once its states are
/// known, and otherwise, per character, a pass over the positions after
/// those it is at (as many as the positions, squared, over 64 word
/// operations at worst). The states kept are held to a budget; past it they
/// are dropped and built again.
///
/// Not thread-safe: matching grows the automaton. One thread uses it at a
/// time.
class PatternMatcher {
public:
    /// The bytes the states of a set of matchers may take together: past
    /// the limit, a matcher that needs a new state drops its own first.
    struct Budget {
        std::size_t limit = std::size_t(2) << 20;
        std::size_t used = 0;
    };

    /// The matcher of `pattern`, its states counted against `budget` (which
    /// outlives it; null: 2 MiB of its own); null when `pattern`
    /// is not an expression (the schema's own check reports that) or has
    /// more than `maxPositions` positions once its bounded repetitions are
    /// written out.
    static std::unique_ptr<PatternMatcher> compile(const char16_t* pattern, Budget* budget = nullptr,
                                                   std::size_t maxPositions = 2048);
    ~PatternMatcher();
    PatternMatcher(const PatternMatcher&) = delete;
    PatternMatcher& operator=(const PatternMatcher&) = delete;

    /// Whether all of `value` (UTF-16) matches.
    bool matches(std::u16string_view value);

    /// States built so far (for tests).
    std::size_t states() const { return iStates.size(); }

private:
    using Word = std::uint64_t;
    PatternMatcher() = default;
    /// The class of code point `c`: the index of the last boundary at or below it.
    std::size_t classOf(std::uint32_t c) const;
    /// The state of the positions `set` holds, made if new.
    int stateOf(const std::vector<Word>& set);
    /// The state `state` goes to on a character of class `k`; -1: none.
    int step(int state, std::size_t k);

    std::size_t stateBytes() const;
    Budget iOwnBudget;
    Budget* iBudget = &iOwnBudget;
    std::size_t iWords = 0;                // words in a set of positions
    std::vector<Word> iFollow;             // rows of bits: the positions after a dense position
    std::vector<std::uint32_t> iDense;     // by position: its row, plus one; 0: its list is used
    std::vector<std::uint32_t> iLists;     // the other positions' followers
    std::vector<std::uint32_t> iListStart; // by position: where its list starts
    std::vector<Word> iClassMask;          // by class: the positions that read it
    std::vector<Word> iAccepting;          // the positions a match may end at
    std::vector<std::uint32_t> iBounds;    // where each class starts, ascending, from 0
    std::vector<std::uint16_t> iAscii;     // the class of each character below 128
    struct State {
        const std::vector<Word>* positions = nullptr; // its key in iByPositions
        bool accepting = false;
    };
    std::vector<State> iStates;      // 0: the start
    std::vector<std::int32_t> iNext; // by state and class: -2 not known, -1 none
    struct SetHash {
        std::size_t operator()(const std::vector<Word>& set) const;
    };
    std::unordered_map<std::vector<Word>, int, SetHash> iByPositions;
    std::vector<Word> iScratch;
};

#endif
