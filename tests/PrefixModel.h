// SPDX-License-Identifier: Apache-2.0
// PrefixModel.h - a reference model of the prefix manager's answers, and a
// driver that runs a byte-coded call sequence on the manager and the model.
#ifndef ZAQ_TESTS_PREFIX_MODEL_H
#define ZAQ_TESTS_PREFIX_MODEL_H

#include "PrefixManagerAccess.h"
#include "XMLPrefixManager.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

/// What the manager answers, kept the plain way: every binding alive, in the
/// order made; a prefix's binding in force is its newest alive binding.
class PrefixModel {
public:
    static constexpr const char* XML = "http://www.w3.org/XML/1998/namespace";
    static constexpr const char* XMLNS = "http://www.w3.org/2000/xmlns/";

    explicit PrefixModel(bool useEmptyPrefixForDefault) : iSwitch(useEmptyPrefixForDefault) { reset(); }

    void reset() {
        iBindings.clear();
        iPreferred.clear();
        iPreferred[XML] = "xml";
        iPreferred[XMLNS] = "xmlns";
        iLevel = -1;
        iCounter = 0;
    }

    void addNamespace(const std::string& uri, const std::string& prefix) { iPreferred[uri] = prefix; }
    void addNamespaceAndPrefix(const std::string& uri, const std::string& prefix) {
        iBindings.push_back(Binding{prefix, uri, iLevel});
    }

    void addLevel() {
        ++iLevel;
        if (iLevel <= 0) {
            lookup(XML, true);
            lookup(XMLNS, true);
        }
    }

    void removeLevel() {
        // Bindings of a non-negative level are withdrawn with it; those made
        // with no level open stay.
        if (iLevel >= 0) {
            std::vector<Binding> kept;
            for (const Binding& b : iBindings)
                if (b.level != iLevel)
                    kept.push_back(b);
            iBindings.swap(kept);
        }
        --iLevel;
    }

    bool isDefaultSpace() const {
        const Binding* top = topOf("");
        return top != nullptr && !top->uri.empty();
    }

    /// The URI the prefix's binding in force names; false when there is none.
    bool uriOf(const std::string& prefix, std::string& uri) const {
        const Binding* top = topOf(prefix);
        if (top != nullptr)
            uri = top->uri;
        return top != nullptr;
    }

    std::pair<std::string, bool> lookup(const std::string& uri, bool allowDefault) {
        if (allowDefault && iSwitch) {
            const Binding* top = topOf("");
            if (top != nullptr && top->uri == uri)
                return {"", true};
        }
        for (auto b = iBindings.rbegin(); b != iBindings.rend(); ++b) {
            if (b->uri != uri)
                continue;
            if (b->prefix.empty() && !(allowDefault && !iSwitch))
                continue;
            const Binding* top = topOf(b->prefix);
            if (top != nullptr && top->uri == uri)
                return {b->prefix, true};
        }
        const std::string preferred = iPreferred.count(uri) ? iPreferred[uri] : std::string();
        std::string candidate = preferred.empty() ? generate() : preferred;
        for (const Binding* top = topOf(candidate); top != nullptr && top->level == iLevel; top = topOf(candidate))
            candidate = generate();
        iBindings.push_back(Binding{candidate, uri, iLevel});
        return {candidate, false};
    }

    std::int64_t level() const { return iLevel; }

private:
    struct Binding {
        std::string prefix;
        std::string uri;
        std::int64_t level;
    };

    const Binding* topOf(const std::string& prefix) const {
        for (auto b = iBindings.rbegin(); b != iBindings.rend(); ++b)
            if (b->prefix == prefix)
                return &*b;
        return nullptr;
    }

    std::string generate() { return "NS" + std::to_string(++iCounter); }

    bool iSwitch;
    std::vector<Binding> iBindings;
    std::map<std::string, std::string> iPreferred;
    std::int64_t iLevel;
    std::int64_t iCounter;
};

