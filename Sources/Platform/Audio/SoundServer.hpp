#pragma once

// The sound server as the machine's sound system sees it (PulseAudio, or PipeWire's Pulse
// server): its sources and defaults, by introspection. A server is never spawned: one that is not
// running is an error.

#include "Platform/Audio/AudioFile.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform::audio {

class SoundServerError : public AudioError {
public:
    enum class Kind {
        /// No server answers at the address, or it refused the connection.
        unavailable,
        /// The server has no default sink, so there is no sound of the system to record.
        noDefaultSink,
        /// The default sink has no monitor source.
        noMonitor,
        /// No source of that name or index (or no default source).
        noSuchSource,
        /// A record stream could not be set up or failed while recording.
        streamFailed,
    };
    SoundServerError(Kind kind, const std::string& message) : AudioError(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

/// One source of the server: a capture device, or the monitor of a sink (what the sink plays).
struct AudioSourceInfo {
    /// The server's index of the source; valid while the server runs.
    std::uint32_t index = 0;
    /// The stable name ("alsa_input.pci-0000_00_1f.3.analog-stereo", "speakers.monitor").
    std::string name;
    /// The name for people ("Built-in Audio Analog Stereo").
    std::string description;
    std::uint32_t channelCount = 0;
    std::uint32_t sampleRate = 0;
    /// The index of the sink a monitor source carries; absent for a capture device.
    std::optional<std::uint32_t> monitorOfSink;

    bool isMonitor() const { return monitorOfSink.has_value(); }
    bool operator==(const AudioSourceInfo&) const = default;
};

struct SoundServerInfo {
    std::string serverName;
    std::string serverVersion;
    /// Empty when the server has none.
    std::string defaultSinkName;
    std::string defaultSourceName;
};

/// Which source to record from.
struct SourceSelection {
    enum class Kind { defaultSource, defaultSinkMonitor, byName, byIndex };
    Kind kind = Kind::defaultSource;
    std::string name;
    std::uint32_t index = 0;

    static SourceSelection defaultSource() { return {}; }
    /// The monitor of the default sink: the sound the system plays.
    static SourceSelection defaultSinkMonitor() { return {Kind::defaultSinkMonitor, {}, 0}; }
    static SourceSelection named(std::string name) { return {Kind::byName, std::move(name), 0}; }
    static SourceSelection withIndex(std::uint32_t index) { return {Kind::byIndex, {}, index}; }
};

/// `server` is a server address in libpulse's form ("unix:/run/user/1000/pulse/native"); empty
/// means libpulse's own choice (PULSE_SERVER, client.conf, the user's runtime folder). Each call
/// makes its own short connection and throws SoundServerError.
SoundServerInfo soundServerInfo(const std::string& server = {});
/// The address a connection to `server` goes to, for people to read: the address itself, else
/// PULSE_SERVER, else the socket in the user's runtime folder ("unix:$XDG_RUNTIME_DIR/pulse/native",
/// where libpulse looks first without a client.conf), else "the default address".
std::string soundServerAddress(const std::string& server = {});
/// Every source in the server's order, monitors included.
std::vector<AudioSourceInfo> listAudioSources(const std::string& server = {});
/// The source a selection stands for now.
AudioSourceInfo findAudioSource(const SourceSelection& selection, const std::string& server = {});

}  // namespace platform::audio
