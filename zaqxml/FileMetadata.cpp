// SPDX-License-Identifier: Apache-2.0
// FileMetadata.cpp - owner, extended attributes and mode, copied in the
// order that never grants more than the original did.
#include "FileMetadata.h"

#include <cerrno>
#include <cstring>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace {

const char ACCESS_ACL[] = "system.posix_acl_access";

// The names of `path`'s extended attributes, NUL-separated; false on a
// failure other than the filesystem having none.
bool attributeNames(const std::string& path, std::vector<char>& names) {
    for (;;) {
        const ssize_t size = ::listxattr(path.c_str(), nullptr, 0);
        if (size < 0) {
            names.clear();
            return errno == ENOTSUP;
        }
        names.resize(static_cast<std::size_t>(size));
        const ssize_t got = ::listxattr(path.c_str(), names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            return true;
        }
        if (errno != ERANGE) // grown since asked: ask again
            return false;
    }
}

bool copyAttribute(const std::string& from, const char* name, int to, std::string& error) {
    std::vector<char> value;
    for (;;) {
        const ssize_t size = ::getxattr(from.c_str(), name, nullptr, 0);
        if (size < 0)
            break;
        value.resize(static_cast<std::size_t>(size));
        const ssize_t got = ::getxattr(from.c_str(), name, value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<std::size_t>(got));
            if (::fsetxattr(to, name, value.data(), value.size(), 0) == 0)
                return true;
            break;
        }
        if (errno != ERANGE)
            break;
    }
    if (errno == ENODATA)
        return true; // removed meanwhile
    error = "cannot keep the extended attribute '" + std::string(name) + "': " + std::strerror(errno);
    return false;
}

} // namespace

bool copyMetadata(const std::string& from, const struct stat& status, int to, std::string& error) {
    // The owner first: a change of owner clears the set-id bits, which the
    // mode given last then restores. Where the owner cannot be kept the file
    // becomes the caller's; where the group cannot, its members get no more
    // than the original granted everyone else.
    // Set-user-id and set-group-id go with an owner and a group not kept:
    // they would run as the caller instead.
    mode_t mode = status.st_mode & 07777;
    if (::fchown(to, status.st_uid, status.st_gid) != 0) {
        mode &= ~mode_t(04000);
        if (::fchown(to, static_cast<uid_t>(-1), status.st_gid) != 0)
            mode = (mode & ~mode_t(02070)) | (mode & 070 & ((mode & 07) << 3));
    }
    std::vector<char> names;
    if (!attributeNames(from, names)) {
        error = std::string("cannot read the extended attributes: ") + std::strerror(errno);
        return false;
    }
    bool hasAcl = false;
    for (std::size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1) {
        const char* name = &names[at];
        hasAcl = hasAcl || std::strcmp(name, ACCESS_ACL) == 0;
        if (!copyAttribute(from, name, to, error))
            return false;
    }
    if (!hasAcl && ::fremovexattr(to, ACCESS_ACL) != 0 && errno != ENODATA && errno != ENOTSUP) {
        error = std::string("cannot remove the ACL inherited from the directory: ") + std::strerror(errno);
        return false;
    }
    // Last, so that the ACL's mask and the group bits agree with the original.
    if (::fchmod(to, mode) != 0) {
        error = std::string("cannot set the mode: ") + std::strerror(errno);
        return false;
    }
    return true;
}
