#include "KorbitCore/External/Hub/NetworkStateActor.hpp"

#include "Platform/Sys/System.hpp"

namespace korbit {

bool NetworkStateActor::isConnected() const {
    std::lock_guard lock(mutex_);
    return isConnected_;
}

bool NetworkStateActor::isExpensive() const {
    std::lock_guard lock(mutex_);
    return isExpensive_;
}

bool NetworkStateActor::isConstrained() const {
    std::lock_guard lock(mutex_);
    return isConstrained_;
}

void NetworkStateActor::update(bool connected, bool expensive, bool constrained) {
    std::lock_guard lock(mutex_);
    isConnected_ = connected;
    isExpensive_ = expensive;
    isConstrained_ = constrained;
}

bool NetworkStateActor::shouldUseOfflineMode() const {
    if (platform::sys::environment("CI_DISABLE_NETWORK_MONITOR") == "1") return false;
    return !isConnected();
}

}  // namespace korbit
