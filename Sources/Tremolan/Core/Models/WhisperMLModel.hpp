#pragma once

// What the three model components (mel spectrogram, audio encoder, text decoder) share: one
// loaded model that the facade loads, prewarms, unloads and asks about alike.

#include "KorbitCore/Extensions/CoreMLExtensions.hpp"
#include "KorbitCore/ModelState.hpp"
#include "Platform/ML/Model.hpp"

#include <filesystem>
#include <memory>

namespace tremolan {

class WhisperMLModel : public korbit::MLModelLoading {
public:
    using korbit::MLModelLoading::loadModel;

    /// The loaded model, if any. Not locked: nothing may load or unload while a transcription
    /// uses the component.
    virtual std::shared_ptr<platform::ml::MLModel> model() const { return model_; }
    virtual void setModel(std::shared_ptr<platform::ml::MLModel> model) { model_ = std::move(model); }

    /// Loads the bundle at `modelPath` for the compute units. In prewarm mode the loaded model is
    /// released at once (the load only readies what later loads reuse) and the component stays
    /// unloaded. A failed load throws the runtime's error and keeps the previous model.
    void loadModel(const std::filesystem::path& modelPath, platform::ml::MLComputeUnits computeUnits,
                   bool prewarmMode) override;
    void unloadModel() override { setModel(nullptr); }

    /// loaded while a model is held, else unloaded.
    korbit::ModelState modelState() const {
        return model() ? korbit::ModelState::loaded : korbit::ModelState::unloaded;
    }

private:
    std::shared_ptr<platform::ml::MLModel> model_;
};

}  // namespace tremolan
