#pragma once

// Dictation on the on-device engine: a chunk file becomes samples, the engine makes them text.

#include "Velmora/STT/LocalModelEngine.hpp"
#include "Velmora/STT/STTProvider.hpp"

#include <memory>
#include <string>

namespace velmora {

class LocalWhisperSTT final : public STTProvider {
public:
    /// The title returned with every result, the cost per minute (not read here), the language
    /// code handed to the engine ("" detects it), and the engine.
    LocalWhisperSTT(std::string title, double costPerMinute, std::string language,
                    std::shared_ptr<LocalModelEngine> engine);

    std::string title() const override { return title_; }
    double costPerMinute() const { return costPerMinute_; }
    const std::string& language() const { return language_; }
    /// Whether the engine has its model loaded; never waits.
    bool isReady() const override;
    /// The file summed to 16 kHz mono and transcribed; the hints are not used. The latency covers
    /// the read, any loading and the transcription. An empty text throws STTError emptyResult.
    STTResult transcribe(const std::filesystem::path& fileURL, const std::vector<std::string>& hints) override;

private:
    std::string title_;
    double costPerMinute_;
    std::string language_;
    std::shared_ptr<LocalModelEngine> engine_;
};

}  // namespace velmora
