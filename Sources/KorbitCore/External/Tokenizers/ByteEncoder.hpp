#pragma once

// The fixed tables through which byte-level tokenizers write bytes as printable characters: the
// 188 printable bytes (0x21-0x7E, 0xA1-0xAC, 0xAE-0xFF) stand for themselves, the other 68 bytes,
// in ascending order, for U+0100 to U+0143. Built once; safe to read from any thread.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace korbit {

/// Byte -> its one-character string (UTF-8).
const std::array<std::string, 256>& byteEncoder();
/// One-character string (UTF-8) -> its byte; the inverse of byteEncoder.
const std::unordered_map<std::string, std::uint8_t>& byteDecoder();

/// The byte a character stands for, or -1 when the character is not in the table.
int byteForScalar(char32_t scalar);
/// Appends the byte-level form of every byte of `bytes` to `out`.
void appendByteLevel(std::string& out, std::string_view bytes);

}  // namespace korbit
