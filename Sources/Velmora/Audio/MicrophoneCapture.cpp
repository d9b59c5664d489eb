#include "Velmora/Audio/MicrophoneCapture.hpp"

#include "Velmora/Support/Log.hpp"

namespace velmora {

using platform::audio::SoundServerError;
using platform::audio::SourceSelection;

MicrophoneCapture::CaptureError MicrophoneCapture::CaptureError::noDevice() {
    return CaptureError(Kind::noDevice, "Микрофон не найден");
}

MicrophoneCapture::CaptureError MicrophoneCapture::CaptureError::cannotAddInput() {
    return CaptureError(Kind::cannotAddInput, "Не удалось подключиться к микрофону");
}

void MicrophoneCapture::start(const std::optional<std::string>& device) {
    try {
        startCapture(device ? SourceSelection::named(*device) : SourceSelection::defaultSource(), "Microphone",
                     "микрофон");
    } catch (const SoundServerError& error) {
        // The user sees one of two texts; the server's own reason goes to the log.
        Log::audio.error(std::string("микрофон не запущен: ") + error.what());
        if (error.kind() == SoundServerError::Kind::noSuchSource) throw CaptureError::noDevice();
        throw CaptureError::cannotAddInput();
    }
}

}  // namespace velmora
