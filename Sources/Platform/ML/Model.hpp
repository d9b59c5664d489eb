#pragma once

// A model loaded from a bundle: its description, its configuration, and prediction from named
// inputs to named outputs.

#include "Platform/ML/BundleManifest.hpp"
#include "Platform/ML/FeatureProvider.hpp"
#include "Platform/ML/ModelConfiguration.hpp"
#include "Platform/ML/ModelDescription.hpp"
#include "Platform/Sys/Mutex.hpp"

#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace platform::ml {

class Network;

/// The state of a stateful prediction. The speech networks keep no state between calls (the decoder's
/// cache is held by the caller), so a state only marks the calls that belong together.
class MLState {};

class MLModel {
public:
    /// Loads the bundle at `url`: a `<Name>.mlmodelc` folder, a `<Name>.mlpackage` folder, or the
    /// description file inside either. Weights are memory-mapped, converted once and released.
    /// Every problem throws MLModelError naming it; nothing is left half-built.
    static std::shared_ptr<MLModel> load(const std::filesystem::path& url,
                                         const MLModelConfiguration& configuration = {});
    ~MLModel();

    const MLModelDescription& modelDescription() const { return description_; }
    const MLModelConfiguration& configuration() const { return configuration_; }
    const std::filesystem::path& url() const { return url_; }
    BundleKind kind() const { return manifest_.kind; }
    const Hyperparameters& hyperparameters() const { return manifest_.hparams; }

    /// Runs the model. Inputs are looked up by exact name (extra ones are ignored); a missing input, a
    /// value that is not a multi-array, a wrong shape or an element type the model cannot take throws
    /// MLModelError. Calls on one model may run at once, up to the configuration's maxInstances:
    /// each runs on a network instance of its own (a clone of the loaded one sharing its weights,
    /// kept for later calls until releaseIdleInstances), preferably the one whose cache was made
    /// from the same inputs; a call beyond the bound waits for an instance.
    std::shared_ptr<MLFeatureProvider> prediction(const MLFeatureProvider& input,
                                                  const MLPredictionOptions& options = {}) const;
    std::shared_ptr<MLFeatureProvider> prediction(const MLFeatureProvider& input, MLState& state,
                                                  const MLPredictionOptions& options = {}) const;
    std::unique_ptr<MLState> makeState() const { return std::make_unique<MLState>(); }

    /// The same over plain maps of arrays.
    std::map<std::string, MLMultiArray> predict(const std::map<std::string, MLMultiArray>& inputs) const;
    /// The same from a provider, the outputs as the plain map the network made (nothing copied).
    std::map<std::string, MLMultiArray> predict(const MLFeatureProvider& input) const { return run(input); }

    /// Drops the clones no prediction uses now, with their scratch and caches (for a large decoder
    /// about 245 MB each); the loaded instance stays. For when the calls that ran together are over.
    void releaseIdleInstances() const;
    /// The instances alive: the loaded one and the clones, predicting or idle.
    std::size_t instanceCount() const;
    /// The most instances that may be alive at once.
    std::size_t instanceLimit() const { return instanceLimit_; }

private:
    MLModel() = default;
    std::map<std::string, MLMultiArray> run(const MLFeatureProvider& input) const;

    std::filesystem::path url_;
    MLModelConfiguration configuration_;
    BundleManifest manifest_;
    MLModelDescription description_;
    /// A network instance taken for one prediction; given back when it ends.
    class Lease;

    const Network* loaded_ = nullptr;  // the loaded instance, which clones copy
    std::size_t instanceLimit_ = 1;
    mutable platform::sys::Mutex mutex_;
    // Calls waiting for an instance wait on returned_.
    mutable std::condition_variable returned_;
    // The instances not predicting now: the loaded one and the clones made for calls that came
    // while every instance was busy.
    mutable std::vector<std::unique_ptr<Network>> idle_ VELMORA_GUARDED_BY(mutex_);
    // Idle and predicting, clones being made included.
    mutable std::size_t instances_ VELMORA_GUARDED_BY(mutex_) = 1;
    // Cleared when the network turns out to have no clones: calls then take turns on the one.
    mutable bool cloneable_ VELMORA_GUARDED_BY(mutex_) = true;
};

}  // namespace platform::ml
