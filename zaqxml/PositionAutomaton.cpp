// SPDX-License-Identifier: Apache-2.0
// PositionAutomaton.cpp - the position automaton from the parser's token tree.
#include "PositionAutomaton.h"

#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/regx/RegularExpression.hpp>
#include <xercesc/validators/schema/SchemaSymbols.hpp>

#include <algorithm>
#include <climits>

using namespace xercesc;

namespace {

// The parsed expression is a protected member: read through a class derived
// for that alone.
struct TreeOf : RegularExpression {
    static Token* tree(const RegularExpression& expression) { return expression.*(&TreeOf::fTokenTree); }
};

std::unique_ptr<RangeToken> single(XMLInt32 c) {
    auto set = std::make_unique<RangeToken>(Token::T_RANGE);
    set->addRange(c, c);
    return set;
}

} // namespace

bool PositionAutomaton::build(const Token* token, std::size_t maxPositions, bool analyse) {
    iMaxPositions = maxPositions;
    iAnalyse = analyse;
    iFollow.assign(1, {});
    iSets.clear();
    iSets.push_back(nullptr);
    const Part whole = part(token);
    if (iTooLarge || iUnknown)
        return false;
    iFollow[0] = whole.first;
    iAccepting = whole.last;
    if (whole.nullable)
        iAccepting.push_back(0);
    return true;
}

bool PositionAutomaton::build(const char16_t* pattern, std::size_t maxPositions, bool analyse) {
    try {
        RegularExpression expression(pattern, SchemaSymbols::fgRegEx_XOption);
        return build(TreeOf::tree(expression), maxPositions, analyse);
    } catch (const XMLException&) {
        return false; // not an expression: the schema's own check reports it
    }
}

bool PositionAutomaton::overlap(int p, int q, int r) {
    const std::size_t n = iSets.size();
    if (iShared.size() != n * n * n)
        iShared.assign(n * n * n, 0);
    char& known = iShared[(static_cast<std::size_t>(p) * n + q) * n + r];
    if (known == 0) {
        RangeToken common(Token::T_RANGE);
        common.mergeRanges(iSets[static_cast<std::size_t>(p)].get());
        common.intersectRanges(iSets[static_cast<std::size_t>(q)].get());
        if (r > 0)
            common.intersectRanges(iSets[static_cast<std::size_t>(r)].get());
        known = common.empty() ? 1 : 2;
    }
    return known == 2;
}

int PositionAutomaton::position(std::unique_ptr<RangeToken> set) {
    iSets.push_back(std::move(set));
    iFollow.emplace_back();
    iTooLarge = iTooLarge || iSets.size() > iMaxPositions;
    return static_cast<int>(iSets.size() - 1);
}

PositionAutomaton::Part PositionAutomaton::leaf(std::unique_ptr<RangeToken> set) {
    const int p = position(std::move(set));
    return Part{false, {p}, {p}, 1, 1};
}

void PositionAutomaton::link(const std::vector<int>& from, const std::vector<int>& to) {
    for (int p : from)
        for (int q : to)
            iFollow[static_cast<std::size_t>(p)].push_back(q);
}

PositionAutomaton::Part PositionAutomaton::concat(Part a, const Part& b) {
    link(a.last, b.first);
    if (a.nullable)
        a.first.insert(a.first.end(), b.first.begin(), b.first.end());
    std::vector<int> last = b.last;
    if (b.nullable)
        last.insert(last.end(), a.last.begin(), a.last.end());
    return Part{a.nullable && b.nullable, a.first, last, a.shortest + b.shortest,
                a.longest < 0 || b.longest < 0 ? -1 : a.longest + b.longest};
}

