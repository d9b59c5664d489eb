#pragma once

// A bounded cache from a word to the ids it encodes to, shared by all threads using one model.
// Sharded by the word's hash, each shard under its own lock; a full shard is emptied and refilled,
// which keeps memory bounded without bookkeeping on every hit.

#include <array>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace korbit {

class WordCache {
public:
    static constexpr std::size_t kMaxWordBytes = 64;

    /// Appends the cached ids of the word to `ids`; false when the word is not cached.
    bool append(std::string_view word, std::vector<int>& ids) const;
    /// Remembers the ids of a word (words longer than kMaxWordBytes are not kept).
    void insert(std::string_view word, const int* ids, std::size_t count) const;

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
    };
    struct Shard {
        mutable std::mutex lock;
        mutable std::unordered_map<std::string, std::vector<int>, Hash, std::equal_to<>> words;
    };
    static constexpr std::size_t kShards = 16;
    static constexpr std::size_t kShardCapacity = 4096;  // 64k words in all, a few MB at most

    const Shard& shardOf(std::size_t hash) const { return shards_[(hash >> 7) % kShards]; }

    std::array<Shard, kShards> shards_;
};

}  // namespace korbit
