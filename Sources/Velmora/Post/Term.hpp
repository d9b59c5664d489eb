#pragma once

#include "KorbitCore/UUID.hpp"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

/// One glossary entry: how a word is spelt and how the recogniser tends to hear it.
struct Term {
    korbit::UUID id;
    std::string canonical;
    /// Heard forms replaced by the canonical spelling.
    std::vector<std::string> variants;
    /// Whether the spelling is handed to the engines as a hint word.
    bool hint = true;
    /// Whole seconds, as the file keeps it.
    std::chrono::sys_seconds addedAt{};
    /// Replacements made so far.
    std::int64_t hits = 0;

    bool operator==(const Term&) const = default;
};

}  // namespace velmora
