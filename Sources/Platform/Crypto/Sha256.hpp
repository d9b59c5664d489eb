#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform::crypto {

/// Streaming SHA-256 over libcrypto.
class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* data, std::size_t size);
    void update(std::string_view bytes) { update(bytes.data(), bytes.size()); }
    /// Finishes the digest; the object starts over afterwards.
    Digest finish();

    static std::string toHex(const Digest& digest);
    /// Lower-case hexadecimal digest of the bytes.
    static std::string hex(std::string_view bytes);

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

}  // namespace platform::crypto
