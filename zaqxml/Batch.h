// SPDX-License-Identifier: Apache-2.0
// Batch.h - a run of zaqxml over its inputs.
#ifndef ZAQXML_BATCH_H
#define ZAQXML_BATCH_H

#include "ToolOptions.h"

/// Rewrites every input as the options say (to standard output, to the -o
/// file, in place, or checking only) and returns the exit status: 0 when all
/// succeeded, 2 when any failed, 1 when the inputs cannot be rewritten in
/// place together. The Xerces-C platform must be initialised.
int runInputs(const ToolOptions& options);

#endif
