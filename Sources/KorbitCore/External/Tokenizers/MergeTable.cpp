#include "KorbitCore/External/Tokenizers/MergeTable.hpp"

#include <bit>

namespace korbit {

void MergeTable::reserve(std::size_t count) {
    const std::size_t wanted = std::bit_ceil(std::max<std::size_t>(16, count * 2));
    if (wanted <= slots_.size()) return;
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(wanted, Slot{kEmpty, Merge{0, 0}});
    mask_ = wanted - 1;
    shift_ = 64 - static_cast<unsigned>(std::countr_zero(wanted));
    size_ = 0;
    for (const Slot& slot : old) {
        if (slot.key != kEmpty)
            insert(static_cast<std::int32_t>(slot.key >> 32), static_cast<std::int32_t>(slot.key & 0xFFFFFFFFu),
                   slot.merge);
    }
}

void MergeTable::grow() {
    reserve(slots_.empty() ? 16 : slots_.size());
}

void MergeTable::insert(std::int32_t a, std::int32_t b, Merge merge) {
    if ((size_ + 1) * 2 > slots_.size()) grow();
    const std::uint64_t key = keyOf(a, b);
    for (std::size_t i = indexOf(key);; i = (i + 1) & mask_) {
        Slot& slot = slots_[i];
        if (slot.key == key) {
            slot.merge = merge;
            return;
        }
        if (slot.key == kEmpty) {
            slot = Slot{key, merge};
            ++size_;
            return;
        }
    }
}

}  // namespace korbit
