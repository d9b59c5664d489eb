#include "Platform/ML/BundleWriter.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/WhisperMLModel.hpp"

#include <gtest/gtest.h>

using namespace tremolan;
using korbit::ModelState;
using platform::ml::MLComputeUnits;

namespace {

/// A folder with small random bundles, made once for the test program.
const std::filesystem::path& modelFolder() {
    static velmora::test::TempDir dir("tremolan-models");
    static const bool made = [] {
        platform::ml::Hyperparameters sizes;
        sizes.nAudioState = sizes.nTextState = 32;
        sizes.nAudioHead = sizes.nTextHead = 2;
        sizes.nAudioLayer = sizes.nTextLayer = 1;
        sizes.nVocab = 51865;
        platform::ml::makeRandomModelFolder(dir.path(), sizes, 3);
        return true;
    }();
    (void)made;
    return dir.path();
}

}  // namespace

TEST(WhisperMLModel, LoadPrewarmAndUnloadFollowTheStateRule) {
    const auto mel = modelFolder() / "MelSpectrogram.mlmodelc";
    WhisperMLModel component;
    EXPECT_EQ(component.modelState(), ModelState::unloaded);

    component.loadModel(mel, MLComputeUnits::cpuAndGPU, true);
    EXPECT_EQ(component.modelState(), ModelState::unloaded);

    component.loadModel(mel, MLComputeUnits::cpuAndGPU);
    ASSERT_EQ(component.modelState(), ModelState::loaded);
    EXPECT_EQ(component.model()->configuration().computeUnits, MLComputeUnits::cpuAndGPU);

    // A failing load keeps the model that was there.
    const auto before = component.model();
    EXPECT_ANY_THROW(component.loadModel(modelFolder() / "Missing.mlmodelc", MLComputeUnits::cpuOnly, false));
    EXPECT_EQ(component.model(), before);

    component.unloadModel();
    EXPECT_EQ(component.modelState(), ModelState::unloaded);
}
