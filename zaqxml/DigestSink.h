// SPDX-License-Identifier: Apache-2.0
// DigestSink.h - the digest of the bytes written, by OpenSSL's libcrypto.
#ifndef ZAQXML_DIGEST_SINK_H
#define ZAQXML_DIGEST_SINK_H

#include "XmlSink.h"

#include <memory>
#include <string>

/// Hashes what it is given instead of writing it, as a signature's
/// DigestValue is taken over canonical bytes.
class DigestSink : public zaq::XmlSink {
public:
    /// `algorithm`: sha1, sha256, sha384 or sha512; throws
    /// std::invalid_argument for another.
    explicit DigestSink(const std::string& algorithm);
    ~DigestSink() override;
    bool write(const char* data, std::size_t size) override;
    /// The digest of everything written, in base64 (once).
    std::string base64();
    /// Whether `algorithm` is one this sink takes.
    static bool known(const std::string& algorithm);

private:
    struct Context;
    std::unique_ptr<Context> iContext;
};

#endif
