#pragma once

#include "Platform/Net/Session.hpp"

#include <memory>
#include <mutex>

namespace korbit {

/// Holds the transfer engine's current session. Replacing it neither cancels nor invalidates
/// the replaced one.
class SessionActor {
public:
    void set(std::shared_ptr<platform::net::Session> session) {
        std::lock_guard lock(mutex_);
        urlSession_ = std::move(session);
    }
    std::shared_ptr<platform::net::Session> get() const {
        std::lock_guard lock(mutex_);
        return urlSession_;
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<platform::net::Session> urlSession_;
};

}  // namespace korbit
