#include "KorbitCore/External/Tokenizers/WordCache.hpp"

namespace korbit {

bool WordCache::append(std::string_view word, std::vector<int>& ids) const {
    if (word.size() > kMaxWordBytes) return false;
    const std::size_t hash = Hash{}(word);
    const Shard& shard = shardOf(hash);
    std::lock_guard guard(shard.lock);
    auto it = shard.words.find(word);
    if (it == shard.words.end()) return false;
    ids.insert(ids.end(), it->second.begin(), it->second.end());
    return true;
}

void WordCache::insert(std::string_view word, const int* ids, std::size_t count) const {
    if (word.size() > kMaxWordBytes) return;
    const Shard& shard = shardOf(Hash{}(word));
    std::lock_guard guard(shard.lock);
    if (shard.words.size() >= kShardCapacity) shard.words.clear();
    shard.words.try_emplace(std::string(word), ids, ids + count);
}

}  // namespace korbit
