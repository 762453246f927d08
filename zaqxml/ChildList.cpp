// SPDX-License-Identifier: Apache-2.0
// ChildList.cpp - keeps the validating parser's list of an element's children
// as short as its content check allows.
#include "ChildList.h"

#include "ParserSetup.h"

#include <xercesc/internal/ElemStack.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/validators/DTD/DTDElementDecl.hpp>
#include <xercesc/validators/common/AllContentModel.hpp>
#include <xercesc/validators/common/MixedContentModel.hpp>
#include <xercesc/validators/schema/ComplexTypeInfo.hpp>
#include <xercesc/validators/schema/SchemaElementDecl.hpp>
#include <xercesc/validators/schema/SchemaValidator.hpp>
#include <xercesc/validators/schema/SubstitutionGroupComparator.hpp>

#include <algorithm>
#include <cstring>
#include <typeinfo>

using namespace xercesc;

namespace {

// The parser keeps its list of children, and the content models their
// tables, to themselves. An explicit instantiation may name a private
// member (access is not checked there): the pointer to it comes out through
// a friend function.
template <typename Tag, typename Tag::type Member> struct Expose {
    friend typename Tag::type member(Tag) { return Member; }
};
struct ElemStackOf {
    using type = ElemStack XMLScanner::*;
    friend type member(ElemStackOf);
};
template struct Expose<ElemStackOf, &XMLScanner::fElemStack>;
struct RowsOf {
    using type = ElemStack::StackElem** ElemStack::*;
    friend type member(RowsOf);
};
template struct Expose<RowsOf, &ElemStack::fStack>;
struct TopOf {
    using type = XMLSize_t ElemStack::*;
    friend type member(TopOf);
};
template struct Expose<TopOf, &ElemStack::fStackTop>;
struct AllCountOf {
    using type = XMLSize_t AllContentModel::*;
    friend type member(AllCountOf);
};
template struct Expose<AllCountOf, &AllContentModel::fCount>;
struct OrderedOf {
    using type = bool MixedContentModel::*;
    friend type member(OrderedOf);
};
template struct Expose<OrderedOf, &MixedContentModel::fOrdered>;

// The models' classes are not exported from every build of the parser, so
// they are told apart by the name their objects carry rather than by a cast.
bool isA(const XMLContentModel& model, const char* className) {
    return std::strstr(typeid(model).name(), className) != nullptr;
}

constexpr std::uint64_t DEAD = ~std::uint64_t(0);
constexpr std::size_t SEARCHED_IN_ORDER = 32; // states; a table past that
// Most elements have a few children, which the parser's first array (of 32)
// holds: an element's model is followed only once it has this many, from
// its first child.
constexpr std::size_t FOLLOWED_FROM = 32;

ElemStack::StackElem* rowOf(void* row) { return static_cast<ElemStack::StackElem*>(row); }

} // namespace

ChildList::ChildList(ToolReader& reader) : iReader(reader) {}

ChildList::~ChildList() { delete iComparator; }

void ChildList::startElement(const XMLElementDecl& element, bool isEmpty) {
    if (iStack == nullptr)
        iStack = &(iReader.scanner().*member(ElemStackOf()));
    if (iDepth > 0) {
        Open& parent = iOpen[iDepth - 1];
        const std::size_t length = rowOf(parent.row)->fChildCount;
        if (length > parent.kept) {
            if (parent.kind != Kind::Unresolved)
                child(parent);
            else if (length != parent.kept + 1)
                parent.kind = Kind::Untracked; // a child went by unseen: left to the parser
            else if (length < FOLLOWED_FROM)
                parent.kept = length;
            else
                catchUp(parent);
        }
    }
    const XMLSize_t top = iStack->*member(TopOf());
    if (isEmpty || top == 0)
        return;
    if (iOpen.size() == iDepth)
        iOpen.emplace_back();
    // The rest is set when the children are followed.
    Open& open = iOpen[iDepth++];
    open.row = (iStack->*member(RowsOf()))[top - 1];
    open.element = &element;
    open.type = nullptr;
    if (element.getObjectType() == XMLElementDecl::Schema) {
        if (iValidator == nullptr)
            iValidator = iReader.schemaValidator();
        if (iValidator != nullptr)
            open.type = iValidator->getCurrentTypeInfo();
    }
    open.kind = Kind::Unresolved;
    open.kept = 0;
}

