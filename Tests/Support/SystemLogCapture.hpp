#pragma once

// Collects the entries that reach the system log while the object lives; restores the default
// sink and the default minimum type (info) afterwards.

#include "Platform/Log/SystemLog.hpp"

#include <mutex>
#include <string>
#include <vector>

namespace velmora::test {

class SystemLogCapture {
public:
    explicit SystemLogCapture(platform::log::LogType minimum = platform::log::LogType::info) {
        platform::log::SystemLog::setMinimumType(minimum);
        platform::log::SystemLog::setSink([this](const platform::log::LogEntry& entry) {
            std::lock_guard guard(mutex_);
            entries_.push_back(entry);
        });
    }
    ~SystemLogCapture() {
        platform::log::SystemLog::setSink({});
        platform::log::SystemLog::setMinimumType(platform::log::LogType::info);
    }
    SystemLogCapture(const SystemLogCapture&) = delete;
    SystemLogCapture& operator=(const SystemLogCapture&) = delete;

    std::vector<platform::log::LogEntry> entries() const {
        std::lock_guard guard(mutex_);
        return entries_;
    }
    /// The entries' texts.
    std::vector<std::string> lines() const {
        std::lock_guard guard(mutex_);
        std::vector<std::string> texts;
        for (const auto& entry : entries_) texts.push_back(entry.text);
        return texts;
    }
    /// The texts of one category's entries ("audio").
    std::vector<std::string> lines(const std::string& category) const {
        std::lock_guard guard(mutex_);
        std::vector<std::string> texts;
        for (const auto& entry : entries_)
            if (entry.category == category) texts.push_back(entry.text);
        return texts;
    }
    void clear() {
        std::lock_guard guard(mutex_);
        entries_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<platform::log::LogEntry> entries_;
};

}  // namespace velmora::test
