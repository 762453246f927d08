// SPDX-License-Identifier: Apache-2.0
// Usage.h - zaqxml's help text.
#ifndef ZAQXML_USAGE_H
#define ZAQXML_USAGE_H

/// What zaqxml --help prints.
const char* usageText();

#endif