// x{n,m} as n copies of x, then m - n optional ones (or one repeated, for no
// upper bound): each copy its own positions, as the matcher tries each.
PositionAutomaton::Part PositionAutomaton::repetition(const Token* token) {
    int min = std::max(token->getMin(), 0), max = token->getMax();
    if (iAnalyse) {
        // For the analysis a count past 2 is taken as 2 (and a range past it
        // as 2 more): whether copies can split a string, and whether two
        // loops meet, does not change with the count, and the automaton
        // stays small enough to examine.
        const int reduced = std::min(min, 2);
        max = max < 0 ? max : max == min ? reduced : std::min(max, reduced + 2);
        min = reduced;
    }
    iLoops = iLoops || max < 0;
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
        loop.shortest = 0;
        loop.longest = loop.longest == 0 ? 0 : -1;
        whole = concat(whole, loop);
    } else {
        for (int i = min; i < max && !iTooLarge; ++i) {
            Part optional = part(token->getChild(0));
            if (i == 0)
                first = optional;
            optional.nullable = true;
            optional.shortest = 0;
            whole = concat(whole, optional);
        }
    }
    // A body of varying length (it repeats a varying count, or has an
    // optional part or branches of different lengths), whose end can take
    // what its start takes: back to back, the copies split one string many
    // ways, whether the count is bounded or not.
    const bool varies = iVariable != variableBefore || first.shortest != first.longest;
    if (iAnalyse && repeats && varies && !first.first.empty())
        for (int p : first.last)
            for (int q : first.first)
                iSplits = iSplits || overlap(p, q);
    iVariable += min != max;
    iRepeating -= repeats;
    return whole;
}

PositionAutomaton::Part PositionAutomaton::part(const Token* token) {
    if (iTooLarge || iUnknown)
        return Part();
    switch (token->getTokenType()) {
    case Token::T_CHAR:
        return leaf(single(token->getChar()));
    case Token::T_DOT: { // any character but a line end: the parser's
        // matcher takes U+2028 and U+2029 for line ends too
        auto set = std::make_unique<RangeToken>(Token::T_RANGE);
        set->addRange(0, 9);
        set->addRange(11, 12);
        set->addRange(14, 0x2027);
        set->addRange(0x202A, 0x10FFFF);
        return leaf(std::move(set));
    }
    case Token::T_RANGE: {
        auto set = std::make_unique<RangeToken>(Token::T_RANGE);
        set->mergeRanges(token);
        return leaf(std::move(set));
    }
    case Token::T_NRANGE: { // everything but its ranges
        // Intersecting with it takes its ranges as they are stored: those,
        // taken from everything, are the class.
        RangeToken stored(Token::T_RANGE);
        stored.addRange(0, 0x10FFFF);
        stored.intersectRanges(static_cast<RangeToken*>(const_cast<Token*>(token)));
        auto set = std::make_unique<RangeToken>(Token::T_RANGE);
        set->addRange(0, 0x10FFFF);
        set->subtractRanges(&stored);
        return leaf(std::move(set));
    }
    case Token::T_STRING: {
        Part whole;
        // Characters past the BMP are in it as surrogate pairs.
        for (const XMLCh* c = token->getString(); c != nullptr && *c != 0; ++c) {
            XMLInt32 code = *c;
            if (code >= 0xD800 && code < 0xDC00 && c[1] >= 0xDC00 && c[1] < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (c[1] - 0xDC00);
                ++c;
            }
            whole = concat(whole, leaf(single(code)));
        }
        return whole;
    }
    case Token::T_CONCAT: {
        Part whole;
        for (XMLSize_t i = 0; i < token->size(); ++i)
            whole = concat(whole, part(token->getChild(i)));
        return whole;
    }
    case Token::T_UNION: {
        Part any{false, {}, {}, token->size() > 0 ? INT_MAX : 0, 0};
        for (XMLSize_t i = 0; i < token->size(); ++i) {
            const Part branch = part(token->getChild(i));
            any.nullable = any.nullable || branch.nullable;
            any.shortest = std::min(any.shortest, branch.shortest);
            any.longest = any.longest < 0 || branch.longest < 0 ? -1 : std::max(any.longest, branch.longest);
            any.first.insert(any.first.end(), branch.first.begin(), branch.first.end());
            any.last.insert(any.last.end(), branch.last.begin(), branch.last.end());
        }
        return any;
    }
    case Token::T_CLOSURE:
    case Token::T_NONGREEDYCLOSURE:
        return repetition(token);
    case Token::T_PAREN:
        return part(token->getChild(0));
    case Token::T_EMPTY:
        return Part();
    default: // what XML Schema expressions do not have
        iUnknown = true;
        return Part();
    }
}
