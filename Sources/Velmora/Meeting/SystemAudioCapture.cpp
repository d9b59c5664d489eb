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

void SystemAudioCapture::start() {
    try {
        if (!startCapture(SourceSelection::defaultSinkMonitor(), "System audio", "системный звук")) return;
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

void SystemAudioCapture::onStopped() {
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
