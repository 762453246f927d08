// SPDX-License-Identifier: Apache-2.0
// InputPolicy.h - how zaqxml reads a document: the input opened once, the
// parser's features and limits, and which external entities it may read.
#ifndef ZAQXML_INPUT_POLICY_H
#define ZAQXML_INPUT_POLICY_H

#include <xercesc/sax/InputSource.hpp>
#include <xercesc/parsers/SAX2XMLReaderImpl.hpp>
#include <xercesc/util/BinInputStream.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLEntityResolver.hpp>

#include "Catalogs.h"

#include <xercesc/framework/XMLAttDef.hpp>

#include <cstdint>
#include <string>
#include <unordered_map>

/// The parser limits and entity policy of one run.
struct InputSettings {
    bool loadExternal = false;              ///< read the external DTD subset and entities from local files
    bool catalogs = true;                   ///< with loadExternal: resolve identifiers through XML catalogs
    unsigned long maxDepth = 10000;         ///< deepest element nesting
    std::size_t maxAttributes = 10000;      ///< most attributes on one start tag
    std::uint64_t maxExpansionFactor = 100; ///< output bytes per input byte, beyond the allowance
    std::uint64_t expansionAllowance = 10u << 20;
};

/// The declared type of each DTD attribute whose type is not CDATA.
using DeclaredTypes = std::unordered_map<const xercesc::XMLAttDef*, xercesc::XMLAttDef::AttTypes>;

/// The text of a parser string as UTF-8 (empty for null).
std::string utf8(const XMLCh* text);

/// Whether `version` is an XML version number: "1." and one or more digits.
bool isVersionNumber(const std::string& version);

/// The error of a document past its expansion bound, naming the option.
std::string expansionMessage(const InputSettings& settings);

/// What the first bytes of a document show of its prolog.
enum class Prolog {
    Plain,   ///< no document type declaration before the root element
    Unknown, ///< one, or something else, or an encoding these bytes do not show as ASCII
    NeedMore ///< the bytes end before the root element or a declaration
};

/// Reads `size` first bytes of a document: a UTF-8 byte order mark, then
/// white space, comments and processing instructions (the XML declaration
/// among them) up to the root element's start tag make it `Plain`.
Prolog scanProlog(const unsigned char* bytes, std::size_t size);

/// A document read through a file descriptor opened once: a named file or
/// standard input. Counts the bytes read, for the expansion bound.
class DescriptorInputSource : public xercesc::InputSource {
public:
    /// `fd` stays the caller's; `name` becomes the system id, the base of
    /// relative external entities.
    /// Start tags of more than `maxAttributes` attributes are refused as
    /// they are read.
    DescriptorInputSource(int fd, const std::string& name, std::uint64_t& bytesRead, std::size_t maxAttributes,
                          xercesc::MemoryManager* manager);
    xercesc::BinInputStream* makeStream() const override;
    /// Reads ahead, keeping what it reads for the parser, until the prolog
    /// is known to be `Plain`, or up to 64 KiB; false if it is not.
    bool plainProlog();

private:
    int iFd;
    std::uint64_t& iBytesRead;
    std::size_t iMaxAttributes;
    std::string iHead;   // read ahead, for the parser first
    bool iAtEnd = false; // the descriptor is at its end after iHead
    int iReadError = 0;  // errno of a failed read ahead, reported when the parser comes to it
};

/// Opens a named input for reading; on failure returns -1 with a message
/// in words ("is a directory", "No such file or directory").
int openInput(const std::string& path, std::string& error);

/// Decides what each external entity request reads: nothing without
/// --load-external (the document fails, naming the entity and the option);
/// with it, local files. Anything else (http:, ftp:, a file that cannot be
/// read) is skipped with a warning while the DTD is read, where what it would
/// have declared is reported when used; an entity in content that cannot be
/// read fails the document.
class ExternalEntityPolicy : public xercesc::XMLEntityResolver {
public:
    /// `catalogs` (null: none) maps public and system identifiers first.
    ExternalEntityPolicy(bool loadExternal, const std::string& documentName, const Catalogs* catalogs = nullptr)
        : iLoadExternal(loadExternal), iDocumentName(documentName), iCatalogs(catalogs) {}
    xercesc::InputSource* resolveEntity(xercesc::XMLResourceIdentifier* resource) override;
    /// Whether requests are for the DTD (skippable) or for content.
    void setInDtd(bool inDtd) { iInDtd = inDtd; }

private:
    void warn(const xercesc::XMLResourceIdentifier& resource, const std::string& message) const;

    bool iLoadExternal;
    bool iInDtd = false;
    std::string iDocumentName;
    const Catalogs* iCatalogs;
};

/// The SAX2 reader, turning a reference to an undefined entity into a
/// DocumentError where Xerces-C would drop it in silence (a document with an
/// external DTD subset that was not read), and asking the entity policy for
/// every external entity but an external DTD subset that is not to be read.
class ToolReader : public xercesc::SAX2XMLReaderImpl {
public:
    ToolReader(xercesc::MemoryManager* manager, ExternalEntityPolicy& entities, bool loadExternal);
    void error(const unsigned int code, const XMLCh* const domain, const xercesc::XMLErrorReporter::ErrTypes type,
               const XMLCh* const text, const XMLCh* const systemId, const XMLCh* const publicId, const XMLFileLoc line,
               const XMLFileLoc column) override;
    void doctypeDecl(const xercesc::DTDElementDecl& root, const XMLCh* const publicId, const XMLCh* const systemId,
                     const bool hasIntSubset, const bool hasExtSubset) override;
    void endIntSubset() override;
    void endExtSubset() override;
    xercesc::InputSource* resolveEntity(xercesc::XMLResourceIdentifier* resource) override;
    /// The external DTD subset that was passed over unread, if any (its
    /// attribute defaults are then missing from the output).
    const std::string& unreadSubset() const { return iUnreadSubset; }
    /// The attributes the DTD gives a type other than CDATA. The parser
    /// normalises their values as CDATA: its own normalisation of these
    /// types leaves enumerations as they are and strips a tab written as
    /// a reference, so the writer does it (XmlRewriter::useDeclaredTypes).
    const DeclaredTypes& declaredTypes() const { return iDeclaredTypes; }

private:
    void takeDeclaredTypes();

    ExternalEntityPolicy& iEntities;
    std::string iUnreadSubset;
    bool iLoadExternal;
    bool iInDtd = false;           // requests now are for the DTD: its external subset or parameter entities
    bool iExternalSubset = false;  // the DTD has one, read after the internal subset
    std::u16string iPendingSubset; // the external DTD subset's system id until it is asked for
    DeclaredTypes iDeclaredTypes;
};

/// Namespaces on, no schema, no grammar caching; validation only where a
/// DTD is present, for the entity check above; entity expansion bounded by
/// `security`. A document known to have no document type declaration
/// (`plainProlog`) is read by the well-formedness scanner, which has no DTD
/// to consult and so less to do for every element.
/// Its duplicate check is quadratic in a start tag's attributes, though: with
/// `maxAttributes` above the default the default scanner reads such a
/// document too, without the entity bound it does not need.
void configureReader(ToolReader& reader, xercesc::SecurityManager& security, bool plainProlog,
                     std::size_t maxAttributes);

#endif
