#pragma once

// One dictation of the history, and its line in "history.jsonl".

#include "KorbitCore/UUID.hpp"
#include "Velmora/Support/IsoDate.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

struct Dictation {
    korbit::UUID id;
    Date date;
    std::int64_t durationMs = 0;
    std::int64_t latencyMs = 0;
    std::string text;
    /// The front application at insertion.
    std::optional<std::string> appName;
    double costUSD = 0;
    std::optional<std::int64_t> charCount;
    std::optional<std::int64_t> wordCount;

    /// `wordCount` when present, otherwise the words of `text`.
    std::int64_t words() const;

    /// One compact JSON object with the fields' names as keys; absent optionals are left out.
    std::string toJsonLine() const;
    /// The record of one line; absent when the line is not a complete record.
    static std::optional<Dictation> fromJsonLine(std::string_view line);

    bool operator==(const Dictation&) const = default;
};

}  // namespace velmora
