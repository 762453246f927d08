// SPDX-License-Identifier: Apache-2.0
// FileMetadata.h - what a file's replacement or backup keeps of it: owner,
// extended attributes (ACLs among them) and mode.
#ifndef ZAQXML_FILE_METADATA_H
#define ZAQXML_FILE_METADATA_H

#include <string>
#include <sys/stat.h>

/// Gives `to`, a file this process has just created with no access for
/// anyone else, what the file `from` (whose status is `status`) grants:
/// its owner and group where permitted, every extended attribute (a POSIX
/// ACL is one), then its mode. An ACL the new file inherited from its
/// directory is removed when `from` has none. False, with `error` saying
/// which attribute, when one cannot be kept (the filesystem cannot hold
/// it): the caller then drops the new file rather than widen access.
bool copyMetadata(const std::string& from, const struct stat& status, int to, std::string& error);

#endif
