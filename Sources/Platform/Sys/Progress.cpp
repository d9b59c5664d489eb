#include "Platform/Sys/Progress.hpp"

#include <algorithm>

namespace platform::sys {

std::shared_ptr<Progress> Progress::make(std::int64_t totalUnitCount) {
    return std::shared_ptr<Progress>(new Progress(totalUnitCount));
}

std::int64_t Progress::totalUnitCount() const {
    std::lock_guard lock(mutex_);
    return total_;
}

void Progress::setTotalUnitCount(std::int64_t count) {
    std::lock_guard lock(mutex_);
    total_ = count;
}

std::int64_t Progress::completedUnitCount() const {
    std::lock_guard lock(mutex_);
    return completed_;
}

void Progress::setCompletedUnitCount(std::int64_t count) {
    update([count](std::int64_t) { return count; });
}

void Progress::update(const std::function<std::int64_t(std::int64_t)>& change, const Progress* finishedChild) {
    std::shared_ptr<Progress> parent;
    {
        std::lock_guard lock(mutex_);
        if (finishedChild) {
            auto it = std::find_if(children_.begin(), children_.end(),
                                   [&](const Child& c) { return c.progress.get() == finishedChild; });
            if (it == children_.end()) return;
            std::int64_t pending = it->pending;
            children_.erase(it);
            completed_ += pending;
        } else {
            bool wasFinished = total_ > 0 && completed_ >= total_;
            completed_ = change(completed_);
            if (wasFinished) return;
        }
        if (total_ > 0 && completed_ >= total_) parent = parent_.lock();
    }
    // The parent's lock is taken only after this one is released: locks are never nested.
    if (parent) parent->update({}, this);
}

double Progress::fractionCompleted() const {
    std::int64_t total, completed;
    std::vector<Child> children;
    {
        std::lock_guard lock(mutex_);
        total = total_;
        completed = completed_;
        children = children_;
    }
    if (total <= 0) return 0;
    double units = static_cast<double>(completed);
    for (const auto& child : children) {
        units += std::clamp(child.progress->fractionCompleted(), 0.0, 1.0) * static_cast<double>(child.pending);
    }
    return units / static_cast<double>(total);
}

bool Progress::isFinished() const {
    std::lock_guard lock(mutex_);
    return total_ > 0 && completed_ >= total_;
}

void Progress::addChild(const std::shared_ptr<Progress>& child, std::int64_t pendingUnitCount) {
    {
        std::lock_guard lock(child->mutex_);
        child->parent_ = weak_from_this();
    }
    if (child->isFinished()) {
        update([pendingUnitCount](std::int64_t completed) { return completed + pendingUnitCount; });
        return;
    }
    std::lock_guard lock(mutex_);
    children_.push_back(Child{child, pendingUnitCount});
}

void Progress::setUserInfo(const std::string& key, double value) {
    std::lock_guard lock(mutex_);
    userInfo_[key] = value;
}

std::optional<double> Progress::userInfo(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = userInfo_.find(key);
    if (it == userInfo_.end()) return std::nullopt;
    return it->second;
}

}  // namespace platform::sys
