// SPDX-License-Identifier: Apache-2.0
// PatternSafety.cpp - ambiguity in a pattern's position automaton, the cause
// of backtracking that grows faster than the value.
#include "PatternSafety.h"

#include "Diagnostics.h"

#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/regx/RangeToken.hpp>
#include <xercesc/util/regx/RegularExpression.hpp>
#include <xercesc/util/regx/Token.hpp>
#include <xercesc/validators/datatype/DatatypeValidator.hpp>
#include <xercesc/validators/datatype/DatatypeValidatorFactory.hpp>
#include <xercesc/validators/schema/SchemaGrammar.hpp>
#include <xercesc/validators/schema/SchemaSymbols.hpp>

#include <algorithm>
#include <memory>
#include <vector>

using namespace xercesc;

namespace {

// The parsed expression and a validator's pattern are protected members:
// read through classes derived for that alone.
struct TreeOf : RegularExpression {
    static Token* tree(const RegularExpression& expression) { return expression.*(&TreeOf::fTokenTree); }
};
struct PatternOf : DatatypeValidator {
    static const XMLCh* pattern(const DatatypeValidator& validator) { return (validator.*(&PatternOf::getPattern))(); }
};

constexpr std::size_t MAX_POSITIONS = 120; // beyond: not examined
constexpr std::size_t MAX_STEPS = 20000000;

// The position automaton (Glushkov): a state per character class written,
// 0 the start; a transition p -> q reads a character of q's class.
class Automaton {
public:
    struct Part {
        bool nullable = true;
        std::vector<int> first, last;
    };

    ~Automaton() {
        for (RangeToken* set : iSets)
            delete set;
    }
    bool build(const Token* token) {
        iFollow.assign(1, {});
        iSets.assign(1, nullptr);
        const Part whole = part(token);
        if (iTooLarge)
            return false;
        iFollow[0] = whole.first;
        return true;
    }
    bool emptyLoop() const { return iEmptyLoop; }
    /// Whether a repetition holds another (what makes a pattern too large
    /// to examine a risk by itself).
    bool nested() const { return iNested; }
    /// Whether copies of a repeated body split one string many ways.
    bool splits() const { return iSplits; }
    std::size_t size() const { return iSets.size(); }
    const std::vector<int>& follow(int p) const { return iFollow[static_cast<std::size_t>(p)]; }
    /// Whether the classes of p and q (and r, if given) share a character;
    /// each answer is kept.
    bool overlap(int p, int q, int r = 0) {
        const std::size_t n = iSets.size();
        if (iShared.size() != n * n * n)
            iShared.assign(n * n * n, 0);
        char& known = iShared[(static_cast<std::size_t>(p) * n + q) * n + r];
        if (known == 0) {
            RangeToken common(Token::T_RANGE);
            common.mergeRanges(iSets[static_cast<std::size_t>(p)]);
            common.intersectRanges(iSets[static_cast<std::size_t>(q)]);
            if (r > 0)
                common.intersectRanges(iSets[static_cast<std::size_t>(r)]);
            known = common.empty() ? 1 : 2;
        }
        return known == 2;
    }

private:
    int position(RangeToken* set) {
        iSets.push_back(set);
        iFollow.emplace_back();
        iTooLarge = iTooLarge || iSets.size() > MAX_POSITIONS;
        return static_cast<int>(iSets.size() - 1);
    }
    Part leaf(RangeToken* set) {
        const int p = position(set);
        return Part{false, {p}, {p}};
    }
    static RangeToken* single(XMLInt32 c) {
        auto* set = new RangeToken(Token::T_RANGE);
        set->addRange(c, c);
        return set;
    }
    void link(const std::vector<int>& from, const std::vector<int>& to) {
        for (int p : from)
            for (int q : to)
                iFollow[static_cast<std::size_t>(p)].push_back(q);
    }
    Part concat(Part a, const Part& b) {
        link(a.last, b.first);
        if (a.nullable)
            a.first.insert(a.first.end(), b.first.begin(), b.first.end());
        std::vector<int> last = b.last;
        if (b.nullable)
            last.insert(last.end(), a.last.begin(), a.last.end());
        return Part{a.nullable && b.nullable, a.first, last};
    }
    Part part(const Token* token) {
        if (iTooLarge)
            return Part();
        switch (token->getTokenType()) {
        case Token::T_CHAR:
            return leaf(single(token->getChar()));
        case Token::T_DOT: { // any character but a line end
            auto* set = new RangeToken(Token::T_RANGE);
            set->addRange(0, 9);
            set->addRange(11, 12);
            set->addRange(14, 0x10FFFF);
            return leaf(set);
        }
        case Token::T_RANGE: {
            auto* set = new RangeToken(Token::T_RANGE);
            set->mergeRanges(token);
            return leaf(set);
        }
        case Token::T_NRANGE: { // everything but its ranges
            // Intersecting with it takes its ranges as they are stored:
            // those, taken from everything, are the class.
            RangeToken stored(Token::T_RANGE);
            stored.addRange(0, 0x10FFFF);
            stored.intersectRanges(static_cast<RangeToken*>(const_cast<Token*>(token)));
            auto* set = new RangeToken(Token::T_RANGE);
            set->addRange(0, 0x10FFFF);
            set->subtractRanges(&stored);
            return leaf(set);
        }
        case Token::T_STRING: {
            Part whole;
            for (const XMLCh* c = token->getString(); c != nullptr && *c != 0; ++c)
                whole = concat(whole, leaf(single(*c)));
            return whole;
        }
        case Token::T_CONCAT: {
            Part whole;
            for (XMLSize_t i = 0; i < token->size(); ++i)
                whole = concat(whole, part(token->getChild(i)));
            return whole;
        }
        case Token::T_UNION: {
            Part any{false, {}, {}};
            for (XMLSize_t i = 0; i < token->size(); ++i) {
                const Part branch = part(token->getChild(i));
                any.nullable = any.nullable || branch.nullable;
                any.first.insert(any.first.end(), branch.first.begin(), branch.first.end());
                any.last.insert(any.last.end(), branch.last.begin(), branch.last.end());
            }
            return any;
        }
        case Token::T_CLOSURE:
        case Token::T_NONGREEDYCLOSURE: {
            // x{n,m} as n copies of x, then m - n optional ones (or one
            // repeated, for no upper bound): each copy its own positions,
            // as the matcher tries each.
            const int min = std::max(token->getMin(), 0), max = token->getMax();
            if (max == 0)
                return Part();
            const bool repeats = max != 1;
            iNested = iNested || (repeats && iRepeating > 0);
            iRepeating += repeats;
            const unsigned long variableBefore = iVariable;
            Part whole;
            Part first; // the positions of the first copy
            for (int i = 0; i < min && !iTooLarge; ++i) {
                const Part copy = part(token->getChild(0));
                if (i == 0)
                    first = copy;
                whole = concat(whole, copy);
            }
            if (max < 0) {
                Part loop = part(token->getChild(0));
                if (min == 0)
                    first = loop;
                // The matcher repeats an iteration that took nothing without end.
                if (loop.nullable && !loop.first.empty())
                    iEmptyLoop = true;
                link(loop.last, loop.first);
                loop.nullable = true;
                whole = concat(whole, loop);
            } else {
                for (int i = min; i < max && !iTooLarge; ++i) {
                    Part optional = part(token->getChild(0));
                    if (i == 0)
                        first = optional;
                    optional.nullable = true;
                    whole = concat(whole, optional);
                }
            }
            // A body that itself repeats a varying count, whose end can take
            // what its start takes: back to back, the copies split one
            // string many ways, whether the count is bounded or not.
            if (repeats && iVariable != variableBefore && !first.first.empty())
                for (int p : first.last)
                    for (int q : first.first)
                        iSplits = iSplits || overlap(p, q);
            iVariable += min != max;
            iRepeating -= repeats;
            return whole;
        }
        case Token::T_PAREN:
            return part(token->getChild(0));
        default: // empty, and what XML Schema expressions do not have
            return Part();
        }
    }

