// SPDX-License-Identifier: Apache-2.0
// Validity.cpp - validity errors printed with the path of their element.
#include "Validity.h"

#include "OrvWstring.h"

namespace {

// The parser quotes the value an error is about, which may be any length:
// a message keeps its first and last hundred and fifty bytes (whole UTF-8
// sequences), where what the value breaks is said.
std::string shortened(const std::string& message) {
    constexpr std::size_t KEEP = 150;
    if (message.size() <= 2 * KEEP + 40)
        return message;
    auto boundary = [&](std::size_t at) {
        while (at > 0 && (static_cast<unsigned char>(message[at]) & 0xC0) == 0x80)
            --at;
        return at;
    };
    const std::size_t head = boundary(KEEP), tail = boundary(message.size() - KEEP);
    return message.substr(0, head) + "... (" + std::to_string(tail - head) + " bytes) ..." + message.substr(tail);
}

} // namespace

void Validity::found(const std::string& message, unsigned long long line, unsigned long long column,
                     const std::string& systemId, bool ofValue) {
    if (++iErrors <= iMaxErrors)
        iHeld.push_back(Held{shortened(message), systemId, line, column, ofValue});
    else if (ofValue)
        iUnshown.push_back(shortened(message)); // not printed, but a value's one error
    iOfValue = iOfValue || ofValue;
}

bool Validity::foundOfValue(const std::string& value) const {
    const std::string quoted = "'" + value + "'";
    for (const Held& held : iHeld)
        if (held.ofValue && held.message.find(quoted) != std::string::npos)
            return true;
    for (const std::string& unshown : iUnshown)
        if (unshown.find(quoted) != std::string::npos)
            return true;
    return false;
}

void Validity::supersede(const std::string& parsers, const std::string& value, std::string message) {
    // The parser's error of the value: its words, or failing that (a long
    // message is shortened) the value quoted.
    const std::string said = shortened(parsers), quoted = "'" + value + "'";
    Held* found = nullptr;
    for (Held& held : iHeld)
        if (held.ofValue && held.message == said) {
            found = &held;
            break;
        }
    for (std::size_t i = 0; found == nullptr && i < iHeld.size(); ++i)
        if (iHeld[i].ofValue && iHeld[i].message.find(quoted) != std::string::npos)
            found = &iHeld[i];
    if (found != nullptr && found->message.find("does not match regular expression facet") == std::string::npos)
        found->message = shortened(message);
}

void Validity::report() {
    const std::string where = path();
    const std::string at = where.empty() ? std::string() : " (at " + where + ")";
    for (const Held& held : iHeld)
        iDiagnostics.errorIn(held.systemId, held.line, held.column, "invalid: " + held.message + at);
    iHeld.clear();
    iUnshown.clear();
    iOfValue = false;
}

unsigned long Validity::Level::count(const void* name) {
    for (std::size_t i = 0; i < fewUsed; ++i)
        if (few[i].first == name)
            return ++few[i].second;
    if (fewUsed < 8) {
        if (fewUsed == few.size())
            few.emplace_back();
        few[fewUsed] = {name, 1};
        ++fewUsed;
        return 1;
    }
    return ++many[name];
}

void Validity::enter(const void* name, std::u16string_view prefix, const char16_t* local) {
    const unsigned long position = iLevels[iDepth].count(name);
    if (++iDepth == iLevels.size())
        iLevels.emplace_back();
    Level& level = iLevels[iDepth];
    level.prefix.assign(prefix);
    level.local = local;
    level.position = position;
    level.fewUsed = 0;
    if (!level.many.empty())
        level.many.clear();
}

void Validity::leave() {
    if (iDepth > 0)
        --iDepth;
}

std::string Validity::path() const {
    std::u16string text;
    for (std::size_t d = 1; d <= iDepth; ++d) {
        const Level& level = iLevels[d];
        text += u'/';
        if (!level.prefix.empty())
            text += level.prefix + u':';
        text += level.local;
        if (level.position > 1)
            for (char c : "[" + std::to_string(level.position) + "]")
                text += static_cast<char16_t>(c);
    }
    return OrvWstring(text).toUtf8();
}

void Validity::finish() {
    report();
    if (iErrors > iMaxErrors)
        iDiagnostics.errorIn(std::string(), 0, 0,
                             std::to_string(iErrors - iMaxErrors) + " more validity error" +
                                 (iErrors - iMaxErrors == 1 ? "" : "s") + " not shown; --max-errors raises the limit");
}
