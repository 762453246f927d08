// SPDX-License-Identifier: Apache-2.0
// ContentModelStep.cpp - for ChildList, one child through a content model as
// the parser's check takes it: a position automaton's transition, a model
// asked of one child, and what a substitution group changes.
#include "ChildList.h"

#include "ParserSetup.h"

#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/validators/common/DFAContentModel.hpp>
#include <xercesc/validators/common/GrammarResolver.hpp>
#include <xercesc/validators/schema/SchemaElementDecl.hpp>
#include <xercesc/validators/schema/SubstitutionGroupComparator.hpp>

using namespace xercesc;

namespace {

// The automaton's tables are private to it. An explicit instantiation may
// name a private member (access is not checked there): the pointer to it
// comes out through a friend function.
template <typename Tag, typename Tag::type Member> struct Expose {
    friend typename Tag::type member(Tag) { return Member; }
};
struct ElemMapOf {
    using type = QName** DFAContentModel::*;
    friend type member(ElemMapOf);
};
template struct Expose<ElemMapOf, &DFAContentModel::fElemMap>;
struct ElemMapTypeOf {
    using type = ContentSpecNode::NodeTypes* DFAContentModel::*;
    friend type member(ElemMapTypeOf);
};
template struct Expose<ElemMapTypeOf, &DFAContentModel::fElemMapType>;
struct ElemMapSizeOf {
    using type = unsigned int DFAContentModel::*;
    friend type member(ElemMapSizeOf);
};
template struct Expose<ElemMapSizeOf, &DFAContentModel::fElemMapSize>;
struct TransitionsOf {
    using type = unsigned int** DFAContentModel::*;
    friend type member(TransitionsOf);
};
template struct Expose<TransitionsOf, &DFAContentModel::fTransTable>;
// Its counted repetitions are of a private class: the type is deduced.
struct CountingOf {
    friend auto member(CountingOf);
};
template <typename Tag, auto Member> struct ExposeDeduced {
    friend auto member(Tag) { return Member; }
};
template struct ExposeDeduced<CountingOf, &DFAContentModel::fCountingStates>;

} // namespace

SubstitutionGroupComparator& ChildList::comparator() {
    if (iComparator == nullptr) {
        GrammarResolver* resolver = &iReader.grammarResolver();
        iComparator = new SubstitutionGroupComparator(resolver, resolver->getStringPool());
    }
    return *iComparator;
}

// As the comparator finds it: whether the child's global declaration
// belongs to a substitution group. Kept once its grammar is known.
bool ChildList::substitutable(const QName* child) {
    for (const auto& recent : iRecent)
        if (recent.first == child)
            return recent.second;
    const auto known = iSubstitutable.find(child);
    if (known != iSubstitutable.end()) {
        iRecent[iNextRecent++ % iRecent.size()] = *known;
        return known->second;
    }
    const unsigned int uriId = child->getURI();
    if (uriId == XMLContentModel::gEOCFakeId || uriId == XMLContentModel::gEpsilonFakeId ||
        uriId == XMLElementDecl::fgPCDataElemId || uriId == XMLElementDecl::fgInvalidElemId)
        return false;
    GrammarResolver* resolver = &iReader.grammarResolver();
    const XMLCh* uri = resolver->getStringPool()->getValueForId(uriId);
    Grammar* grammar = uri != nullptr ? resolver->getGrammar(uri) : nullptr;
    if (grammar == nullptr || grammar->getGrammarType() != Grammar::SchemaGrammarType)
        return false;
    const auto* declared = static_cast<const SchemaElementDecl*>(
        grammar->getElemDecl(uriId, child->getLocalPart(), nullptr, Grammar::TOP_LEVEL_SCOPE));
    const bool result = declared != nullptr && declared->getSubstitutionGroupElem() != nullptr;
    iSubstitutable.emplace(child, result);
    return result;
}

// A model that judges each child alone (a repetition of one element, mixed
// content): asked of the model itself, one child at a time.
void ChildList::judgeEach(Open& open, const QName* child) {
    if (child != open.lastChild) {
        open.lastChild = child;
        XMLSize_t failing = 0;
        const unsigned int empty = iReader.scanner().getEmptyNamespaceId();
        QName* one[1] = {const_cast<QName*>(child)};
        MemoryManager* manager = iReader.scanner().getMemoryManager();
        open.lastPlain = open.model->validateContent(one, 1, empty, &failing, manager);
        open.lastSpecial = false;
        if (!open.dtd && !substitutable(child)) {
            open.lastSpecial = open.lastPlain;
        } else if (!open.dtd) {
            GrammarResolver* resolver = &iReader.grammarResolver();
            open.lastSpecial = open.model->validateContentSpecial(one, 1, empty, resolver, resolver->getStringPool(),
                                                                  &failing, manager);
        }
    }
    open.plain.dead = open.plain.dead || !open.lastPlain;
    open.special.dead = open.special.dead || !open.lastSpecial;
}

// One child through a position automaton, as the parser's check takes it:
// the first of the model's names (or wildcards) the child matches that has
// a transition from the current state, then the count of a repetition.
void ChildList::step(Open& open, Run& run, const QName* child, SubstitutionGroupComparator* comparator) {
    auto* model = static_cast<DFAContentModel*>(open.model);
    QName** names = model->*member(ElemMapOf());
    ContentSpecNode::NodeTypes* types = model->*member(ElemMapTypeOf());
    const unsigned int count = model->*member(ElemMapSizeOf());
    unsigned int** transitions = model->*member(TransitionsOf());
    unsigned int next = XMLContentModel::gInvalidTrans;
    unsigned int index = 0;
    for (; index < count; ++index) {
        const QName* name = names[index];
        const ContentSpecNode::NodeTypes type = types[index];
        bool matches;
        if (comparator == nullptr && open.dtd) {
            matches = XMLString::equals(name->getRawName(), child->getRawName());
        } else if (type == ContentSpecNode::Leaf) {
            matches = comparator != nullptr ? comparator->isEquivalentTo(child, name)
                                            : name->getURI() == child->getURI() &&
                                                  XMLString::equals(name->getLocalPart(), child->getLocalPart());
        } else if ((type & 0x0f) == ContentSpecNode::Any) {
            matches = true;
        } else if ((type & 0x0f) == ContentSpecNode::Any_NS) {
            matches = name->getURI() == child->getURI();
        } else if ((type & 0x0f) == ContentSpecNode::Any_Other) {
            // The empty namespace has id 1, as the parser assumes.
            matches = child->getURI() != 1 && child->getURI() != name->getURI();
        } else {
            matches = false;
        }
        if (matches) {
            next = transitions[run.state][index];
            if (next != XMLContentModel::gInvalidTrans)
                break;
        }
    }
    if (index == count) {
        run.dead = true;
        return;
    }
    unsigned int nextLoop = 0;
    if (!model->handleRepetitions(child, run.state, run.loop, next, nextLoop, index, comparator)) {
        run.dead = true;
        return;
    }
    // The count matters only in a counting state, and there, with no
    // upper bound, only as far as the lower one: kept so, a run that loops
    // on such a state comes back to the same state.
    auto counting = model->*member(CountingOf());
    if (counting == nullptr || counting[next] == nullptr) {
        nextLoop = counting == nullptr ? nextLoop : 0;
    } else if (counting[next]->maxOccurs == -1 && nextLoop > unsigned(counting[next]->minOccurs)) {
        nextLoop = unsigned(counting[next]->minOccurs);
    }
    run.state = next;
    run.loop = nextLoop;
}
