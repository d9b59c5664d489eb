#include "Velmora/STT/LocalWhisperSTT.hpp"

#include "Velmora/STT/STTError.hpp"

#include "Tremolan/Core/Audio/AudioProcessor.hpp"

#include <chrono>

namespace velmora {

LocalWhisperSTT::LocalWhisperSTT(std::string title, double costPerMinute, std::string language,
                                 std::shared_ptr<LocalModelEngine> engine)
    : title_(std::move(title)),
      costPerMinute_(costPerMinute),
      language_(std::move(language)),
      engine_(std::move(engine)) {}

bool LocalWhisperSTT::isReady() const {
    return engine_->isLoaded();
}

STTResult LocalWhisperSTT::transcribe(const std::filesystem::path& fileURL, const std::vector<std::string>&) {
    const auto started = std::chrono::steady_clock::now();
    const std::vector<float> samples = tremolan::AudioProcessor::loadAudioAsFloatArray(
        fileURL.string(), tremolan::ChannelMode::sumChannels(), 0.0, std::nullopt);
    std::string text = engine_->transcribe(samples, language_);
    if (text.empty()) throw STTError::emptyResult();
    const auto latency =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    return STTResult{std::move(text), static_cast<int>(latency.count()), 0, title_};
}

}  // namespace velmora
