// SPDX-License-Identifier: Apache-2.0
// PatternSafety.cpp - ambiguity in a pattern's position automaton, the cause
// of backtracking that grows faster than the value.
#include "PatternSafety.h"

#include "Diagnostics.h"
#include "PatternFacets.h"
#include "PositionAutomaton.h"

#include <xercesc/validators/datatype/DatatypeValidator.hpp>

#include <algorithm>
#include <memory>
#include <vector>

using namespace xercesc;

namespace {

constexpr std::size_t MAX_POSITIONS = 120; // beyond: not examined
constexpr std::size_t MAX_STEPS = 20000000;

// Exponential: in the automaton paired with itself, a pair (q, q) and a
// pair of two different states on one cycle: two ways round from q to q.
bool twoWaysRound(PositionAutomaton& automaton, std::size_t& steps) {
    const int n = static_cast<int>(automaton.size());
    const auto id = [n](int p, int q) { return static_cast<std::size_t>(p) * static_cast<std::size_t>(n) + q; };
    std::vector<int> index(static_cast<std::size_t>(n) * n, -1), low(index.size(), 0);
    std::vector<char> onStack(index.size(), 0);
    std::vector<std::size_t> stack;
    int counter = 0;
    struct Frame {
        int p, q;
        std::size_t i, j;
    };
    std::vector<Frame> calls{{0, 0, 0, 0}};
    index[0] = low[0] = counter++;
    stack.push_back(0);
    onStack[0] = 1;
    while (!calls.empty()) {
        // Read afresh each time: a call pushed below may move the frames.
        const std::size_t top = calls.size() - 1;
        const std::vector<int>& fp = automaton.follow(calls[top].p);
        const std::vector<int>& fq = automaton.follow(calls[top].q);
        const std::size_t from = id(calls[top].p, calls[top].q);
        bool descended = false;
        while (!descended && calls[top].i < fp.size()) {
            if (calls[top].j == fq.size()) {
                ++calls[top].i;
                calls[top].j = 0;
                continue;
            }
            const int p = fp[calls[top].i], q = fq[calls[top].j++];
            if (++steps > MAX_STEPS)
                return false;
            if (!automaton.overlap(p, q))
                continue;
            const std::size_t to = id(p, q);
            if (index[to] < 0) {
                index[to] = low[to] = counter++;
                stack.push_back(to);
                onStack[to] = 1;
                calls.push_back(Frame{p, q, 0, 0});
                descended = true;
            } else if (onStack[to]) {
                low[from] = std::min(low[from], index[to]);
            }
        }
        if (descended)
            continue;
        const std::size_t at = from;
        if (low[at] == index[at]) {
            bool diagonal = false, apart = false;
            for (;;) {
                const std::size_t member = stack.back();
                stack.pop_back();
                onStack[member] = 0;
                (member / n == member % n ? diagonal : apart) = true;
                if (member == at)
                    break;
            }
            if (diagonal && apart)
                return true;
        }
        calls.pop_back();
        if (!calls.empty()) {
            const std::size_t parent = id(calls.back().p, calls.back().q);
            low[parent] = std::min(low[parent], low[at]);
        }
    }
    return false;
}

// Polynomial: states p != q and one string that leads from p back to p,
// from p to q and from q back to q: the automaton taken three times over
// has a path from (p, p, q) to (p, q, q).
bool loopsInTurn(PositionAutomaton& automaton, std::size_t& steps) {
    const std::size_t n = automaton.size();
    const auto id = [n](int x, int y, int z) {
        return (static_cast<std::size_t>(x) * n + static_cast<std::size_t>(y)) * n + static_cast<std::size_t>(z);
    };
    std::vector<std::size_t> seen(n * n * n, 0); // the search that saw it, plus one
    std::size_t search = 0;
    std::vector<std::size_t> todo;
    for (int p = 1; p < static_cast<int>(n); ++p)
        for (int q = 1; q < static_cast<int>(n); ++q) {
            if (p == q || !automaton.overlap(p, p, q))
                continue;
            ++search;
            todo.assign(1, id(p, p, q));
            seen[todo[0]] = search;
            while (!todo.empty()) {
                const std::size_t at = todo.back();
                todo.pop_back();
                const int x = static_cast<int>(at / (n * n)), y = static_cast<int>(at / n % n),
                          z = static_cast<int>(at % n);
                for (int x2 : automaton.follow(x))
                    for (int y2 : automaton.follow(y))
                        for (int z2 : automaton.follow(z)) {
                            if (++steps > MAX_STEPS)
                                return false;
                            const std::size_t next = id(x2, y2, z2);
                            if (seen[next] == search || !automaton.overlap(x2, y2, z2))
                                continue;
                            if (x2 == p && y2 == q && z2 == q)
                                return true;
                            seen[next] = search;
                            todo.push_back(next);
                        }
            }
        }
    return false;
}

} // namespace

std::string backtrackingRisk(const char16_t* pattern) {
    PositionAutomaton automaton;
    if (!automaton.build(pattern, MAX_POSITIONS))
        return automaton.tooLarge() && (automaton.nested() || automaton.loops())
                   ? "it repeats without bound, in more positions than the check examines"
                   : std::string();
    if (automaton.emptyLoop())
        return "it repeats a part that can match nothing, which the matcher may repeat without end";
    if (automaton.splits())
        return "it repeats, back to back, a part of varying length that ends as it starts: a value can take time "
               "exponential in its length";
    std::size_t steps = 0;
    if (twoWaysRound(automaton, steps))
        return "a string can be matched two ways round a loop: a value can take time exponential in its length";
    if (loopsInTurn(automaton, steps))
        return "two loops take the same characters one after the other: a value can take time growing as a "
               "power of its length";
    return std::string();
}

std::string riskyPattern(XMLGrammarPool& pool) {
    for (const DatatypeValidator* type : PatternFacets::definedTypes(pool)) {
        const XMLCh* pattern = PatternFacets::pattern(*type);
        if (pattern == nullptr || !PatternFacets::parserChecks(*type))
            continue;
        const std::string why = backtrackingRisk(pattern);
        if (!why.empty())
            return "the pattern '" + utf8(pattern) + "': " + why;
    }
    return std::string();
}
