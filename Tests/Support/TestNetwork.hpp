#pragma once

// The network path every path monitor of a test program sees, so that no test depends on the
// machine's own network. Including this header installs it as the monitors' default source
// before the first test runs; tests change it with testNetwork().setPath(...).

#include "Platform/Net/NetworkPath.hpp"
#include "Platform/Net/PathMonitor.hpp"

#include <gtest/gtest.h>

#include <memory>

namespace velmora::test {

/// Connected until a test says otherwise.
inline platform::net::ManualPathSource& testNetwork() {
    static platform::net::ManualPathSource source;
    return source;
}

namespace detail {

class TestNetworkEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        platform::net::PathMonitor::setDefaultSourceFactory(
            [] { return std::shared_ptr<platform::net::PathSource>(&testNetwork(), [](auto*) {}); });
    }
};

inline ::testing::Environment* const testNetworkEnvironment =
    ::testing::AddGlobalTestEnvironment(new TestNetworkEnvironment);

}  // namespace detail
}  // namespace velmora::test
