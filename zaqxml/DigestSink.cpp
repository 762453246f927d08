// SPDX-License-Identifier: Apache-2.0
// DigestSink.cpp - EVP digests and base64 from libcrypto.
#include "DigestSink.h"

#include <openssl/evp.h>

#include <stdexcept>
#include <vector>

namespace {

const EVP_MD* digestOf(const std::string& algorithm) {
    if (algorithm == "sha1")
        return EVP_sha1();
    if (algorithm == "sha256")
        return EVP_sha256();
    if (algorithm == "sha384")
        return EVP_sha384();
    if (algorithm == "sha512")
        return EVP_sha512();
    return nullptr;
}

} // namespace

struct DigestSink::Context {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(md); }
};

bool DigestSink::known(const std::string& algorithm) { return digestOf(algorithm) != nullptr; }

DigestSink::DigestSink(const std::string& algorithm) : iContext(std::make_unique<Context>()) {
    const EVP_MD* md = digestOf(algorithm);
    if (md == nullptr)
        throw std::invalid_argument("unknown digest '" + algorithm + "'");
    if (iContext->md == nullptr || EVP_DigestInit_ex(iContext->md, md, nullptr) != 1)
        throw std::runtime_error("cannot start a " + algorithm + " digest");
}

DigestSink::~DigestSink() = default;

bool DigestSink::write(const char* data, std::size_t size) { return EVP_DigestUpdate(iContext->md, data, size) == 1; }

std::string DigestSink::base64() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(iContext->md, digest, &length) != 1)
        return std::string();
    std::vector<unsigned char> text(4 * ((length + 2) / 3) + 1);
    const int written = EVP_EncodeBlock(text.data(), digest, static_cast<int>(length));
    return std::string(reinterpret_cast<const char*>(text.data()), static_cast<std::size_t>(written));
}
