// SPDX-License-Identifier: Apache-2.0
// ElementChecks.cpp - start-tag checks and declared-type normalisation.
#include "ElementChecks.h"

#include <xercesc/util/XMLString.hpp>
#include <xercesc/validators/DTD/DTDElementDecl.hpp>

#include <string_view>
#include <unordered_map>
#include <utility>

namespace {

const xercesc::XMLAttDef* definitionOf(const xercesc::XMLElementDecl& element, const xercesc::XMLAttr& attribute) {
    const auto* declared = dynamic_cast<const xercesc::DTDElementDecl*>(&element);
    return declared ? declared->getAttDef(attribute.getQName()) : nullptr;
}

std::string qualified(const xercesc::XMLAttr& attribute) {
    const XMLCh* prefix = attribute.getPrefix();
    return (prefix != nullptr && *prefix != 0 ? utf8(prefix) + ":" : std::string()) + utf8(attribute.getName());
}

// The parser checks the attributes written in a tag for two of one
// namespace and local name, but not those the DTD's defaults add: a default
// a:x beside a written p:x, both prefixes bound to one namespace, gives the
// element the same attribute twice, which no namespace-aware reader takes.
// Only prefixed names can meet so (two unprefixed ones of one local name are
// one name, and the parser adds no default for a name written): this is
// called for a tag with a prefixed default, and looks at prefixed names.
void checkDefaultsApart(const Diagnostics& diagnostics, const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                        XMLSize_t count) {
    auto clash = [&](const xercesc::XMLAttr& a, const xercesc::XMLAttr& b) {
        throw diagnostics.failureHere("the attribute '" + qualified(a) + "' and the DTD's default '" + qualified(b) +
                                      "' name one attribute (one namespace, one local name): with the defaults "
                                      "applied the element has it twice");
    };
    auto prefixed = [](const xercesc::XMLAttr& a) { return a.getPrefix() != nullptr && *a.getPrefix() != 0; };
    auto same = [](const xercesc::XMLAttr& a, const xercesc::XMLAttr& b) {
        return a.getURIId() == b.getURIId() && xercesc::XMLString::equals(a.getName(), b.getName());
    };
    // A tag of a few attributes (nearly all) is checked pair by pair: each
    // default against the others.
    if (count <= 32) {
        for (XMLSize_t i = 0; i < count; ++i) {
            const xercesc::XMLAttr& d = *attributes.elementAt(i);
            if (d.getSpecified() || !prefixed(d))
                continue;
            for (XMLSize_t j = 0; j < count; ++j)
                if (j != i && same(d, *attributes.elementAt(j))) {
                    const xercesc::XMLAttr& other = *attributes.elementAt(j);
                    if (other.getSpecified() || j < i)
                        clash(other, d);
                }
        }
        return;
    }
    using Key = std::pair<unsigned int, std::u16string_view>;
    struct KeyHash {
        std::size_t operator()(const Key& k) const { return std::hash<std::u16string_view>()(k.second) * 31 + k.first; }
    };
    std::unordered_map<Key, const xercesc::XMLAttr*, KeyHash> seen;
    seen.reserve(count);
    for (XMLSize_t i = 0; i < count; ++i) {
        const xercesc::XMLAttr* attribute = attributes.elementAt(i);
        if (!prefixed(*attribute))
            continue;
        const Key key(attribute->getURIId(), reinterpret_cast<const char16_t*>(attribute->getName()));
        const auto inserted = seen.emplace(key, attribute);
        if (!inserted.second) {
            const xercesc::XMLAttr* first = inserted.first->second;
            if (first->getSpecified())
                clash(*first, *attribute);
            clash(*attribute, *first);
        }
    }
}

} // namespace

void checkStartTag(const Limits& limits, NameCounts& names, const Diagnostics& diagnostics, unsigned long depth,
                   const xercesc::XMLElementDecl& element, const XMLCh* prefix,
                   const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes, XMLSize_t attributeCount) {
    if (depth > limits.settings().maxDepth)
        throw diagnostics.failureHere("elements nest deeper than " + std::to_string(limits.settings().maxDepth) +
                                      " levels; --max-depth raises the limit");
    // The input is counted before the parser; a tag from an entity's text,
    // or one that DTD defaults fill, is counted here.
    if (attributeCount > limits.settings().maxAttributes)
        throw diagnostics.failureHere("a start tag with more than " + std::to_string(limits.settings().maxAttributes) +
                                      " attributes; --max-attributes raises the limit");
    if (!names.element(&element, reinterpret_cast<const char16_t*>(element.getFullName())))
        throw diagnostics.failureHere("more than " + std::to_string(names.maxNames()) +
                                      " distinct element names; --max-names raises the limit");
    // One pass over the attributes: the prefixes declared, and whether the
    // DTD's defaults added a prefixed one.
    bool defaults = false;
    for (XMLSize_t i = 0; i < attributeCount; ++i) {
        const xercesc::XMLAttr& attribute = *attributes.elementAt(i);
        const XMLCh* declares = attribute.getPrefix();
        defaults = defaults || (!attribute.getSpecified() && declares != nullptr && *declares != 0);
        if (declares == nullptr || declares[0] != u'x' || !isXmlns(declares))
            continue;
        const XMLCh* declared = attribute.getName();
        if (!names.prefix(reinterpret_cast<const char16_t*>(declared), xercesc::XMLString::stringLen(declared)))
            throw diagnostics.failureHere("more than " + std::to_string(names.maxPrefixes()) +
                                          " distinct prefixes declared; --max-prefixes raises the limit");
    }
    const XMLCh* local = element.getElementName()->getLocalPart();
    const std::size_t elementPrefix = prefix != nullptr ? xercesc::XMLString::stringLen(prefix) : 0;
    if (elementPrefix == 5 && isXmlns(prefix))
        throw diagnostics.failureHere("the element name 'xmlns:" + utf8(local) + "' uses the reserved prefix 'xmlns'");
    // The well-formedness scanner checks a start tag of more than 100
    // attributes for duplicates with a table that the last one never
    // reaches: that one is checked here.
    if (attributeCount > 100) {
        const xercesc::XMLAttr* last = attributes.elementAt(attributeCount - 1);
        for (XMLSize_t i = 0; i + 1 < attributeCount; ++i) {
            const xercesc::XMLAttr* other = attributes.elementAt(i);
            if (other->getURIId() == last->getURIId() && xercesc::XMLString::equals(other->getName(), last->getName()))
                throw diagnostics.failureHere(
                    "attribute '" + utf8(last->getName()) + "' is already specified for element '" +
                    (elementPrefix > 0 ? utf8(prefix) + ":" : std::string()) + utf8(local) + "'");
        }
    }
    if (defaults)
        checkDefaultsApart(diagnostics, attributes, attributeCount);
}

DeclaredType declaredType(const DeclaredTypes& types, const xercesc::XMLElementDecl& element,
                          const xercesc::XMLAttr& attribute) {
    const auto found = types.find(definitionOf(element, attribute));
    if (found == types.end())
        return DeclaredType::CData;
    return found->second == xercesc::XMLAttDef::ID ? DeclaredType::Id : DeclaredType::Tokens;
}

void normaliseTokens(std::u16string_view value, std::u16string& out) {
    out.clear();
    for (char16_t c : value) {
        if (c != u' ')
            out.push_back(c);
        else if (!out.empty() && out.back() != u' ')
            out.push_back(u' ');
    }
    if (!out.empty() && out.back() == u' ')
        out.pop_back();
}
