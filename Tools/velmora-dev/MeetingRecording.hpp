#pragma once

// velmora-dev meeting record: one meeting from the microphone and the system's sound, recorded
// into the application's meeting store and transcribed on the on-device engine as the program does.

#include <cstdint>
#include <optional>
#include <string>

namespace velmora::dev {

struct MeetingRecordingOptions {
    std::optional<std::string> title;
    /// Stop after this many seconds of recording; without it only Ctrl-C (or SIGTERM) stops.
    std::optional<std::int64_t> seconds;
};

/// Downloads the model when it is not on disk, records until stopped, prints every line as it
/// comes ("MM:SS<tab>me|others<tab>text"), then waits for the last chunks. Returns the exit status.
int recordMeeting(const MeetingRecordingOptions& options);

}  // namespace velmora::dev
