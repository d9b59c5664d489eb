#include "KorbitCoreTests/Hub/HubTestSupport.hpp"

#include "KorbitCore/External/Hub/NetworkMonitor.hpp"

#include <chrono>
#include <thread>

using namespace std::chrono_literals;

namespace velmora::test {

void settleNetworkState(bool connected) {
    platform::net::NetworkPath path;
    path.status =
        connected ? platform::net::NetworkPath::Status::satisfied : platform::net::NetworkPath::Status::unsatisfied;
    testNetwork().setPath(path);
    auto& state = korbit::NetworkMonitor::shared().state();
    // The monitor's thread takes the change in; a busy machine may be slow to run it.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (state.isConnected() != connected && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(2ms);
    ASSERT_EQ(state.isConnected(), connected);
}

std::string patternedBytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<char>(x >> 24);
    }
    return bytes;
}

void HubTest::addFile(const std::string& repoId, const std::string& name, const std::string& contents,
                      const std::string& kind) {
    writeFile(root.path() / kind / repoId / name, contents);
}

korbit::HubApiTiming HubTest::fastTiming() {
    korbit::HubApiTiming timing;
    // Idle time-outs far above any pause of a busy machine (no test here waits for one to pass);
    // short retry waits and small chunks keep the transfers quick.
    timing.requestTimeout = 10s;
    timing.transfer.requestTimeout = 10s;
    timing.transfer.retryWait = 10ms;
    timing.chunkSize = kChunk;
    return timing;
}

korbit::HubApi HubTest::makeHub(std::optional<std::string> token) const {
    return korbit::HubApi(cache.path(), std::move(token), hub.endpoint(), false, fastTiming());
}

std::vector<HubRequest> HubTest::fileGets() const {
    std::vector<HubRequest> gets;
    for (auto& request : hub.requests()) {
        if (request.method == "GET" && request.target.rfind("/api/", 0) != 0) gets.push_back(request);
    }
    return gets;
}

}  // namespace velmora::test
