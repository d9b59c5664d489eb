#include "KorbitCore/EarlyStopActor.hpp"

namespace korbit {

void EarlyStopActor::set(bool value, const UUID& id) {
    std::lock_guard guard(mutex_);
    shouldStop_[id] = value;
}

bool EarlyStopActor::get(const UUID& id) const {
    std::lock_guard guard(mutex_);
    auto found = shouldStop_.find(id);
    return found != shouldStop_.end() && found->second;
}

std::optional<bool> EarlyStopActor::remove(const UUID& id) {
    std::lock_guard guard(mutex_);
    auto found = shouldStop_.find(id);
    if (found == shouldStop_.end()) return std::nullopt;
    bool value = found->second;
    shouldStop_.erase(found);
    return value;
}

}  // namespace korbit
