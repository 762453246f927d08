// SPDX-License-Identifier: Apache-2.0
// ReaderScanner.cpp - what the reader asks of its scanner: the switches and
// lookups SAX2XMLReaderImpl does not hand on, and a schema validator that
// says when the schemas a document names have been read.
#include "ParserSetup.h"

#include "DocumentError.h"
#include "PatternFacets.h"

#include <xercesc/framework/XMLBuffer.hpp>
#include <xercesc/framework/XMLBufferMgr.hpp>
#include <xercesc/internal/ElemStack.hpp>
#include <xercesc/internal/IGXMLScanner.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/validators/common/GrammarResolver.hpp>
#include <xercesc/util/XMLUni.hpp>
#include <xercesc/validators/DTD/DTDGrammar.hpp>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

using namespace xercesc;

namespace {

// The reader keeps its scanner private. An explicit instantiation may name a
// private member (access is not checked there): the pointer to it comes out
// through a friend function.
struct ScannerOf {
    using type = XMLScanner* SAX2XMLReaderImpl::*;
    friend type member(ScannerOf);
};
template <typename Tag, typename Tag::type Member> struct Expose {
    friend typename Tag::type member(Tag) { return Member; }
};
template struct Expose<ScannerOf, &SAX2XMLReaderImpl::fScanner>;
struct SchemaValidatorOf {
    using type = SchemaValidator* IGXMLScanner::*;
    friend type member(SchemaValidatorOf);
};
template struct Expose<SchemaValidatorOf, &IGXMLScanner::fSchemaValidator>;
struct ValidatingOf {
    using type = bool XMLScanner::*;
    friend type member(ValidatingOf);
};
template struct Expose<ValidatingOf, &XMLScanner::fValidate>;

struct ResolverOf {
    using type = GrammarResolver* const XMLScanner::*;
    friend type member(ResolverOf);
};
template struct Expose<ResolverOf, &XMLScanner::fGrammarResolver>;

struct ElemStackOf {
    using type = ElemStack XMLScanner::*;
    friend type member(ElemStackOf);
};
template struct Expose<ElemStackOf, &XMLScanner::fElemStack>;
struct TopOf {
    using type = XMLSize_t ElemStack::*;
    friend type member(TopOf);
};
template struct Expose<TopOf, &ElemStack::fStackTop>;
struct TextOf {
    using type = XMLBuffer SchemaValidator::*;
    friend type member(TextOf);
};
template struct Expose<TextOf, &SchemaValidator::fDatatypeBuffer>;
struct ReadersOf {
    using type = ReaderMgr XMLScanner::*;
    friend type member(ReadersOf);
};
template struct Expose<ReadersOf, &XMLScanner::fReaderMgr>;
struct BuffersOf {
    using type = XMLBufferMgr XMLScanner::*;
    friend type member(BuffersOf);
};
template struct Expose<BuffersOf, &XMLScanner::fBufMgr>;

// The scanner's schema validator, with what it does not hand on: it says
// when the schemas a document names have been read (it checks them as a
// whole then, before it validates anything by them), and it refuses a value
// longer than the bound before its own pattern matcher checks it.
class ToolSchemaValidator : public SchemaValidator {
public:
    ToolSchemaValidator(ToolReader& reader, std::size_t maxMatched, std::function<void()> read, MemoryManager* manager)
        : SchemaValidator(nullptr, manager), iReader(reader), iMaxMatched(maxMatched), iRead(std::move(read)) {}
    void preContentValidation(bool reuseGrammar, bool validateDefAttr) override {
        SchemaValidator::preContentValidation(reuseGrammar, validateDefAttr);
        iKnown.fill(Known{}); // types may have changed hands
        if (iRead)
            iRead();
    }
    void validateAttrValue(const XMLAttDef* definition, const XMLCh* const value, bool preValidation,
                           const XMLElementDecl* element) override {
        if (definition != nullptr && value != nullptr &&
            matched(static_cast<const SchemaAttDef*>(definition)->getDatatypeValidator()))
            bound(XMLString::stringLen(value));
        SchemaValidator::validateAttrValue(definition, value, preValidation, element);
    }
    bool checkContent(XMLElementDecl* const element, QName** const children, XMLSize_t childCount,
                      XMLSize_t* failing) override {
        if (matched(getCurrentDatatypeValidator()))
            bound((this->*member(TextOf())).getLen());
        return SchemaValidator::checkContent(element, children, childCount, failing);
    }

private:
    // Whether the parser's matcher checks values of `type`, kept for the
    // types met last (one a slot, by address).
    bool matched(const DatatypeValidator* type) {
        if (type == nullptr)
            return false;
        Known& slot = iKnown[(reinterpret_cast<std::uintptr_t>(type) >> 4) % iKnown.size()];
        if (slot.type != type)
            slot = Known{type, PatternFacets::parserMatches(*type)};
        return slot.matched;
    }
    void bound(XMLSize_t length) const {
        if (length <= iMaxMatched)
            return;
        const ParserPosition& where = iReader.where();
        throw DocumentError("a value of " + std::to_string(length) +
                                " characters for the parser's own pattern matcher, which can take time "
                                "quadratic in it; --max-matched-value raises the limit",
                            where.line(), where.column(), where.entity());
    }

