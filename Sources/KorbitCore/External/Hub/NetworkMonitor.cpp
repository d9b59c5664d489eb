#include "KorbitCore/External/Hub/NetworkMonitor.hpp"

namespace korbit {

NetworkMonitor::NetworkMonitor() : NetworkMonitor(nullptr) {}

NetworkMonitor::NetworkMonitor(std::shared_ptr<platform::net::PathSource> source)
    : state_(std::make_shared<NetworkStateActor>()), monitor_(std::move(source)) {
    startMonitoring();
}

NetworkMonitor& NetworkMonitor::shared() {
    static NetworkMonitor monitor;
    return monitor;
}

void NetworkMonitor::startMonitoring() {
    // The handler holds the state weakly: a report that arrives as the monitor goes away is dropped.
    std::weak_ptr<NetworkStateActor> weakState = state_;
    monitor_.setUpdateHandler([weakState](const platform::net::NetworkPath& path) {
        if (auto state = weakState.lock()) {
            state->update(path.status == platform::net::NetworkPath::Status::satisfied, path.isExpensive,
                          path.isConstrained);
        }
    });
    monitor_.start(kQueueLabel);
}

}  // namespace korbit
