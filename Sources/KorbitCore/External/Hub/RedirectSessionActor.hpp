#pragma once

#include "Platform/Net/Session.hpp"

#include <memory>
#include <mutex>

namespace korbit {

/// Holds the one session on which HEAD probes are sent, made with the redirect policy of
/// RedirectDelegate on first use and kept for the life of the process.
class RedirectSessionActor {
public:
    std::shared_ptr<platform::net::Session> get();

private:
    std::mutex mutex_;
    std::shared_ptr<platform::net::Session> urlSession_;
};

}  // namespace korbit
