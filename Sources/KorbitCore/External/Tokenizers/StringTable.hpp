#pragma once

// An interning table of texts: each distinct text gets a dense number, kept in one arena, found by
// open addressing. A vocabulary of 50k tokens and 100k merge symbols builds in a few milliseconds
// and is searched without allocating.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korbit {

class StringTable {
public:
    void reserve(std::size_t count, std::size_t bytes);
    /// The number of the text, adding it when it is new. The text must not lie in this table.
    std::int32_t intern(std::string_view text);
    /// The number of the text, -1 when it is not in the table.
    std::int32_t find(std::string_view text) const;
    std::string_view text(std::int32_t index) const {
        const Entry& e = entries_[static_cast<std::size_t>(index)];
        return std::string_view(arena_).substr(e.offset, e.length);
    }
    std::size_t size() const { return entries_.size(); }

private:
    struct Entry {
        std::uint32_t offset;
        std::uint32_t length;
        std::uint64_t hash;
    };
    static std::uint64_t hashOf(std::string_view text);
    void rehash(std::size_t slotCount);

    std::string arena_;
    std::vector<Entry> entries_;
    std::vector<std::int32_t> slots_;  // entry number or -1
    std::size_t mask_ = 0;
};

}  // namespace korbit
