// velmora-dev listen: live transcription from a source of a private sound server until the
// program is interrupted, as a person at a terminal runs it.

#include "Platform/Audio/AudioFile.hpp"
#include "Support/PrivatePulseServer.hpp"
#include "Support/TestEnvironment.hpp"
#include "ToolTests/ToolRun.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace velmora::test {
namespace {

std::string contents(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(ListenCommand, TranscribesASourceLiveUntilInterrupted) {
    VELMORA_SKIP_WITHOUT_PULSEAUDIO();
    PrivatePulseServer server;
    server.createMicrophone("mic");
    std::vector<float> played;
    for (const char* file : {"en-01.wav", "en-04.wav", "en-06.wav"}) {
        const auto phrase = platform::audio::loadMonoAudio(dataPath(std::string("testmodel/") + file));
        played.insert(played.end(), phrase.begin(), phrase.end());
    }
    played.insert(played.end(), 32000, 0.0f);

    // The program runs with the server's address in its environment (set by the server).
    const auto folder = std::filesystem::temp_directory_path() / ("listen-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string out = (folder / "out").string(), err = (folder / "err").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const std::string model = dataPath("models/test-speech").string();
    const std::string tokenizer = dataPath("whisper-tokenizer/multilingual").string();
    std::vector<std::string> arguments = {VELMORA_DEV_PATH, "listen", "--device", "mic", model,
                                          "--tokenizer",    tokenizer};
    std::vector<char*> argv;
    for (auto& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, VELMORA_DEV_PATH, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (contents(err).find("Listening") == std::string::npos && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_THAT(contents(err), ::testing::HasSubstr("Listening; Ctrl-C ends."));
    server.play(PrivatePulseServer::feedOf("mic"), played, 16000);
    // Words of the played phrases (the model mishears some of them).
    const auto heardIn = [](const std::string& text) {
        int heard = 0;
        for (const char* word : {"night", "friend", "twelve", "week", "yellow", "hour", "cook", "pencil"})
            heard += text.find(word) != std::string::npos;
        return heard;
    };
    // Room for the passes over the last of the sound, more on a busy machine.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const auto heardBy = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (heardIn(contents(out)) < 2 && std::chrono::steady_clock::now() < heardBy)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(pid, SIGINT);
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << contents(err);

    const std::string printed = contents(out);
    EXPECT_THAT(printed, ::testing::HasSubstr("unconfirmed: "));
    const auto last = printed.rfind("transcript: ");
    ASSERT_NE(last, std::string::npos) << printed;
    const std::string transcript = printed.substr(last);
    EXPECT_GE(heardIn(transcript), 2) << transcript;
    std::filesystem::remove_all(folder);

    // A source that is not there is named.
    const ToolRun missing = runTool({"listen", "--device", "no-such-source", model, "--tokenizer", tokenizer});
    EXPECT_EQ(missing.status, 1);
    EXPECT_THAT(missing.err, ::testing::HasSubstr("listen: no source 'no-such-source'"));
}

// Linux has no recording permission to ask for: without a sound server the reason is that no
// server answers, at the address it was looked for.
TEST(ListenCommand, WithoutASoundServerSaysWhichServerDidNotAnswer) {
    const std::string model = dataPath("models/test-speech").string();
    const std::string tokenizer = dataPath("whisper-tokenizer/multilingual").string();
    const ToolRun run = runTool({"listen", model, "--tokenizer", tokenizer});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, ::testing::HasSubstr("error: listen: recording could not start: Cannot connect to the sound "
                                              "server at " +
                                              std::string(std::getenv("PULSE_SERVER")) + ": "));
    EXPECT_THAT(run.err, ::testing::Not(::testing::HasSubstr("permitted")));
}

TEST(ListenCommand, RefusesALanguageTheTokenizerCannotSayBeforeRecording) {
    const ToolRun run = runTool({"listen", dataPath("models/test-speech").string(), "--tokenizer",
                                 dataPath("whisper-tokenizer/multilingual").string(), "--language", "yue"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err,
              "error: listen: --language yue: the vocabulary has no language token <|yue|> (velmora-dev listen "
              "--help)\n");
    EXPECT_EQ(run.out, "");
}

}  // namespace
}  // namespace velmora::test
