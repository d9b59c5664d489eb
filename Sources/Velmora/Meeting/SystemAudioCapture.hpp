#pragma once

// What the computer plays (in a call: the other participants), recorded from the monitor of the
// sound server's default sink as 16 kHz mono samples on the capture's own thread. The server
// cannot leave this application's own sound out of the monitor; nothing plays during a meeting.

#include "Velmora/Audio/SampleSource.hpp"

#include <stdexcept>
#include <string>

namespace velmora {

class SystemAudioCapture : public SampleSource {
public:
    /// What keeps the other side from being heard, in what holds here: no sound server, or no
    /// output whose sound can be recorded.
    class Failure : public std::runtime_error {
    public:
        enum class Kind { noSoundServer, noOutputMonitor };
        /// No sound server answers at the address, or it refused the connection:
        /// "Не удалось подключиться к звуковому серверу (<address>) — собеседников не слышно".
        static Failure noSoundServer(const std::string& address);
        /// The server has no default output: "Нет устройства вывода по умолчанию — собеседников не слышно".
        static Failure noDefaultOutput();
        /// The default output has no monitor to record:
        /// "У устройства вывода по умолчанию нет монитора — собеседников не слышно".
        static Failure noOutputMonitor();
        Kind kind() const { return kind_; }

    private:
        Failure(Kind kind, const std::string& text) : std::runtime_error(text), kind_(kind) {}
        Kind kind_;
    };

    SystemAudioCapture() = default;

    /// Does nothing when running. Throws Failure (noSoundServer after an ERROR line "звуковой сервер
    /// недоступен: ..." in the audio log, or noOutputMonitor), or the server's SoundServerError
    /// when the stream cannot be set up.
    void start() override;

    /// Whether a server answers and its default sink has a monitor to record.
    static bool hasPermission();

protected:
    /// Logs "захват системного звука остановлен".
    void onStopped() override;
};

}  // namespace velmora
