#pragma once

// What the computer plays (in a call: the other participants), recorded from the monitor of the
// sound server's default sink as 16 kHz mono samples on the capture's own thread. The server
// cannot leave this application's own sound out of the monitor; nothing plays during a meeting.

#include "Velmora/Audio/SampleSource.hpp"

#include <stdexcept>

namespace velmora {

class SystemAudioCapture : public SampleSource {
public:
    /// The texts keep the wording the user knows from other systems: no access, nothing to hear.
    class Failure : public std::runtime_error {
    public:
        enum class Kind { noPermission, noDisplay };
        /// No sound server answers, or it refused the connection:
        /// "Нет разрешения на запись экрана — без него не слышно собеседников".
        static Failure noPermission();
        /// The server has no default sink, or the sink no monitor: "Не нашёл ни одного дисплея".
        static Failure noDisplay();
        Kind kind() const { return kind_; }

    private:
        Failure(Kind kind, const char* text) : std::runtime_error(text), kind_(kind) {}
        Kind kind_;
    };

    SystemAudioCapture() = default;
    ~SystemAudioCapture() override;

    /// Does nothing when running. Throws Failure (noPermission after an ERROR line "нет доступа к
    /// записи экрана: ..." in the audio log, or noDisplay), or the server's SoundServerError when
    /// the stream cannot be set up.
    void start() override;
    /// Logs "захват системного звука остановлен" when it was running.
    void stop() override;
    bool isRunning() const override { return capture_ != nullptr; }

    /// Whether a server answers and its default sink has a monitor to record.
    static bool hasPermission();

private:
    std::unique_ptr<platform::audio::AudioCapture> capture_;
};

}  // namespace velmora