void ChildList::endElement() {
    if (iDepth > 0)
        --iDepth;
}

void ChildList::resolve(Open& open) {
    open.kind = Kind::Untracked;
    XMLContentModel* model = nullptr;
    if (open.dtd) {
        auto& element = const_cast<DTDElementDecl&>(static_cast<const DTDElementDecl&>(*open.element));
        switch (element.getModelType()) {
        case DTDElementDecl::Empty:
        case DTDElementDecl::Any:
            // Judged by whether there are children at all, or not at all.
            open.kind = Kind::Bounded;
            open.bound = 1;
            return;
        case DTDElementDecl::Mixed_Simple:
        case DTDElementDecl::Children:
            model = element.getContentModel();
            break;
        default:
            return;
        }
    } else {
        auto& element = const_cast<SchemaElementDecl&>(static_cast<const SchemaElementDecl&>(*open.element));
        const int modelType = open.type != nullptr ? open.type->getContentType() : element.getModelType();
        switch (modelType) {
        case SchemaElementDecl::Empty:
        case SchemaElementDecl::ElementOnlyEmpty:
        case SchemaElementDecl::Simple:
        case SchemaElementDecl::Any:
            open.kind = Kind::Bounded;
            open.bound = 1;
            return;
        case SchemaElementDecl::Mixed_Simple:
        case SchemaElementDecl::Mixed_Complex:
        case SchemaElementDecl::Children:
            model = open.type != nullptr ? open.type->getContentModel() : element.getContentModel();
            break;
        default:
            return;
        }
    }
    if (model == nullptr)
        return;
    open.model = model;
    bool known = false;
    for (const Known& met : iKnown) {
        if (met.model == model) {
            open.kind = met.kind;
            open.bound = met.bound;
            known = true;
            break;
        }
    }
    if (!known) {
        classify(open);
        if (iKnown.size() == KNOWN_MODELS)
            iKnown.erase(iKnown.begin());
        iKnown.push_back(Known{model, open.kind, open.bound});
    }
    if (open.kind == Kind::EachChild)
        open.floor = open.bound;
}

void ChildList::classify(Open& open) {
    XMLContentModel* model = open.model;
    if (isA(*model, "DFAContentModel")) {
        open.kind = Kind::Automaton;
    } else if (isA(*model, "SimpleContentModel")) {
        // One element repeated, judged child by child; or a leaf, an
        // optional one, a choice or a sequence of two, which the check
        // fails by the third child: the first three stay as they are.
        // (Its header is not read: some builds of the parser do not export
        // the class its inline members need.)
        open.kind = Kind::EachChild;
        open.bound = 3;
    } else if (isA(*model, "MixedContentModel")) {
        if (!(static_cast<MixedContentModel*>(model)->*member(OrderedOf()))) {
            open.kind = Kind::EachChild;
            open.bound = 1;
        }
    } else if (isA(*model, "AllContentModel")) {
        // Each particle at most once: it fails by one past their count.
        open.kind = Kind::Bounded;
        open.bound = static_cast<AllContentModel*>(model)->*member(AllCountOf()) + 1;
    }
}

