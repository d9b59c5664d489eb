#pragma once

#include "FakeHub/FakeHub.hpp"
#include "KorbitCore/External/Hub/HubApi.hpp"
#include "KorbitCore/External/Hub/HubClientError.hpp"
#include "Platform/Log/SystemLog.hpp"
#include "Support/HubErrorOf.hpp"
#include "Support/PipeDeadline.hpp"
#include "Support/SystemLogCapture.hpp"
#include "Support/TestEnvironment.hpp"
#include "Support/TestNetwork.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace velmora::test {

/// Waits until the shared network monitor has taken in the test network's current path.
void settleNetworkState(bool connected);

/// Puts a named pipe at `pipe` (and its folders) and runs the action, which must end within
/// seconds by throwing E (the pipe is unblocked when it does not, so that the test fails rather than
/// hangs) and leave the pipe. Returns E's message; the pipe is removed again.
template <typename E>
std::string refusedAtOnce(const std::filesystem::path& pipe, const std::function<void()>& action) {
    std::filesystem::create_directories(pipe.parent_path());
    EXPECT_EQ(::mkfifo(pipe.c_str(), 0600), 0) << pipe;
    std::string message;
    EXPECT_TRUE(endsWithin(std::chrono::seconds(5), pipe, [&] { message = messageOf<E>(action); })) << pipe;
    EXPECT_TRUE(std::filesystem::is_fifo(pipe)) << pipe;
    std::filesystem::remove(pipe);
    return message;
}

/// Deterministic bytes of a given size.
std::string patternedBytes(std::size_t size, unsigned seed = 1);

using CapturedLog = SystemLogCapture;

/// A fake hub serving a temporary folder, a temporary cache, and clients with short retry waits.
class HubTest : public ::testing::Test {
protected:
    TempDir root{"hubroot"};
    TempDir cache{"cache"};
    FakeHub hub{root.path()};

    static constexpr std::int64_t kChunk = 64 * 1024;

    /// Writes a file of a model repository (or of another kind) on the hub.
    void addFile(const std::string& repoId, const std::string& name, const std::string& contents,
                 const std::string& kind = "models");
    korbit::HubApi makeHub(std::optional<std::string> token = std::string()) const;
    static korbit::HubApiTiming fastTiming();
    std::filesystem::path repoFolder(const std::string& repoId, const std::string& kind = "models") const {
        return cache.path() / kind / repoId;
    }
    std::filesystem::path metadataFile(const std::string& repoId, const std::string& name) const {
        return repoFolder(repoId) / ".cache/huggingface/download" / (name + ".metadata");
    }
    /// GET requests for files (listing and probes excluded).
    std::vector<HubRequest> fileGets() const;
};

}  // namespace velmora::test
