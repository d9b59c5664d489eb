#include "Velmora/Meeting/SystemAudioCapture.hpp"

#include "Velmora/Support/Log.hpp"

#include "Platform/Audio/SoundServer.hpp"

namespace velmora {

using platform::audio::SoundServerError;
using platform::audio::SourceSelection;

SystemAudioCapture::Failure SystemAudioCapture::Failure::noSoundServer(const std::string& address) {
    return Failure(Kind::noSoundServer,
                   "Не удалось подключиться к звуковому серверу (" + address + ") — собеседников не слышно");
}

SystemAudioCapture::Failure SystemAudioCapture::Failure::noDefaultOutput() {
    return Failure(Kind::noOutputMonitor, "Нет устройства вывода по умолчанию — собеседников не слышно");
}

SystemAudioCapture::Failure SystemAudioCapture::Failure::noOutputMonitor() {
    return Failure(Kind::noOutputMonitor, "У устройства вывода по умолчанию нет монитора — собеседников не слышно");
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
                Log::audio.error(std::string("звуковой сервер недоступен: ") + error.what());
                throw Failure::noSoundServer(platform::audio::soundServerAddress());
            case SoundServerError::Kind::noDefaultSink:
                throw Failure::noDefaultOutput();
            case SoundServerError::Kind::noMonitor:
                throw Failure::noOutputMonitor();
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
