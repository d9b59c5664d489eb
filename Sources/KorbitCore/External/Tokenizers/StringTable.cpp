#include "KorbitCore/External/Tokenizers/StringTable.hpp"

#include <bit>
#include <cstring>

namespace korbit {

std::uint64_t StringTable::hashOf(std::string_view text) {
    // FNV-1a over 8-byte words, then a final mix: fast on the short texts of a vocabulary.
    std::uint64_t h = 0xcbf29ce484222325ull ^ text.size();
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        h = (h ^ word) * 0x100000001b3ull;
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, text.data() + i, text.size() - i);
    h = (h ^ tail) * 0x100000001b3ull;
    h ^= h >> 32;
    h *= 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 29);
}

void StringTable::reserve(std::size_t count, std::size_t bytes) {
    arena_.reserve(bytes);
    entries_.reserve(count);
    const std::size_t wanted = std::bit_ceil(std::max<std::size_t>(16, count * 2));
    if (wanted > slots_.size()) rehash(wanted);
}

void StringTable::rehash(std::size_t slotCount) {
    slots_.assign(slotCount, -1);
    mask_ = slotCount - 1;
    for (std::size_t n = 0; n < entries_.size(); ++n) {
        std::size_t i = entries_[n].hash & mask_;
        while (slots_[i] >= 0) i = (i + 1) & mask_;
        slots_[i] = static_cast<std::int32_t>(n);
    }
}

std::int32_t StringTable::find(std::string_view wanted) const {
    if (slots_.empty()) return -1;
    const std::uint64_t hash = hashOf(wanted);
    for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
        const std::int32_t n = slots_[i];
        if (n < 0) return -1;
        const Entry& e = entries_[static_cast<std::size_t>(n)];
        if (e.hash == hash && e.length == wanted.size() &&
            std::memcmp(arena_.data() + e.offset, wanted.data(), wanted.size()) == 0) {
            return n;
        }
    }
}

std::int32_t StringTable::intern(std::string_view added) {
    if ((entries_.size() + 1) * 2 > slots_.size())
        rehash(std::bit_ceil(std::max<std::size_t>(16, (entries_.size() + 1) * 4)));
    const std::uint64_t hash = hashOf(added);
    std::size_t i = hash & mask_;
    for (;; i = (i + 1) & mask_) {
        const std::int32_t n = slots_[i];
        if (n < 0) break;
        const Entry& e = entries_[static_cast<std::size_t>(n)];
        if (e.hash == hash && e.length == added.size() &&
            std::memcmp(arena_.data() + e.offset, added.data(), added.size()) == 0) {
            return n;
        }
    }
    const auto n = static_cast<std::int32_t>(entries_.size());
    entries_.push_back(
        Entry{static_cast<std::uint32_t>(arena_.size()), static_cast<std::uint32_t>(added.size()), hash});
    arena_.append(added);
    slots_[i] = n;
    return n;
}

}  // namespace korbit
