// SPDX-License-Identifier: Apache-2.0
// ChildList.h - keeps the validating parser's list of an element's children
// as short as its content check allows.
#ifndef ZAQXML_CHILDLIST_H
#define ZAQXML_CHILDLIST_H

#include <xercesc/util/XercesDefs.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

XERCES_CPP_NAMESPACE_BEGIN
class XMLElementDecl;
class XMLContentModel;
class ComplexTypeInfo;
class QName;
class SubstitutionGroupComparator;
class SchemaValidator;
class ElemStack;
XERCES_CPP_NAMESPACE_END

class ToolReader;

/// The validating parser keeps the name of every child of an open element
/// until its end tag, where it runs the element's content model over them
/// (8 bytes a child: a million orders in one envelope kept 16 MiB). This
/// follows each content model as the children arrive, as the parser's check
/// will, and shortens the parser's list to one its check decides the same
/// way, naming the same failing child: a stretch of children that brings the
/// model back to a state it was in is cut out, children past the first the
/// check fails on are dropped, and a model that can only take a few
/// children (a leaf, `xs:all`, empty or simple content) keeps the first few.
/// The list then holds at most as many children as the model has states.
/// A model it does not know is left to the parser as it is.
class ChildList {
public:
    explicit ChildList(ToolReader& reader);
    ~ChildList();
    ChildList(const ChildList&) = delete;
    ChildList& operator=(const ChildList&) = delete;

    /// At each start tag, after the parser has added the element to its
    /// parent's list (when it validates the parent's content).
    void startElement(const xercesc::XMLElementDecl& element, bool isEmpty);
    void endElement();

private:
    // One pass of a content model over the children: the parser runs it
    // plainly and, when that fails, again with substitution groups.
    struct Key {
        std::uint64_t plain, special;
        bool operator==(const Key& other) const { return plain == other.plain && special == other.special; }
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const { return key.plain * 0x9E3779B97F4A7C15ull ^ key.special; }
    };
    struct Run {
        unsigned int state = 0;
        unsigned int loop = 0;
        bool dead = false;
    };
    // Unresolved: not followed yet (too few children to matter).
    enum class Kind : unsigned char { Unresolved, Untracked, Bounded, Automaton, EachChild };
    struct Open {
        void* row = nullptr; // the parser's entry for the element
        const xercesc::XMLElementDecl* element = nullptr;
        xercesc::ComplexTypeInfo* type = nullptr; // the schema type in force, xsi:type included
        Kind kind = Kind::Unresolved;
        xercesc::XMLContentModel* model = nullptr;
        std::size_t kept = 0;                      // children in the parser's list as last left
        std::size_t floor = 1;                     // the list is never cut below this
        std::size_t bound = 0;                     // Bounded: children past this change nothing
        bool dtd = false;                          // names compared as written
        Run plain, special;                        // special unused for a DTD: dead from the start
        const xercesc::QName* lastChild = nullptr; // EachChild: the last one judged, and how
        bool lastPlain = false, lastSpecial = false;
        // The states met since the floor, without repeats: path[i] after
        // floor + i children. Searched in order while short, by a table
        // once long (a model of many states).
        std::vector<Key> path;
        std::unordered_map<Key, std::size_t, KeyHash> index;
    };

    void resolve(Open& open);
    void classify(Open& open);
    void catchUp(Open& open);
    void child(Open& open);
    void step(Open& open, Run& run, const xercesc::QName* child, xercesc::SubstitutionGroupComparator* comparator);
    void judgeEach(Open& open, const xercesc::QName* child);
    void cut(Open& open, std::size_t length);
    std::size_t find(const Open& open, const Key& key) const;
    Key keyOf(const Open& open) const;
    bool substitutable(const xercesc::QName* child);
    xercesc::SubstitutionGroupComparator& comparator();

    ToolReader& iReader;
    xercesc::ElemStack* iStack = nullptr; // the parser's
    std::vector<Open> iOpen;              // kept as elements close, for the next ones
    std::size_t iDepth = 0;               // of iOpen in use
    xercesc::SubstitutionGroupComparator* iComparator = nullptr;
    xercesc::SchemaValidator* iValidator = nullptr; // the reader's, once it has one
    // The models met last, as classified: an element's model is looked up
    // at its first child.
    struct Known {
        const xercesc::XMLContentModel* model;
        Kind kind;
        std::size_t bound;
    };
    static constexpr std::size_t KNOWN_MODELS = 8;
    std::vector<Known> iKnown;
    std::unordered_map<const xercesc::QName*, bool> iSubstitutable;
    std::array<std::pair<const xercesc::QName*, bool>, 4> iRecent{}; // the last names looked up
    unsigned int iNextRecent = 0;
};

#endif
