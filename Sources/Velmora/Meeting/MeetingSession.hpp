#pragma once

// One meeting recorded from start to end on the calling thread, without screens (for command
// lines): it runs the event loop the recorder needs until it is asked to stop or its time is up,
// stops, and waits for the last chunks' lines.

#include "Velmora/Audio/SampleSource.hpp"
#include "Velmora/Meeting/Meeting.hpp"
#include "Velmora/STT/LocalModelEngine.hpp"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velmora {

class Glossary;
class MeetingStore;

class MeetingSession {
public:
    struct Options {
        std::optional<std::string> title;
        /// Stop after this long recording; without it only shouldStop ends the meeting.
        std::optional<std::chrono::seconds> limit;
        /// Asked every 0.1 s, also while the recording starts.
        std::function<bool()> shouldStop;
        /// How long to wait for the last chunks after the stop.
        std::chrono::milliseconds pendingCap{std::chrono::minutes(15)};
    };
    /// Called on the calling thread.
    struct Events {
        /// Recording has begun, with the meeting's title.
        std::function<void(const std::string& title)> started;
        /// A line joined the meeting (a line of mine found later to be an echo leaves it again).
        std::function<void(const MeetingLine& line)> line;
        /// Recording has stopped; the number of chunks still being transcribed.
        std::function<void(std::int64_t pending)> stopped;
        /// Something went wrong while recording goes on (the model could not be loaded).
        std::function<void(const std::string& message)> warning;
    };
    struct Outcome {
        /// The meeting as saved; absent when the recording never began.
        std::optional<Meeting> meeting;
        /// Why it never began: the recorder's words, or that it was stopped while starting.
        std::string failure;
        /// Every chunk was transcribed before the cap.
        bool complete = false;
        /// The meeting's last save failed, with why: the file does not hold it (or not whole).
        std::optional<std::string> saveFailure;
        /// The model could not be loaded, with why.
        std::optional<std::string> modelFailure;
        /// Chunks with speech that were transcribed, and those that failed (with the last failure's words).
        std::int64_t transcribedChunks = 0;
        std::int64_t failedChunks = 0;
        std::string chunkFailure;
    };

    /// Records one meeting with a recorder of its own over the engine, store and glossary (and the
    /// sources; by default the microphone and the system's sound). Makes the Qt application
    /// object the event loop needs when there is none.
    static Outcome record(std::shared_ptr<LocalModelEngine> engine, MeetingStore& store, Glossary& glossary,
                          const Options& options, const Events& events,
                          std::unique_ptr<SampleSource> microphone = nullptr,
                          std::unique_ptr<SampleSource> systemAudio = nullptr);
};

}  // namespace velmora
