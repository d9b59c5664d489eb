#include "Velmora/Meeting/SystemAudioCapture.hpp"

#include "Velmora/Support/Log.hpp"

namespace velmora {

using platform::audio::SoundServerError;
using platform::audio::SourceSelection;

SystemAudioCapture::Failure SystemAudioCapture::Failure::noPermission() {
    return Failure(Kind::noPermission, "Нет разрешения на запись экрана — без него не слышно собеседников");
}

SystemAudioCapture::Failure SystemAudioCapture::Failure::noDisplay() {
    return Failure(Kind::noDisplay, "Не нашёл ни одного дисплея");
}

SystemAudioCapture::~SystemAudioCapture() {
    // Quietly: the owner's stop has been logged already, or it never ran.
    if (capture_) capture_->stop();
}

void SystemAudioCapture::start() {
    if (capture_) return;
    try {
        capture_ = openCapture(SourceSelection::defaultSinkMonitor(), "System audio", "системный звук");
    } catch (const SoundServerError& error) {
        switch (error.kind()) {
            case SoundServerError::Kind::unavailable:
                Log::audio.error(std::string("нет доступа к записи экрана: ") + error.what());
                throw Failure::noPermission();
            case SoundServerError::Kind::noDefaultSink:
            case SoundServerError::Kind::noMonitor:
                throw Failure::noDisplay();
            default:
                throw;
        }
    }
    Log::audio.info("захват системного звука начат");
}

void SystemAudioCapture::stop() {
    if (!capture_) return;
    // Stopped from here on, whatever the server says to the stop.
    auto capture = std::move(capture_);
    try {
        capture->stop();
    } catch (const std::exception&) {
    }
    Log::audio.info("захват системного звука остановлен");
}

bool SystemAudioCapture::hasPermission() {
    try {
        platform::audio::findAudioSource(SourceSelection::defaultSinkMonitor());
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace velmora
