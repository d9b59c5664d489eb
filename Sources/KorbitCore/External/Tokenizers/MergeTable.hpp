#pragma once

// The byte-pair model's merge list as an open-addressing table from a pair of symbol numbers to
// the merge's rank and the symbol it makes. Looked up for every adjacent pair of every word, so it
// is one flat array probed linearly rather than a node-based map.

#include <cstdint>
#include <optional>
#include <vector>

namespace korbit {

class MergeTable {
public:
    struct Merge {
        std::int32_t rank;
        std::int32_t merged;
    };

    void reserve(std::size_t count);
    /// Sets the merge of (a, b), replacing an earlier one (a pair listed twice keeps its last rank).
    void insert(std::int32_t a, std::int32_t b, Merge merge);
    const Merge* find(std::int32_t a, std::int32_t b) const {
        if (slots_.empty()) return nullptr;
        const std::uint64_t key = keyOf(a, b);
        for (std::size_t i = indexOf(key);; i = (i + 1) & mask_) {
            const Slot& slot = slots_[i];
            if (slot.key == key) return &slot.merge;
            if (slot.key == kEmpty) return nullptr;
        }
    }
    std::size_t size() const { return size_; }

private:
    struct Slot {
        std::uint64_t key;
        Merge merge;
    };
    static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};

    static std::uint64_t keyOf(std::int32_t a, std::int32_t b) {
        return (std::uint64_t(std::uint32_t(a)) << 32) | std::uint32_t(b);
    }
    std::size_t indexOf(std::uint64_t key) const {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
    }
    void grow();

    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
    unsigned shift_ = 64;
    std::size_t size_ = 0;
};

}  // namespace korbit
