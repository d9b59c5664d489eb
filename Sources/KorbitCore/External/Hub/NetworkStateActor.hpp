#pragma once

#include <mutex>

namespace korbit {

/// What the network monitor last learnt (also `HubApi::NetworkStateActor`). Connected until the
/// first report says otherwise.
class NetworkStateActor {
public:
    bool isConnected() const;
    bool isExpensive() const;
    bool isConstrained() const;
    /// Applies one report whole.
    void update(bool connected, bool expensive, bool constrained);

    /// Offline when the last report said the network is unusable, unless CI_DISABLE_NETWORK_MONITOR
    /// is exactly "1" (then never).
    bool shouldUseOfflineMode() const;

private:
    mutable std::mutex mutex_;
    bool isConnected_ = true;
    bool isExpensive_ = false;
    bool isConstrained_ = false;
};

}  // namespace korbit
