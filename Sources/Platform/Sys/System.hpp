#pragma once

// Process and machine information, and the user's standard folders.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform::sys {

/// The value of an environment variable, absent when unset.
std::optional<std::string> environment(const char* name);

/// $HOME, else the password database's entry for the user; throws std::runtime_error when neither exists.
std::filesystem::path homeDirectory();
/// $XDG_DOCUMENTS_DIR, else ~/Documents.
std::filesystem::path documentsDirectory();
/// $XDG_DATA_HOME, else ~/.local/share.
std::filesystem::path dataHome();
std::filesystem::path temporaryDirectory();

/// Expands a leading "~" or "~user" to that home folder; other paths are returned unchanged,
/// and so is "~user" when the user is unknown.
std::string expandTilde(const std::string& path);

/// The first value of a field of /proc/cpuinfo ("model name", "cpu cores", ...), or "" when absent.
std::string cpuInfoField(std::string_view field);
/// The machine's product name (DMI), else the hardware architecture name.
std::string hardwareModel();
/// Resident memory of this process in bytes, 0 when unknown.
std::uint64_t residentMemoryBytes();
/// Number of processors currently online.
int activeProcessorCount();

}  // namespace platform::sys
