#pragma once

#include "KorbitCore/External/Hub/NetworkStateActor.hpp"
#include "Platform/Net/PathMonitor.hpp"

#include <memory>

namespace korbit {

/// Watches the machine's network and keeps what it learns in a state object (also
/// `HubApi::NetworkMonitor`). Reports arrive on the monitor's own thread.
class NetworkMonitor {
public:
    static constexpr const char* kQueueLabel = "HubApi.NetworkMonitor";

    /// A started monitor of the default path source (the machine's network).
    NetworkMonitor();
    /// A started monitor of the given source.
    explicit NetworkMonitor(std::shared_ptr<platform::net::PathSource> source);
    NetworkMonitor(const NetworkMonitor&) = delete;
    NetworkMonitor& operator=(const NetworkMonitor&) = delete;

    /// The process's monitor, made and started on first use.
    static NetworkMonitor& shared();

    /// Installs the report handler and starts the path monitor; harmless when it runs already.
    void startMonitoring();

    NetworkStateActor& state() { return *state_; }
    const NetworkStateActor& state() const { return *state_; }

private:
    std::shared_ptr<NetworkStateActor> state_;
    platform::net::PathMonitor monitor_;
};

}  // namespace korbit
