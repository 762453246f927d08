// SPDX-License-Identifier: Apache-2.0
// Limits.cpp - the words of the expansion error.
#include "Limits.h"

std::string Limits::expansionMessage(bool indenting) const {
    return "the output would exceed " + std::to_string(iSettings.maxExpansionFactor) +
           " times the input plus 10 MB (entity expansion or DTD default attributes" +
           (indenting ? ", or --format indenting deep nesting" : "") + "); --max-expansion raises the bound";
}