/// Decodes bytes into calls, runs them on a manager and the model together,
/// and checks every answer and the manager's invariants after each call.
/// Returns an empty string, or what differed first.
inline std::string runPrefixScript(const std::uint8_t* data, std::size_t size) {
    static const char* const URIS[] = {
        "urn:a",          "urn:b",           "", "http://example.com/a/rather/long/namespace/name/c",
        PrefixModel::XML, PrefixModel::XMLNS};
    static const char* const PREFIXES[] = {"", "a", "p", "NS1", "NS2", "xml", "xmlns", "NS3"};
    constexpr std::size_t URI_COUNT = sizeof URIS / sizeof *URIS;
    constexpr std::size_t PREFIX_COUNT = sizeof PREFIXES / sizeof *PREFIXES;
    if (size == 0)
        return std::string();

    const bool useSwitch = data[0] & 1;
    setDefaultNamespaceSwitch(useSwitch);
    auto manager = std::make_unique<XMLPrefixManager>(nullptr);
    setDefaultNamespaceSwitch(false);
    PrefixModel model(useSwitch);

    auto uri = [&](std::uint8_t b) { return OrvWstring::fromUtf8(URIS[b % URI_COUNT]); };
    auto prefix = [&](std::uint8_t b) { return OrvWstring::fromUtf8(PREFIXES[b % PREFIX_COUNT]); };

    for (std::size_t i = 1; i < size; ++i) {
        const std::uint8_t op = data[i];
        const std::uint8_t arg = i + 1 < size ? data[i + 1] : 0;
        const std::string step = "step " + std::to_string(i) + " op " + std::to_string(op % 12) + ": ";
        switch (op % 12) {
        case 0:
        case 1:
            if (model.level() < 40) {
                manager->addLevel();
                model.addLevel();
            }
            break;
        case 2:
        case 3:
            if (model.level() > -6) {
                manager->removeLevel();
                model.removeLevel();
            }
            break;
        case 4:
            manager->addNamespace(uri(arg), prefix(arg >> 3));
            model.addNamespace(URIS[arg % URI_COUNT], PREFIXES[(arg >> 3) % PREFIX_COUNT]);
            ++i;
            break;
        case 5:
            manager->addNamespaceAndPrefix(uri(arg), prefix(arg >> 3));
            model.addNamespaceAndPrefix(URIS[arg % URI_COUNT], PREFIXES[(arg >> 3) % PREFIX_COUNT]);
            ++i;
            break;
        case 6:
        case 7:
        case 8: {
            const bool allow = arg & 0x80;
            OrvWstring out(u"stale");
            const bool got = manager->getNamespacePrefix(uri(arg), out, allow);
            const auto expected = model.lookup(URIS[arg % URI_COUNT], allow);
            if (out.toUtf8() != expected.first || got != expected.second)
                return step + "getNamespacePrefix(" + URIS[arg % URI_COUNT] + ", " + (allow ? "true" : "false") +
                       ") gave \"" + out.toUtf8() + "\"/" + (got ? "true" : "false") + ", the model \"" +
                       expected.first + "\"/" + (expected.second ? "true" : "false");
            ++i;
            break;
        }
        case 9:
            if (manager->isDefaultSpace() != model.isDefaultSpace())
                return step + "isDefaultSpace differs";
            for (const char* name : PREFIXES) {
                OrvWstring got(u"unchanged");
                std::string expected = "unchanged";
                const bool bound = manager->getNamespaceUri(OrvWstring::fromUtf8(name), got);
                if (bound != model.uriOf(name, expected) || got.toUtf8() != expected)
                    return step + "getNamespaceUri(\"" + name + "\") differs";
            }
            break;
        case 10:
            manager->reset();
            model.reset();
            break;
        case 11:
            // A copy takes over from here; the original dies first or is
            // overwritten by assignment.
            if (arg & 1) {
                auto copy = std::make_unique<XMLPrefixManager>(*manager);
                manager = std::move(copy);
            } else {
                auto other = std::make_unique<XMLPrefixManager>(nullptr);
                other->addLevel();
                other->addNamespaceAndPrefix(OrvWstring(u"urn:junk"), OrvWstring(u"j"));
                *other = *manager;
                manager.swap(other);
            }
            ++i;
            break;
        }
        if (XMLPrefixManagerTestAccess::level(*manager) != model.level())
            return step + "level differs";
        const std::string broken = XMLPrefixManagerTestAccess::checkInvariants(*manager);
        if (!broken.empty())
            return step + "invariant: " + broken;
    }
    return std::string();
}

#endif