void ChildList::catchUp(Open& open) {
    // The children so far, each taken as if it had just come: what a cut
    // drops is closed up behind the ones still to come.
    ElemStack::StackElem* row = rowOf(open.row);
    const std::size_t length = row->fChildCount;
    open.kept = 0;
    open.model = nullptr;
    open.floor = 1;
    open.bound = 0;
    open.dtd = open.element->getObjectType() != XMLElementDecl::Schema;
    open.plain = Run();
    open.special = Run();
    open.special.dead = open.dtd; // a DTD's check makes one pass
    open.lastChild = nullptr;
    open.path.clear();
    if (!open.index.empty())
        open.index.clear();
    resolve(open);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < length; ++i) {
        row->fChildren[kept] = row->fChildren[i];
        row->fChildCount = kept + 1;
        child(open);
        kept = row->fChildCount;
    }
}

void ChildList::child(Open& open) {
    ElemStack::StackElem* row = rowOf(open.row);
    const std::size_t length = row->fChildCount;
    if (length != open.kept + 1)
        open.kind = Kind::Untracked; // a child went by unseen: left to the parser
    switch (open.kind) {
    case Kind::Untracked:
        open.kept = length;
        return;
    case Kind::Bounded:
        cut(open, std::min(length, open.bound));
        return;
    default:
        break;
    }
    if (open.plain.dead && open.special.dead) {
        // Decided: the check fails where it failed.
        cut(open, open.floor);
        return;
    }
    const QName* child = row->fChildren[length - 1];
    const bool plainWasDead = open.plain.dead, specialWasDead = open.special.dead;
    if (open.kind == Kind::EachChild) {
        judgeEach(open, child);
    } else {
        // The second pass differs from the first only on a child that may
        // stand for another (a member of a substitution group).
        const bool substitutes = !open.dtd && substitutable(child);
        const Run plainBefore = open.plain;
        if (!open.plain.dead)
            step(open, open.plain, child, nullptr);
        if (!open.special.dead) {
            if (!substitutes && !plainBefore.dead && open.special.state == plainBefore.state &&
                open.special.loop == plainBefore.loop)
                open.special = open.plain;
            else
                step(open, open.special, child, substitutes ? &comparator() : nullptr);
        }
    }
    if (open.plain.dead != plainWasDead || open.special.dead != specialWasDead) {
        // The check fails on this child, in the pass that died: it stays,
        // with every child before it.
        open.floor = std::max(open.floor, length);
        open.path.clear();
        open.index.clear();
        open.kept = length;
        if (!(open.plain.dead && open.special.dead) && length == open.floor)
            open.path.push_back(keyOf(open));
        return;
    }
    if (length < open.floor) {
        open.kept = length;
        return;
    }
    const Key key = keyOf(open);
    const std::size_t reached = find(open, key);
    if (reached != 0) {
        // Back in a state met after `reached` children: what came since
        // leaves the check where it was.
        while (open.floor + open.path.size() - 1 > reached) {
            if (!open.index.empty())
                open.index.erase(open.path.back());
            open.path.pop_back();
        }
        cut(open, reached);
        return;
    }
    open.kept = length;
    open.path.push_back(key);
    if (open.path.size() > SEARCHED_IN_ORDER) {
        if (open.index.empty()) {
            for (std::size_t i = 0; i < open.path.size(); ++i)
                open.index.emplace(open.path[i], open.floor + i);
        } else {
            open.index.emplace(key, length);
        }
    }
}

std::size_t ChildList::find(const Open& open, const Key& key) const {
    if (!open.index.empty()) {
        auto found = open.index.find(key);
        return found != open.index.end() ? found->second : 0;
    }
    for (std::size_t i = 0; i < open.path.size(); ++i)
        if (open.path[i] == key)
            return open.floor + i;
    return 0;
}

void ChildList::cut(Open& open, std::size_t length) {
    ElemStack::StackElem* row = rowOf(open.row);
    if (row->fChildCount > length)
        row->fChildCount = length;
    open.kept = row->fChildCount;
}

ChildList::Key ChildList::keyOf(const Open& open) const {
    auto of = [](const Run& run) { return run.dead ? DEAD : (std::uint64_t(run.state) << 32 | run.loop); };
    return Key{of(open.plain), of(open.special)};
}
