// SPDX-License-Identifier: Apache-2.0
// Diagnostics.h - how zaqxml writes a message about a document: one printer
// for errors and warnings, escaping what a terminal would act on.
#ifndef ZAQXML_DIAGNOSTICS_H
#define ZAQXML_DIAGNOSTICS_H

#include <string>

/// A message as a person can read it on a terminal: control characters and
/// bytes that are not UTF-8 are shown escaped (\x1B, \xFF).
std::string printable(const std::string& text);

/// Writes "NAME:LINE:COLUMN: MESSAGE" (or "NAME: MESSAGE" without a line)
/// to standard error, the name and message made printable.
void report(const std::string& name, unsigned long long line, unsigned long long column, const std::string& message);

/// The same, as "NAME:LINE:COLUMN: warning: MESSAGE".
void warning(const std::string& name, unsigned long long line, unsigned long long column, const std::string& message);

#endif
