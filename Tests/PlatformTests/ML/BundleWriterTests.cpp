// A model folder's set of bundles is replaced by one writer at a time, and a replacement that
// fails and cannot be undone loses none of the earlier files.

#include "Platform/ML/BundleWriter.hpp"

#include "PlatformTests/ML/TestModels.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

namespace {

using namespace platform::ml;
using velmora::test::messageOf;
using velmora::test::readFile;
using velmora::test::smallHyperparameters;
using velmora::test::TempDir;
namespace fs = std::filesystem;

/// Every file below the folder, by its path within it, with its bytes.
std::map<std::string, std::string> filesBelow(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = readFile(entry.path());
    return files;
}

/// Clears the hook whatever the test's end.
struct RenameHook {
    explicit RenameHook(int (*hook)(const fs::path&, const fs::path&)) { beforeRenameForTests = hook; }
    ~RenameHook() { beforeRenameForTests = nullptr; }
};

// What the hook runs once, in the midst of a replacement: before the decoder's first rename, the
// encoder's files already moved.
std::function<void()> midway;

int runMidwayAtTheDecoder(const fs::path&, const fs::path& to) {
    if (to.parent_path().filename() == "TextDecoder.mlmodelc")
        if (const auto run = std::exchange(midway, nullptr)) run();
    return 0;
}

// `model random cc --seed 11` and `--seed 12` at once left 11's encoder beside 12's decoder, and
// both ended well.
TEST(BundleWriter, OneWriterAtATimeLeavesOneWholeSet) {
    TempDir dir;
    const Hyperparameters p = smallHyperparameters(16);
    makeRandomModelFolder(dir / "eleven", p, 11);
    const fs::path model = dir / "model";
    makeRandomModelFolder(model, p, 1);

    // The second writer starts on another thread once the first has moved its encoder.
    std::string second;
    midway = [&] {
        std::thread([&] {
            second = messageOf<std::runtime_error>([&] { makeRandomModelFolder(model, p, 12); });
        }).join();
    };
    {
        const RenameHook hook(runMidwayAtTheDecoder);
        makeRandomModelFolder(model, p, 11);
    }
    EXPECT_EQ(second, "Cannot write bundles into " + model.string() + ": another run is writing bundles there");
    EXPECT_TRUE(filesBelow(model) == filesBelow(dir / "eleven")) << "not the whole set of seed 11";
}

// A step that failed and whose undoing failed too (strace's EIO from the sixth rename on) left
// MelSpectrogram.mlmodelc/model.json nowhere: the staging folder that held it was removed.
TEST(BundleWriter, EarlierFilesThatCannotBePutBackAreKeptAndNamed) {
    TempDir dir;
    const Hyperparameters p = smallHyperparameters(16);
    const fs::path model = dir / "model";
    makeRandomModelFolder(model, p, 1);
    const auto earlier = filesBelow(model);

    static int renames;
    renames = 0;
    std::string error;
    {
        const RenameHook hook([](const fs::path&, const fs::path&) { return ++renames >= 6 ? EIO : 0; });
        error = messageOf<std::runtime_error>([&] { makeRandomModelFolder(model, p, 2); });
    }
    fs::path kept;
    for (const auto& entry : fs::directory_iterator(model))
        if (entry.path().filename().string().starts_with(".velmora-staging-")) kept = entry.path();
    ASSERT_FALSE(kept.empty()) << "no staging folder kept";
    EXPECT_EQ(error, "Cannot replace " + (model / "MelSpectrogram.mlmodelc/model.json").string() +
                         ": Input/output error; earlier files that could not be put back are kept in " +
                         (kept / "earlier").string());
    for (const auto& [file, bytes] : earlier) {
        const bool inPlace = fs::is_regular_file(model / file) && readFile(model / file) == bytes;
        const bool keptAside =
            fs::is_regular_file(kept / "earlier" / file) && readFile(kept / "earlier" / file) == bytes;
        EXPECT_TRUE(inPlace || keptAside) << file << " is lost";
    }
    EXPECT_EQ(readFile(kept / "earlier/MelSpectrogram.mlmodelc/model.json"),
              earlier.at("MelSpectrogram.mlmodelc/model.json"));

    // A later run is no undoing: it leaves the kept folder to the user.
    makeRandomModelFolder(model, p, 3);
    EXPECT_EQ(readFile(kept / "earlier/MelSpectrogram.mlmodelc/model.json"),
              earlier.at("MelSpectrogram.mlmodelc/model.json"));
}

}  // namespace
