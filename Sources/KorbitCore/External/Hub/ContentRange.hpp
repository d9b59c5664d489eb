#pragma once

// The Content-Range field of a ranged reply: "bytes 10-99/100" or "bytes */100".

#include <cstdint>
#include <optional>
#include <string>

namespace korbit {

struct ContentRange {
    /// The first byte sent; -1 for "*".
    std::int64_t start = -1;
    /// The whole file's size; -1 for "*".
    std::int64_t total = -1;

    /// Absent for a missing field or one of another form.
    static std::optional<ContentRange> parse(const std::optional<std::string>& value);
};

}  // namespace korbit
