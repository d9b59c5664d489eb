#pragma once

// The byte-pair model's merge list as an open-addressing table from a pair of symbol numbers to
// the merge's rank. Looked up for every adjacent pair of every word, so it is one flat array probed
// linearly, and as small as the numbers allow: when both symbols and the rank fit in 64 bits
// together (any real vocabulary), a slot is those 8 bytes, and a list of 50k merges takes 1 MiB,
// which stays in a core's cache.

#include <cstdint>
#include <span>
#include <vector>

namespace korbit {

class MergeTable {
public:
    /// One merge of the list: the pair and the symbol it makes.
    struct Entry {
        std::int32_t a;
        std::int32_t b;
        std::int32_t merged;
    };

    MergeTable() = default;
    /// The merges in rank order (symbols are not negative); a pair listed twice keeps its last rank.
    explicit MergeTable(std::span<const Entry> entries);

    /// The rank of the merge of (a, b), -1 when the list has none.
    std::int32_t rank(std::int32_t a, std::int32_t b) const {
        if (a < 0 || b < 0 || a > maxSymbol_ || b > maxSymbol_) return -1;
        const std::uint64_t key = (std::uint64_t(a) << symbolBits_) | std::uint64_t(b);
        if (!packed_.empty()) {
            for (std::size_t i = indexOf(key);; i = (i + 1) & mask_) {
                const std::uint64_t slot = packed_[i];
                if ((slot >> rankBits_) == key) return static_cast<std::int32_t>(slot & rankMask_);
                if (slot == kEmpty) return -1;
            }
        }
        if (wide_.empty()) return -1;
        for (std::size_t i = indexOf(key);; i = (i + 1) & mask_) {
            const WideSlot& slot = wide_[i];
            if (slot.key == key) return slot.rank;
            if (slot.key == kEmpty) return -1;
        }
    }
    /// The symbol the merge of a rank makes.
    std::int32_t merged(std::int32_t rank) const { return merged_[static_cast<std::size_t>(rank)]; }
    std::size_t size() const { return size_; }

private:
    struct WideSlot {
        std::uint64_t key;
        std::int32_t rank;
    };
    static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};

    std::size_t indexOf(std::uint64_t key) const {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
    }

    std::vector<std::uint64_t> packed_;  // key above the rank's bits, or kEmpty
    std::vector<WideSlot> wide_;         // when the packed form does not fit
    std::vector<std::int32_t> merged_;   // by rank
    std::int32_t maxSymbol_ = -1;
    unsigned symbolBits_ = 0;
    unsigned rankBits_ = 0;
    std::uint64_t rankMask_ = 0;
    std::size_t mask_ = 0;
    unsigned shift_ = 64;
    std::size_t size_ = 0;
};

}  // namespace korbit
