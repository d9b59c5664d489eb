#pragma once

// A PulseAudio server of the test's own: its own folder and socket, null sinks instead of sound
// cards, started and stopped by the test. No test reaches the desktop's sound server: the test
// main points PULSE_SERVER at a socket that does not exist, and this server points it at its own
// socket while it runs.

#include <gtest/gtest.h>

#include <sys/types.h>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmora::test {

class PrivatePulseServer {
public:
    /// The pulseaudio program on PATH, when there is one.
    static std::optional<std::filesystem::path> program();

    /// Starts the server with one null sink, "speakers" (48 kHz stereo), as the default sink and
    /// its monitor as the default source, and sets PULSE_SERVER to its address. Throws
    /// std::runtime_error, with the server's log, when it does not come up.
    PrivatePulseServer();
    /// Stops the server and restores PULSE_SERVER.
    ~PrivatePulseServer();
    PrivatePulseServer(const PrivatePulseServer&) = delete;
    PrivatePulseServer& operator=(const PrivatePulseServer&) = delete;

    /// "unix:<folder>/native".
    const std::string& address() const { return address_; }
    static std::string monitorOf(const std::string& sink) { return sink + ".monitor"; }

    void createNullSink(const std::string& name, std::uint32_t sampleRate = 48000, std::uint32_t channels = 2);
    /// A capture source that is no monitor, fed by a null sink "<name>.feed": what is played into
    /// the feed is what the microphone hears.
    void createMicrophone(const std::string& name);
    static std::string feedOf(const std::string& microphone) { return microphone + ".feed"; }
    void setDefaultSink(const std::string& name);
    void setDefaultSource(const std::string& name);
    /// Unloads every module of a sink or source by its name (the sink and its monitor go away).
    void removeNullSink(const std::string& name);

    /// Runs pactl against this server; returns its standard output. A failure throws.
    std::string pactl(const std::vector<std::string>& arguments) const;

    /// Plays 32-bit float mono samples into a sink and returns when they have been played.
    void play(const std::string& sink, const std::vector<float>& samples, std::uint32_t sampleRate) const;

    /// A player running in the background.
    class Playback {
    public:
        explicit Playback(pid_t pid) : pid_(pid) {}
        ~Playback();
        Playback(Playback&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }
        Playback(const Playback&) = delete;
        Playback& operator=(const Playback&) = delete;
        Playback& operator=(Playback&&) = delete;
        /// Waits until the player is done; false when it failed.
        bool wait();

    private:
        pid_t pid_;
    };
    Playback startPlaying(const std::string& sink, const std::vector<float>& samples, std::uint32_t sampleRate) const;

    /// Stops the server (the destructor does it too).
    void stop();
    /// The server's own log so far.
    std::string log() const;

private:
    std::filesystem::path writeSamples(const std::vector<float>& samples) const;
    std::vector<std::string> playerArguments(const std::string& sink, const std::filesystem::path& file,
                                             std::uint32_t sampleRate) const;

    std::filesystem::path folder_;
    std::string address_;
    pid_t pid_ = -1;
    std::optional<std::string> previousServer_;
    mutable int files_ = 0;
};

}  // namespace velmora::test

/// Skips the test, with a message, on a machine without a pulseaudio program.
#define VELMORA_SKIP_WITHOUT_PULSEAUDIO()                                                        \
    do {                                                                                         \
        if (!::velmora::test::PrivatePulseServer::program())                                     \
            GTEST_SKIP() << "no pulseaudio program on this machine (scripts/setup installs it)"; \
    } while (false)
