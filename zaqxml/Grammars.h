// SPDX-License-Identifier: Apache-2.0
// Grammars.h - the XML Schemas of --schema, compiled once for a whole run.
#ifndef ZAQXML_GRAMMARS_H
#define ZAQXML_GRAMMARS_H

#include "Catalogs.h"
#include "Diagnostics.h"
#include "PatternFacets.h"

#include <xercesc/framework/XMLGrammarPool.hpp>

#include <memory>
#include <string>
#include <vector>

/// A locked grammar pool of the schemas a run validates against: each
/// schema is read and checked once (imports and includes through the
/// catalogs, local files only), then every document's reader uses the
/// compiled grammars and adds none.
class Grammars {
public:
    /// With `takeOverPatterns`, pattern facets are checked by the tool
    /// (PatternFacets); without, by the parser, as when the grammars are
    /// compiled only to be checked.
    /// With `vetTakenOver`, the patterns taken over are held to the
    /// backtracking check too (they may go back to the parser). Without
    /// `wholeChecks`, the checks of the components as a whole (unique
    /// particle attribution, derivations) are left out, as a document's
    /// parse leaves them out of the schemas it reads.
    explicit Grammars(bool takeOverPatterns = true, bool vetTakenOver = false, bool wholeChecks = true);
    ~Grammars();
    /// Compiles `schemas`; false, with one message naming the schema and
    /// what is wrong, when one cannot be used. Unless `trustPatterns`, a
    /// pattern facet that lets a value take more than linear time to check
    /// (PatternSafety.h) makes its schema unusable.
    /// With `reason`, what is wrong is put there instead of printed.
    bool load(const std::vector<std::string>& schemas, const Catalogs* catalogs, bool trustPatterns,
              Diagnostics& diagnostics, std::string* reason = nullptr);
    xercesc::XMLGrammarPool* pool() const { return iPool.get(); }
    /// The pattern facets taken over from the parser (PatternFacets.h).
    PatternFacets& patterns() { return iPatterns; }

private:
    std::unique_ptr<xercesc::XMLGrammarPool> iPool;
    PatternFacets iPatterns;
    bool iTakeOverPatterns;
    bool iVetTakenOver;
    bool iWholeChecks;
};

#endif
