// SPDX-License-Identifier: Apache-2.0
// Batch.cpp - the inputs of one run and where each one's rewrite goes:
// standard output, the -o file, the file itself (-i), or nowhere (--noout).
#include "Batch.h"

#include "FileMetadata.h"
#include "OutputFile.h"
#include "Pipeline.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

// The bundled sample, embedded at build time.
extern const unsigned char zaqxmlSample[];
extern const std::size_t zaqxmlSampleSize;

namespace {

// The original of a file rewritten in place, kept under its name plus
// `suffix` (a later rename puts the rewrite in its place): a second link to
// it, or, where links cannot be made (another filesystem), a copy. The copy
// is created with no access for anyone, then given the original's owner,
// extended attributes, ACL and mode, so that it is never readable by more
// than the original. It is made under a name of its own, `made` (the
// backup's name, ".zaqxml-" and six characters mkstemp chose, so that no
// other file is touched), and takes the backup's name only once the rewrite
// is in place: an older backup is replaced then, and not when the rewrite
// fails.
bool keepBackup(const std::string& input, const std::string& suffix, std::string& made, std::string& error) {
    char resolved[PATH_MAX];
    const std::string original = ::realpath(input.c_str(), resolved) != nullptr ? resolved : input;
    std::string backup;
    for (int attempt = 0; attempt < 5; ++attempt) {
        backup = input + suffix + ".zaqxml-XXXXXX";
        const int reserved = ::mkstemp(&backup[0]);
        if (reserved < 0) {
            error = std::strerror(errno);
            return false;
        }
        ::close(reserved);
        ::unlink(backup.c_str()); // the name is ours: free for the link or the copy
        made = backup;
        if (::link(original.c_str(), backup.c_str()) == 0)
            return true;
        if (errno != EEXIST)
            break;
    }
    const int from = ::open(original.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status;
    if (from < 0 || ::fstat(from, &status) != 0) {
        error = std::strerror(errno);
        if (from >= 0)
            ::close(from);
        return false;
    }
    const int to = ::open(backup.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0);
    bool ok = to >= 0;
    char buffer[1 << 16];
    for (ssize_t n; ok && (n = ::read(from, buffer, sizeof buffer)) != 0;) {
        if (n < 0) {
            ok = errno == EINTR;
            continue;
        }
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t wrote = ::write(to, buffer + done, static_cast<std::size_t>(n - done));
            ok = wrote >= 0 || errno == EINTR;
            done += wrote > 0 ? wrote : 0;
        }
    }
    if (!ok)
        error = std::strerror(errno);
    ok = ok && copyMetadata(original, status, to, error);
    if (ok && ::fsync(to) != 0) {
        error = std::strerror(errno);
        ok = false;
    }
    ::close(from);
    if (to >= 0 && ::close(to) != 0 && ok) {
        error = std::strerror(errno);
        ok = false;
    }
    if (!ok && to >= 0)
        ::unlink(backup.c_str());
    return ok;
}

// -i rewrites each input once, and a backup never replaces an input: no
// file may be given twice (under any name), nor be another one's backup.
bool inPlaceInputsApart(const std::vector<std::string>& inputs, const std::string& suffix) {
    std::map<std::pair<dev_t, ino_t>, std::string> files;
    for (const std::string& input : inputs) {
        struct stat status;
        if (::stat(input.c_str(), &status) != 0)
            continue; // reported when it is read
        auto [file, added] = files.emplace(std::make_pair(status.st_dev, status.st_ino), input);
        if (!added) {
            std::fprintf(stderr, "zaqxml: -i: '%s' and '%s' are the same file\n", printable(file->second).c_str(),
                         printable(input).c_str());
            return false;
        }
    }
    for (const std::string& input : inputs) {
        struct stat status;
        if (suffix.empty() || ::stat((input + suffix).c_str(), &status) != 0)
            continue;
        auto other = files.find(std::make_pair(status.st_dev, status.st_ino));
        if (other != files.end()) {
            std::fprintf(stderr, "zaqxml: -i%s: the backup of '%s' would replace the input '%s'\n",
                         printable(suffix).c_str(), printable(input).c_str(), printable(other->second).c_str());
            return false;
        }
    }
    return true;
}

// Discards what it is given: --noout checks a document as it would be
// rewritten.
struct Nowhere : zaq::XmlSink {
    bool write(const char*, std::size_t) override { return true; }
};

} // namespace

