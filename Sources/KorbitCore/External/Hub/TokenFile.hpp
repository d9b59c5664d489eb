#pragma once

// Reading the hub token from a file the user keeps it in.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace korbit {

/// The most a token file may hold: a token is some dozens of bytes.
inline constexpr std::size_t kMaxTokenFileBytes = 64 << 10;

/// The token a file holds: its text, valid UTF-8, without the line break (and blanks) an editor
/// leaves at its end. Absent when nothing is there or the text is no UTF-8; absent too, said once
/// in the system log naming the path, when it is no regular file (a named pipe would never end the
/// opening, /dev/zero never the reading), is larger than kMaxTokenFileBytes or cannot be read.
std::optional<std::string> readTokenFile(const std::filesystem::path& path);

}  // namespace korbit
