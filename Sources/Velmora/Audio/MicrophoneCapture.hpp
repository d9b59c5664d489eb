#pragma once

// The microphone: the sound server's default source (or a chosen one) as 16 kHz mono samples,
// delivered on the capture's own thread.

#include "Velmora/Audio/SampleSource.hpp"

#include <optional>
#include <stdexcept>
#include <string>

namespace velmora {

class MicrophoneCapture : public SampleSource {
public:
    class CaptureError : public std::runtime_error {
    public:
        enum class Kind { noDevice, cannotAddInput };
        /// "Микрофон не найден"
        static CaptureError noDevice();
        /// "Не удалось подключиться к микрофону"
        static CaptureError cannotAddInput();
        Kind kind() const { return kind_; }

    private:
        CaptureError(Kind kind, const char* text) : std::runtime_error(text), kind_(kind) {}
        Kind kind_;
    };

    MicrophoneCapture() = default;

    /// Records from the named source, or from the default source when none is named. Does nothing
    /// when already running. Throws CaptureError: noDevice when there is no such source (or no
    /// default one), cannotAddInput when the server cannot be reached or the stream not set up.
    void start(const std::optional<std::string>& device);
    void start() override { start(std::nullopt); }
};

}  // namespace velmora