int runInputs(const ToolOptions& options) {
    Diagnostics diagnostics;
    std::unique_ptr<RewriteSession> session;
    try {
        session = std::make_unique<RewriteSession>(options, diagnostics);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "zaqxml: --pool-size %lu: out of memory\n", options.poolSize);
        return 2;
    }
    // A schema that cannot be used is reported once, before any document.
    if (!session->loadSchemas(options, diagnostics))
        return 5;
    int status = 0;
    // Exit status 2 (a document failed) wins over 3 (one was only invalid).
    auto failed = [&] { status = session->lastInvalid() && status != 2 ? 3 : 2; };
    auto rewrite = [&](const std::string& input, zaq::XmlSink& sink, std::size_t holdBytes) {
        const DocumentInput document =
            options.sample ? DocumentInput::memory(zaqxmlSample, zaqxmlSampleSize, "(sample)", "sample.xml")
            : input == "-" ? DocumentInput::standardInput()
                           : DocumentInput::file(input);
        return rewriteDocument(document, sink, options, *session, diagnostics, holdBytes);
    };
    const std::vector<std::string> inputs = options.sample ? std::vector<std::string>{"(sample)"} : options.inputs;
    if (options.inPlace && !inPlaceInputsApart(inputs, options.backupSuffix))
        return 1;
    for (const std::string& input : inputs) {
        struct stat kind;
        if (options.inPlace && ::stat(input.c_str(), &kind) == 0 && !S_ISREG(kind.st_mode)) {
            // A FIFO or a device would be opened to write, and block.
            diagnostics.error(input, 0, 0, "cannot rewrite in place: not a regular file");
            status = 2;
            continue;
        }
        if (options.noOutput) {
            Nowhere nowhere;
            if (!rewrite(input, nowhere, 0))
                failed();
            continue;
        }
        if (options.output.empty() && !options.inPlace) {
            // On standard output nothing can be taken back: a document that
            // fails in its first megabyte leaves no fragment there, as
            // xmllint leaves none.
            zaq::XmlFileSink out(stdout);
            if (!rewrite(input, out, std::size_t(1) << 20))
                failed();
            continue;
        }
        const std::string& target = options.inPlace ? input : options.output;
        OutputFile file(target);
        if (!file.file()) {
            diagnostics.error(target, 0, 0, "cannot create: " + file.error());
            status = 2;
            continue;
        }
        zaq::XmlFileSink out(file.file());
        if (!rewrite(input, out, 0)) {
            failed();
            continue;
        }
        std::string error, made;
        const bool backingUp = options.inPlace && !options.backupSuffix.empty();
        const std::string backup = input + options.backupSuffix;
        if (backingUp && !keepBackup(input, options.backupSuffix, made, error)) {
            diagnostics.error(
                input, 0, 0, "cannot keep the original as '" + backup + "': " + error + "; the file is left as it was");
            status = 2;
            continue;
        }
        if (!file.commit()) {
            diagnostics.error(target, 0, 0, "cannot write: " + file.error());
            if (backingUp)
                ::unlink(made.c_str()); // the older backup stays
            status = 2;
        } else if (backingUp && std::rename(made.c_str(), backup.c_str()) != 0) {
            diagnostics.error(input, 0, 0,
                              "rewritten, but the original could not take the name '" + backup +
                                  "': " + std::strerror(errno) + "; it is kept as '" + made + "'");
            status = 2;
        }
    }
    return status;
}
