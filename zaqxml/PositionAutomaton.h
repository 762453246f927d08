// SPDX-License-Identifier: Apache-2.0
// PositionAutomaton.h - the position automaton of an XML Schema regular
// expression, built from the parser's own reading of it.
#ifndef ZAQXML_POSITION_AUTOMATON_H
#define ZAQXML_POSITION_AUTOMATON_H

#include <xercesc/util/regx/RangeToken.hpp>
#include <xercesc/util/regx/Token.hpp>

#include <cstddef>
#include <memory>
#include <vector>

/// The position automaton (Glushkov) of an expression: a state per character
/// class written, 0 the start; a transition p -> q reads a character of q's
/// class. Bounded repetitions are written out, each copy its own positions
/// (as the parser's matcher tries each). Built from the token tree Xerces-C
/// parses the expression into, so that both read the same expression; the
/// automaton owns copies of the classes.
class PositionAutomaton {
public:
    /// Builds it for `token`; false when it would have more than
    /// `maxPositions` positions or holds what XML Schema expressions do not
    /// (anchors, back references), and is then not to be used.
    /// With `analyse` (for the backtracking check), counted repetitions are
    /// cut down to a few copies; without, what makes backtracking costly
    /// (splits(), and overlap()'s table, cubic in the positions) is not
    /// looked for.
    bool build(const xercesc::Token* token, std::size_t maxPositions, bool analyse = true);
    /// Builds it for the XML Schema expression `pattern`, as the parser
    /// reads it; false also when it is not one.
    bool build(const char16_t* pattern, std::size_t maxPositions, bool analyse = true);

    /// Positions, the start included.
    std::size_t size() const { return iSets.size(); }
    const std::vector<int>& follow(int p) const { return iFollow[static_cast<std::size_t>(p)]; }
    /// The characters position p (> 0) reads.
    xercesc::RangeToken& set(int p) const { return *iSets[static_cast<std::size_t>(p)]; }
    /// The positions a match may end at; the start among them when the
    /// expression matches the empty string.
    const std::vector<int>& accepting() const { return iAccepting; }

    /// Whether a repetition's body matches the empty string.
    bool emptyLoop() const { return iEmptyLoop; }
    /// Whether a repetition holds another (what makes a pattern too large
    /// to examine a risk by itself).
    bool nested() const { return iNested; }
    /// Whether copies of a repeated body split one string many ways.
    bool splits() const { return iSplits; }
    /// Whether it repeats a part without bound.
    bool loops() const { return iLoops; }
    /// Whether building stopped at the size given.
    bool tooLarge() const { return iTooLarge; }
    /// Whether the classes of p and q (and r, if given) share a character;
    /// each answer is kept.
    bool overlap(int p, int q, int r = 0);

private:
    struct Part {
        bool nullable = true;
        std::vector<int> first, last;
        int shortest = 0, longest = 0; // in characters; longest -1: no bound
    };
    int position(std::unique_ptr<xercesc::RangeToken> set);
    Part leaf(std::unique_ptr<xercesc::RangeToken> set);
    void link(const std::vector<int>& from, const std::vector<int>& to);
    Part concat(Part a, const Part& b);
    Part repetition(const xercesc::Token* token);
    Part part(const xercesc::Token* token);

    std::vector<std::unique_ptr<xercesc::RangeToken>> iSets;
    std::vector<std::vector<int>> iFollow;
    std::vector<int> iAccepting;
    std::vector<char> iShared; // by (p, q, r): 0 not known, 1 no, 2 yes
    std::size_t iMaxPositions = 0;
    bool iAnalyse = true;
    bool iLoops = false;
    bool iEmptyLoop = false;
    bool iTooLarge = false;
    bool iUnknown = false; // a token XML Schema expressions do not have
    bool iNested = false;
    bool iSplits = false;
    unsigned long iVariable = 0; // repetitions of a varying count built so far
    int iRepeating = 0;          // repetitions around the part being built
};

#endif
