#include "KorbitCore/External/Tokenizers/MergeTable.hpp"

#include <algorithm>
#include <bit>

namespace korbit {

MergeTable::MergeTable(std::span<const Entry> entries) {
    if (entries.empty()) return;
    for (const Entry& entry : entries) maxSymbol_ = std::max({maxSymbol_, entry.a, entry.b});
    // The a field of an empty slot (all ones) lies above every symbol, so it matches no key.
    symbolBits_ = static_cast<unsigned>(std::bit_width(static_cast<std::uint32_t>(maxSymbol_) + 1));
    const unsigned keyBits = 2 * symbolBits_;
    const auto wantedRankBits = static_cast<unsigned>(std::bit_width(entries.size()));
    const bool packed = keyBits + wantedRankBits <= 64;
    rankBits_ = packed ? 64 - keyBits : 0;
    rankMask_ = packed ? (std::uint64_t{1} << rankBits_) - 1 : 0;  // a key takes at least 2 bits

    const std::size_t slotCount = std::bit_ceil(std::max<std::size_t>(16, entries.size() * 2));
    mask_ = slotCount - 1;
    shift_ = 64 - static_cast<unsigned>(std::countr_zero(slotCount));
    if (packed) {
        packed_.assign(slotCount, kEmpty);
    } else {
        wide_.assign(slotCount, WideSlot{kEmpty, 0});
    }
    merged_.resize(entries.size());
    for (std::size_t rank = 0; rank < entries.size(); ++rank) {
        const Entry& entry = entries[rank];
        merged_[rank] = entry.merged;
        const std::uint64_t key = (std::uint64_t(entry.a) << symbolBits_) | std::uint64_t(entry.b);
        for (std::size_t i = indexOf(key);; i = (i + 1) & mask_) {
            if (packed) {
                std::uint64_t& slot = packed_[i];
                const bool empty = slot == kEmpty;
                if (!empty && (slot >> rankBits_) != key) continue;
                slot = (key << rankBits_) | rank;
                size_ += empty;
            } else {
                WideSlot& slot = wide_[i];
                const bool empty = slot.key == kEmpty;
                if (!empty && slot.key != key) continue;
                slot = WideSlot{key, static_cast<std::int32_t>(rank)};
                size_ += empty;
            }
            break;
        }
    }
}

}  // namespace korbit
