#pragma once

// An on-device engine for the controller's and the recorder's tests: its download writes a file
// that stands for the model, its loading and transcriptions can be held at a gate or made to fail, transcriptions
// answer what the test scripts, and it counts every call.

#include "Velmora/STT/LocalModelEngine.hpp"

#include "Support/Gate.hpp"
#include "Support/TestEnvironment.hpp"

#include "KorbitCore/CancellationError.hpp"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

namespace velmora::test {

class FakeModelEngine : public LocalModelEngine {
public:
    explicit FakeModelEngine(std::filesystem::path folder) : folder_(std::move(folder)) {}

    std::filesystem::path modelFolder() const override { return folder_; }

    /// As the real one: a stop request ends it (at its gate) with nothing written.
    void download(std::function<void(double)> onProgress, std::stop_token stop = {}) override {
        ++downloads;
        for (double p : progressSteps) onProgress(p);
        if (!downloadGate.pass(stop)) throw korbit::CancellationError();
        if (!downloadError.empty()) throw std::runtime_error(downloadError);
        putModelOnDisk();
    }
    bool hasModelFiles() const override {
        std::error_code ec;
        return std::filesystem::exists(folder_ / kStandIn, ec);
    }
    void load(std::stop_token stop = {}) override {
        ++loads;
        if (!loadGate.pass(stop)) {
            // This loading is over: an unload during it concerns no later one.
            unloadedDuringLoad = false;
            throw korbit::CancellationError();
        }
        if (!loadError.empty()) throw std::runtime_error(loadError);
        // As the real engine: an unload during the loading leaves it unloaded and fails the waiters.
        if (unloadedDuringLoad.exchange(false)) throw std::runtime_error("unloaded while loading");
        loaded = true;
    }
    void unload() override {
        ++unloads;
        loaded = false;
        if (loadGate.waiting() > 0) unloadedDuringLoad = true;
    }
    bool isLoaded() const override { return loaded; }
    std::string transcribe(const std::vector<float>& samples, const std::string& language) override {
        {
            std::lock_guard guard(mutex_);
            chunks_.push_back(samples);
            languages_.push_back(language);
        }
        transcribeGate.pass();
        if (!transcriber) throw std::runtime_error("no transcriber");
        return transcriber(samples);
    }

    /// The chunks handed to transcribe so far, in the order of the calls.
    std::vector<std::vector<float>> transcribed() {
        std::lock_guard guard(mutex_);
        return chunks_;
    }
    std::vector<std::string> languages() {
        std::lock_guard guard(mutex_);
        return languages_;
    }

    void putModelOnDisk() { writeFile(folder_ / kStandIn / "weights.bin", "w"); }
    /// The entry of the model folder that stands for a whole model.
    static constexpr const char* kStandIn = "MelSpectrogram.mlmodelc";

    std::vector<double> progressSteps = {0.25, 0.5};
    std::string downloadError;
    std::string loadError;
    Gate downloadGate;
    Gate loadGate;
    Gate transcribeGate;
    /// The text of a chunk; may throw. Called on the recorder's workers.
    std::function<std::string(const std::vector<float>&)> transcriber;
    std::atomic<int> downloads = 0;
    std::atomic<int> loads = 0;
    std::atomic<int> unloads = 0;
    std::atomic<bool> loaded = false;
    std::atomic<bool> unloadedDuringLoad = false;

private:
    std::filesystem::path folder_;
    std::mutex mutex_;
    std::vector<std::vector<float>> chunks_;
    std::vector<std::string> languages_;
};

}  // namespace velmora::test
