#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform::sys {

/// Progress of a task as unit counts, possibly made of child tasks: a child attached with a
/// pending count contributes its fraction times that count to its parent, and adds the whole
/// count once it finishes. Safe to use from several threads. Always held by std::shared_ptr.
class Progress : public std::enable_shared_from_this<Progress> {
public:
    /// The user-info key of the throughput in bytes per second.
    static constexpr const char* kThroughputKey = "NSProgressThroughputKey";

    static std::shared_ptr<Progress> make(std::int64_t totalUnitCount);

    std::int64_t totalUnitCount() const;
    void setTotalUnitCount(std::int64_t count);
    std::int64_t completedUnitCount() const;
    void setCompletedUnitCount(std::int64_t count);
    /// completed / total with the children's shares; 0 while the total is 0 or less.
    double fractionCompleted() const;
    bool isFinished() const;

    /// Attaches a child whose completion stands for `pendingUnitCount` units of this progress.
    void addChild(const std::shared_ptr<Progress>& child, std::int64_t pendingUnitCount);

    void setUserInfo(const std::string& key, double value);
    std::optional<double> userInfo(const std::string& key) const;

private:
    explicit Progress(std::int64_t total) : total_(total) {}
    /// Changes the completed count, or takes in a finished child's pending units; tells the
    /// parent when this progress becomes finished.
    void update(const std::function<std::int64_t(std::int64_t)>& change, const Progress* finishedChild = nullptr);

    struct Child {
        std::shared_ptr<Progress> progress;
        std::int64_t pending;
    };

    mutable std::mutex mutex_;
    std::int64_t total_;
    std::int64_t completed_ = 0;
    std::vector<Child> children_;
    std::weak_ptr<Progress> parent_;
    std::map<std::string, double> userInfo_;
};

}  // namespace platform::sys
