#pragma once

// A meeting source for the recorder's tests: the test pushes samples as the capture thread would,
// and its start can be held at a gate or made to fail.

#include "Velmora/Audio/SampleSource.hpp"

#include "FakeModelEngine.hpp"

#include <atomic>
#include <functional>
#include <vector>

namespace velmora::test {

class FakeSampleSource : public SampleSource {
public:
    void start() override {
        ++starts;
        startGate.pass();
        if (failure) failure();
        running = true;
    }
    void stop() override {
        if (running) ++stops;
        running = false;
    }
    bool isRunning() const override { return running; }

    /// Delivers the samples to the callback, as the capture thread does.
    void push(const std::vector<float>& samples) const { deliver(samples.data(), samples.size()); }

    /// Throws what the start should fail with.
    std::function<void()> failure;
    Gate startGate;
    std::atomic<int> starts = 0;
    std::atomic<int> stops = 0;
    std::atomic<bool> running = false;
};

}  // namespace velmora::test