    std::vector<RangeToken*> iSets;
    std::vector<std::vector<int>> iFollow;
    std::vector<char> iShared; // by (p, q, r): 0 not known, 1 no, 2 yes
    bool iEmptyLoop = false;
    bool iTooLarge = false;
    bool iNested = false;
    bool iSplits = false;
    unsigned long iVariable = 0; // repetitions of a varying count built so far
    int iRepeating = 0;          // repetitions around the part being built
};

// Exponential: in the automaton paired with itself, a pair (q, q) and a
// pair of two different states on one cycle: two ways round from q to q.
bool twoWaysRound(Automaton& automaton, std::size_t& steps) {
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
bool loopsInTurn(Automaton& automaton, std::size_t& steps) {
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
    try {
        RegularExpression expression(pattern, SchemaSymbols::fgRegEx_XOption);
        Automaton automaton;
        if (!automaton.build(TreeOf::tree(expression)))
            return automaton.nested() ? "it repeats repetitions, in more positions than the check examines"
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
    } catch (const XMLException&) {
        // not an expression: the schema's own check reports it
    }
    return std::string();
}

std::string riskyPattern(XMLGrammarPool& pool) {
    RefHashTableOfEnumerator<Grammar> grammars = pool.getGrammarEnumerator();
    while (grammars.hasMoreElements()) {
        Grammar& grammar = grammars.nextElement();
        if (grammar.getGrammarType() != Grammar::SchemaGrammarType)
            continue;
        DatatypeValidatorFactory* registry = static_cast<SchemaGrammar&>(grammar).getDatatypeRegistry();
        if (registry == nullptr || registry->getUserDefinedRegistry() == nullptr)
            continue;
        RefHashTableOfEnumerator<DatatypeValidator> types(registry->getUserDefinedRegistry());
        while (types.hasMoreElements()) {
            const XMLCh* pattern = PatternOf::pattern(types.nextElement());
            if (pattern == nullptr)
                continue;
            const std::string why = backtrackingRisk(pattern);
            if (!why.empty())
                return "the pattern '" + utf8(pattern) + "': " + why;
        }
    }
    return std::string();
}
