#include "Tremolan/Core/Facade/ModelUseLock.hpp"

#include <stdexcept>
#include <unordered_map>

namespace tremolan {

std::size_t& ModelUseLock::sharedDepthOfThisThread() const {
    thread_local std::unordered_map<const ModelUseLock*, std::size_t> depths;
    return depths[this];
}

bool ModelUseLock::ownedByThisThread() const {
    std::lock_guard guard(mutex_);
    return exclusiveDepth_ > 0 && owner_ == std::this_thread::get_id();
}

void ModelUseLock::checkMayChange() const {
    if (sharedDepthOfThisThread() > 0)
        throw std::logic_error("Models cannot be loaded or unloaded from inside a transcription that uses them");
}

void ModelUseLock::lock() {
    const auto me = std::this_thread::get_id();
    std::unique_lock guard(mutex_);
    if (exclusiveDepth_ > 0 && owner_ == me) {
        ++exclusiveDepth_;
        return;
    }
    checkMayChange();
    ++writersWaiting_;
    changed_.wait(guard, [&] { return exclusiveDepth_ == 0 && readers_ == 0; });
    --writersWaiting_;
    owner_ = me;
    exclusiveDepth_ = 1;
}

void ModelUseLock::unlock() {
    std::lock_guard guard(mutex_);
    if (--exclusiveDepth_ == 0) {
        owner_ = {};
        changed_.notify_all();
    }
}

void ModelUseLock::lock_shared() {
    const auto me = std::this_thread::get_id();
    std::unique_lock guard(mutex_);
    if (exclusiveDepth_ > 0 && owner_ == me) {
        // Inside a change on this thread: the models are this thread's already.
        ++exclusiveDepth_;
        return;
    }
    std::size_t& depth = sharedDepthOfThisThread();
    // A nested use must not queue behind a waiting change, which would wait for it in turn.
    if (depth == 0) changed_.wait(guard, [&] { return exclusiveDepth_ == 0 && writersWaiting_ == 0; });
    ++depth;
    ++readers_;
}

void ModelUseLock::unlock_shared() {
    std::lock_guard guard(mutex_);
    std::size_t& depth = sharedDepthOfThisThread();
    if (depth == 0) {
        // The nested use of an exclusive holder.
        if (--exclusiveDepth_ == 0) {
            owner_ = {};
            changed_.notify_all();
        }
        return;
    }
    --depth;
    if (--readers_ == 0) changed_.notify_all();
}

void ModelUseLock::downgrade() {
    std::lock_guard guard(mutex_);
    if (exclusiveDepth_ == 0 || owner_ != std::this_thread::get_id())
        throw std::logic_error("Only an exclusive hold can become a shared one");
    // Inside an outer change of this thread the hold stays a nested one, which unlock_shared
    // releases as such.
    if (exclusiveDepth_ > 1) return;
    exclusiveDepth_ = 0;
    owner_ = {};
    ++sharedDepthOfThisThread();
    ++readers_;
    changed_.notify_all();
}

}  // namespace tremolan
