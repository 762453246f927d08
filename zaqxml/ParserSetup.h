// SPDX-License-Identifier: Apache-2.0
// ParserSetup.h - how zaqxml configures the parser: its features and
// limits, its reader, and which external entities it may read.
#ifndef ZAQXML_PARSER_SETUP_H
#define ZAQXML_PARSER_SETUP_H

#include "Catalogs.h"
#include "DeclaredTypes.h"
#include "DefaultLiterals.h"
#include "Diagnostics.h"
#include "InputSettings.h"
#include "ParserMemory.h"
#include "ParserPosition.h"
#include "Validity.h"

#include <xercesc/framework/XMLGrammarPool.hpp>
#include <xercesc/parsers/SAX2XMLReaderImpl.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLEntityResolver.hpp>
#include <xercesc/validators/schema/SchemaValidator.hpp>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

/// Decides what each external entity request reads: nothing without
/// --load-external (the document fails, naming the entity and the option);
/// with it, local files. Anything else (http:, ftp:, a file that cannot be
/// read) is skipped with a warning while the DTD is read, where what it would
/// have declared is reported when used; an entity in content that cannot be
/// read fails the document.
class ExternalEntityPolicy : public xercesc::XMLEntityResolver {
public:
    /// `catalogs` (null: none) maps public and system identifiers first;
    /// warnings go to `diagnostics`.
    ///
    /// A part of the DTD that cannot be read is passed over with a warning,
    /// or, when `required` (the canonical forms, whose bytes must hold what
    /// it declares), fails the document.
    ExternalEntityPolicy(bool loadExternal, Diagnostics& diagnostics, const Catalogs* catalogs = nullptr,
                         bool required = false)
        : iLoadExternal(loadExternal), iRequired(required), iDiagnostics(diagnostics), iCatalogs(catalogs) {}
    xercesc::InputSource* resolveEntity(xercesc::XMLResourceIdentifier* resource) override;
    /// Whether requests are for the DTD (skippable) or for content.
    void setInDtd(bool inDtd) { iInDtd = inDtd; }
    Diagnostics& diagnostics() const { return iDiagnostics; }
    const Catalogs* catalogs() const { return iCatalogs; }

private:
    void warn(const xercesc::XMLResourceIdentifier& resource, const std::string& message) const;

    bool iLoadExternal;
    bool iRequired;
    bool iInDtd = false;
    Diagnostics& iDiagnostics;
    const Catalogs* iCatalogs;
};

