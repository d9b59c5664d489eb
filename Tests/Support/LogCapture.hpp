#pragma once

// Collects the messages the shared library logger delivers while the object lives, at the
// given level and above; restores a silent logger without a callback afterwards.

#include "KorbitCore/Logging.hpp"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace velmora::test {

class LogCapture {
public:
    explicit LogCapture(korbit::Logging::LogLevel level = korbit::Logging::LogLevel::debug) {
        korbit::Logging::updateCallback([this](const std::string& text) {
            std::lock_guard guard(mutex_);
            messages_.push_back(text);
        });
        korbit::Logging::updateLogLevel(level);
    }
    ~LogCapture() {
        korbit::Logging::updateLogLevel(korbit::Logging::LogLevel::none);
        korbit::Logging::updateCallback(nullptr);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> messages() const {
        std::lock_guard guard(mutex_);
        return messages_;
    }
    long count(const std::string& message) const {
        std::lock_guard guard(mutex_);
        return std::count(messages_.begin(), messages_.end(), message);
    }
    void clear() {
        std::lock_guard guard(mutex_);
        messages_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
};

}  // namespace velmora::test
