// SPDX-License-Identifier: Apache-2.0
// OutputFile.cpp - atomic replacement, write-through and signal clean-up.
#include "OutputFile.h"

#include "FileMetadata.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The temporary file to remove if a signal ends the process; written before
// the handlers can see it, read only by them.
char gTempPath[PATH_MAX + 1];
volatile std::sig_atomic_t gTempSet = 0;

extern "C" void removeTempAndDie(int signal) {
    if (gTempSet)
        ::unlink(gTempPath);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void catchSignals() {
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action = {};
        action.sa_handler = removeTempAndDie;
        sigemptyset(&action.sa_mask);
        struct sigaction previous = {};
        // A signal ignored by whoever started us stays ignored.
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
            ::sigaction(signal, &action, nullptr);
    }
}

// Follows a chain of symlinks to the name that is finally written; empty
// for a chain that does not end (a loop).
std::string followLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        char target[PATH_MAX + 1];
        const ssize_t n = ::readlink(path.c_str(), target, PATH_MAX);
        if (n < 0)
            return path;
        std::string next(target, static_cast<std::size_t>(n));
        if (next[0] != '/') {
            const std::size_t slash = path.rfind('/');
            if (slash != std::string::npos)
                next = path.substr(0, slash + 1) + next;
        }
        path = next;
    }
    return std::string();
}

} // namespace

OutputFile::OutputFile(const std::string& path) {
    // A device, FIFO or socket is written through, also where a link to it
    // cannot be followed by name (/dev/stdout on a pipe: /proc/self/fd/1
    // names "pipe:[...]", which only the kernel can open).
    struct stat direct;
    if (::stat(path.c_str(), &direct) == 0 && !S_ISREG(direct.st_mode) && !S_ISDIR(direct.st_mode)) {
        iTarget = path;
        iFile = std::fopen(path.c_str(), "wb");
        if (!iFile)
            iError = std::strerror(errno);
        return;
    }
    iTarget = followLinks(path);
    if (iTarget.empty()) {
        iError = std::strerror(ELOOP);
        return;
    }
    struct stat existing;
    const bool exists = ::stat(iTarget.c_str(), &existing) == 0;
    // Replaced, not written: a file the user may not write stays as it is,
    // even where the directory would allow the rename.
    if (exists && ::access(iTarget.c_str(), W_OK) != 0) {
        iError = std::strerror(errno);
        return;
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        iFile = std::fopen(iTarget.c_str(), "wb");
        if (!iFile)
            iError = std::strerror(errno);
        return;
    }
    const std::size_t slash = iTarget.rfind('/');
    iTemp = (slash == std::string::npos ? std::string() : iTarget.substr(0, slash + 1)) + ".zaqxml.XXXXXX";
    if (iTemp.size() > PATH_MAX) {
        iError = std::strerror(ENAMETOOLONG);
        return;
    }
    catchSignals();
    // Blocked while the name is taken and published, so that a signal never
    // finds a file it does not know of.
    sigset_t block, previous;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    sigaddset(&block, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &block, &previous);
    const int fd = ::mkstemp(&iTemp[0]);
    if (fd >= 0) {
        std::memcpy(gTempPath, iTemp.c_str(), iTemp.size() + 1);
        gTempSet = 1;
    }
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (fd < 0) {
        iError = std::strerror(errno);
        iTemp.clear();
        return;
    }
    if (exists) {
        std::string error;
        if (!copyMetadata(iTarget, existing, fd, error)) {
            iError = "the replacement " + error + "; the file is left as it was";
            ::close(fd);
            discard();
            return;
        }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    iFile = ::fdopen(fd, "wb");
    if (!iFile) {
        iError = std::strerror(errno);
        ::close(fd);
        discard();
    }
}

OutputFile::~OutputFile() {
    if (iFile)
        std::fclose(iFile);
    discard();
}

void OutputFile::discard() {
    if (iTemp.empty())
        return;
    gTempSet = 0;
    ::unlink(iTemp.c_str());
    iTemp.clear();
}

bool OutputFile::commit() {
    const bool written = std::fflush(iFile) == 0 && (iTemp.empty() || ::fsync(fileno(iFile)) == 0);
    int failure = written ? 0 : errno;
    if (std::fclose(iFile) != 0 && failure == 0)
        failure = errno;
    iFile = nullptr;
    if (failure == 0 && !iTemp.empty()) {
        if (std::rename(iTemp.c_str(), iTarget.c_str()) != 0)
            failure = errno;
        else {
            gTempSet = 0;
            iTemp.clear();
        }
    }
    if (failure != 0) {
        iError = std::strerror(failure);
        discard();
    }
    return failure == 0;
}