/// The SAX2 reader, turning a reference to an undefined entity into a
/// DocumentError where Xerces-C would drop it in silence (a document with an
/// external DTD subset that was not read), and asking the entity policy for
/// every external entity but an external DTD subset that is not to be read.
class ToolReader : public xercesc::SAX2XMLReaderImpl {
public:
    /// `document` (not owned; may be null) keeps the document's last bytes
    /// while its DTD is read, for the defaults the parser misreads.
    ToolReader(ParserMemory* manager, ExternalEntityPolicy& entities, bool loadExternal, RawWindow* document = nullptr,
               xercesc::XMLGrammarPool* grammars = nullptr);
    /// Validity errors go to `validity` (null: they are no concern, as for
    /// a rewrite); with `dtd` the DTD is kept as declared, for its checks,
    /// and a document without one is invalid (once said) unless `schemas`
    /// validate it. Schema locations a document names are read through
    /// `schemaLocations` (null: none are).
    /// A schema a document names is first compiled alone and its patterns
    /// checked, once for each file in `vetted` (null: not checked).
    void validateInto(Validity* validity, bool dtd, bool schemas, ExternalEntityPolicy* schemaLocations,
                      std::size_t maxContentModel, std::set<std::string>* vetted) {
        iVetted = vetted;
        iMaxContentModel = maxContentModel;
        iValidity = validity;
        iKeepDtd = dtd;
        iDtdOnly = dtd && !schemas;
        iSchemaLocations = schemaLocations;
    }
    /// The schemas of --schema: a schema a document names is checked
    /// compiled beside them, as the document's parse finds their namespaces
    /// in the pool (an import without a location takes them).
    void vetBeside(const std::vector<std::string>* schemas) { iVetBeside = schemas; }
    void error(const unsigned int code, const XMLCh* const domain, const xercesc::XMLErrorReporter::ErrTypes type,
               const XMLCh* const text, const XMLCh* const systemId, const XMLCh* const publicId, const XMLFileLoc line,
               const XMLFileLoc column) override;
    void doctypeDecl(const xercesc::DTDElementDecl& root, const XMLCh* const publicId, const XMLCh* const systemId,
                     const bool hasIntSubset, const bool hasExtSubset) override;
    void endIntSubset() override;
    void endExtSubset() override;
    void startAttList(const xercesc::DTDElementDecl& element) override;
    void attDef(const xercesc::DTDElementDecl& element, const xercesc::DTDAttDef& definition,
                const bool ignoring) override;
    xercesc::InputSource* resolveEntity(xercesc::XMLResourceIdentifier* resource) override;
    /// The external DTD subset that was passed over unread, if any (its
    /// attribute defaults are then missing from the output).
    const std::string& unreadSubset() const { return iUnreadSubset; }
    /// The attributes the DTD gives a type other than CDATA. The parser
    /// normalises their values as CDATA: its own normalisation of these
    /// types leaves enumerations as they are and strips a tab written as
    /// a reference, so ParserEvents does it before handing them on.
    const DeclaredTypes& declaredTypes() const { return iDeclaredTypes; }
    /// Where the reader is in the document being read.
    const ParserPosition& where() const { return iWhere; }
    /// The scanner, which the parser keeps to itself.
    xercesc::XMLScanner& scanner();
    /// Whether the document has a document type declaration.
    bool sawDoctype() const { return iSawDoctype; }
    /// The DTD's declaration of the element written `rawName`, when the
    /// document has a DTD; null otherwise.
    const xercesc::DTDElementDecl* dtdDeclaration(const XMLCh* rawName);
    /// The namespace id of an attribute named `qName` on the element being
    /// started, by the bindings in force there.
    unsigned int attributeUri(const XMLCh* qName);
    /// The scanner's grammars: those of the pool and those it read.
    xercesc::GrammarResolver& grammarResolver();
    /// The schema validator, when the scanner has one.
    xercesc::SchemaValidator* schemaValidator();
    /// Whether the scanner validates the element it has just started (not
    /// under a wildcard that skips its content).
    bool validatingElement();
    /// Moves the top of the scanner's element stack by `by` elements, so
    /// that a value is checked in the namespace scope the parser checks it
    /// in: it pops an element before it checks its content at the end tag
    /// (+1 puts it back), and after it hands on an empty one (-1 takes it
    /// off). The caller moves it back.
    void shiftElementScope(int by);
    /// Gives the validating scanner a schema validator that refuses a value
    /// of more than `maxMatched` characters its own pattern matcher would
    /// check (PatternFacets::parserMatches), and calls `read` (when set)
    /// each time the scanner has read the schemas a document names and
    /// checked them, before it validates anything by them: the attributes
    /// of the element that names them come after.
    void installSchemaValidator(std::size_t maxMatched, std::function<void()> read);

private:
    void takeDeclaredTypes();
    void endDtd();
    std::uint64_t offset() const;
    std::pair<std::uint64_t, std::uint64_t> lineAndColumn() const;

    ParserPosition iWhere;
    ExternalEntityPolicy& iEntities;
    Validity* iValidity = nullptr;
    bool iKeepDtd = false;
    bool iDtdOnly = false;
    bool iSawDoctype = false;
    std::size_t iMaxContentModel = 0;
    std::set<std::string>* iVetted = nullptr;
    const std::vector<std::string>* iVetBeside = nullptr;
    std::vector<std::string> iNamedBefore; // the schemas the document named (not those they read), in order
    /// Under --valid, each content model within --max-content-model.
    void checkContentModels();
    xercesc::InputSource* vetted(xercesc::InputSource* source, bool named);
    ExternalEntityPolicy* iSchemaLocations = nullptr;
    std::string iUnreadSubset;
    bool iLoadExternal;
    bool iInDtd = false;           // requests now are for the DTD: its external subset or parameter entities
    bool iExternalSubset = false;  // the DTD has one, read after the internal subset
    std::u16string iPendingSubset; // the external DTD subset's system id until it is asked for
    DeclaredTypes iDeclaredTypes;
    RawWindow* iDocument;
    ParserMemory* iMemory;
    std::uint64_t iDeclarationFrom = 0;                     // where the attribute definition being read starts
    std::pair<std::uint64_t, std::uint64_t> iDeclarationAt; // the locator's line and column there
    /// Defaults of types other than CDATA as CDATA normalisation reads
    /// their literals (see recoverDefault), given to their definitions
    /// with the type CDATA at the DTD's end.
    std::unordered_map<const xercesc::XMLAttDef*, std::u16string> iLiteralDefaults;
};

/// Namespaces on, no schema, no grammar caching; validation only where a
/// DTD is present, for the entity check above; entity expansion bounded by
/// `security`. A document known to have no document type declaration
/// (`plainProlog`) is read by the well-formedness scanner, which has no DTD
/// to consult and so less to do for every element.
/// Its duplicate check is quadratic in a start tag's attributes, though: with
/// `maxAttributes` above the default the default scanner reads such a
/// document too, without the entity bound it does not need; so it does
/// without `wellFormednessScanner`.
void configureReader(ToolReader& reader, xercesc::SecurityManager& security, bool plainProlog,
                     const InputSettings& settings);

#endif