    ToolReader& iReader;
    std::size_t iMaxMatched;
    std::function<void()> iRead;
    struct Known {
        const DatatypeValidator* type = nullptr;
        bool matched = false;
    };
    std::array<Known, 64> iKnown{};
};

} // namespace

void ToolReader::installSchemaValidator(std::size_t maxMatched, std::function<void()> read) {
    auto* scanner = dynamic_cast<IGXMLScanner*>(&this->scanner());
    if (scanner == nullptr)
        return;
    SchemaValidator*& validator = scanner->*member(SchemaValidatorOf());
    MemoryManager* manager = scanner->getMemoryManager();
    auto* replacement = new (manager) ToolSchemaValidator(*this, maxMatched, std::move(read), manager);
    replacement->setScannerInfo(scanner, &(scanner->*member(ReadersOf())), &(scanner->*member(BuffersOf())));
    replacement->setErrorReporter(scanner->getErrorReporter());
    // The scanner takes its validator from this member as it starts each
    // document; it has not started one yet.
    delete validator;
    validator = replacement;
}

void ToolReader::shiftElementScope(int by) {
    XMLSize_t& top = scanner().*member(ElemStackOf()).*member(TopOf());
    top = static_cast<XMLSize_t>(static_cast<long long>(top) + by);
}

GrammarResolver& ToolReader::grammarResolver() { return *(scanner().*member(ResolverOf())); }

XMLScanner& ToolReader::scanner() { return *(this->*member(ScannerOf())); }

const DTDElementDecl* ToolReader::dtdDeclaration(const XMLCh* rawName) {
    if (!iSawDoctype)
        return nullptr;
    const auto* dtd = dynamic_cast<const DTDGrammar*>(getGrammar(XMLUni::fgDTDEntityString));
    if (dtd == nullptr)
        return nullptr;
    return static_cast<const DTDElementDecl*>(dtd->getElemDecl(0, nullptr, rawName, Grammar::TOP_LEVEL_SCOPE));
}

unsigned int ToolReader::attributeUri(const XMLCh* qName) {
    XMLBuffer prefix(32, scanner().getMemoryManager());
    int colon = -1;
    return scanner().resolveQName(qName, prefix, ElemStack::Mode_Attribute, colon);
}

SchemaValidator* ToolReader::schemaValidator() {
    // Only the validating scanner (the one used when validating) has one.
    auto* scanner = dynamic_cast<IGXMLScanner*>(&this->scanner());
    return scanner != nullptr ? scanner->*member(SchemaValidatorOf()) : nullptr;
}

bool ToolReader::validatingElement() { return scanner().*member(ValidatingOf()); }
