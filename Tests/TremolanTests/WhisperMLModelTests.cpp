#include "Platform/ML/BundleWriter.hpp"
#include "Support/TestEnvironment.hpp"
#include "Support/TinyModel.hpp"
#include "Tremolan/Core/Models/WhisperMLModel.hpp"

#include <gtest/gtest.h>

using namespace tremolan;
using korbit::ModelState;
using platform::ml::MLComputeUnits;

namespace {

/// A folder with small random bundles, made once for the test program.
const std::filesystem::path& modelFolder() {
    static velmora::test::TempDir dir("tremolan-models");
    static const bool made =
        (platform::ml::makeRandomModelFolder(dir.path(), velmora::test::tinyHyperparameters(), 3), true);
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
