#include "Tremolan/Core/Models/WhisperMLModel.hpp"

namespace tremolan {

void WhisperMLModel::loadModel(const std::filesystem::path& modelPath, platform::ml::MLComputeUnits computeUnits,
                               bool prewarmMode) {
    platform::ml::MLModelConfiguration configuration;
    configuration.computeUnits = computeUnits;
    auto loaded = platform::ml::MLModel::load(modelPath, configuration);
    setModel(prewarmMode ? nullptr : std::move(loaded));
}

}  // namespace tremolan
