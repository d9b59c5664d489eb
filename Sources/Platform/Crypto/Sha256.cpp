#include "Platform/Crypto/Sha256.hpp"

#include <openssl/evp.h>

#include <stdexcept>

namespace platform::crypto {

struct Sha256::Context {
    EVP_MD_CTX* ctx = nullptr;
};

namespace {
void startDigest(EVP_MD_CTX* ctx) {
    if (EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) != 1) throw std::runtime_error("SHA-256 initialisation failed");
}
}  // namespace

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    context_->ctx = EVP_MD_CTX_new();
    if (!context_->ctx) throw std::bad_alloc();
    startDigest(context_->ctx);
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(context_->ctx);
}

void Sha256::update(const void* data, std::size_t size) {
    if (size == 0) return;
    if (EVP_DigestUpdate(context_->ctx, data, size) != 1) throw std::runtime_error("SHA-256 update failed");
}

Sha256::Digest Sha256::finish() {
    Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_->ctx, digest.data(), &length) != 1 || length != digest.size()) {
        throw std::runtime_error("SHA-256 finalisation failed");
    }
    startDigest(context_->ctx);
    return digest;
}

std::string Sha256::toHex(const Digest& digest) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(64);
    for (std::uint8_t b : digest) {
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 0xF]);
    }
    return out;
}

std::string Sha256::hex(std::string_view bytes) {
    Sha256 hasher;
    hasher.update(bytes);
    return toHex(hasher.finish());
}

}  // namespace platform::crypto
