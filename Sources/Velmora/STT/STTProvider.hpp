#pragma once

// The contract of a speech-to-text engine. A transcription blocks its caller until the text is
// there, so callers run it on a worker thread, never on the main thread.

#include "Velmora/STT/STTResult.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace velmora {

class STTProvider {
public:
    virtual ~STTProvider() = default;

    /// The engine's name for the screens.
    virtual std::string title() const = 0;
    /// Whether a transcription can start now without further setup.
    virtual bool isReady() const = 0;
    /// Transcribes a 16 kHz mono 16-bit WAV file; the hints are up to 60 words the speaker is
    /// likely to use (glossary spellings). Throws STTError, or the engine's own failure.
    virtual STTResult transcribe(const std::filesystem::path& fileURL, const std::vector<std::string>& hints) = 0;
};

}  // namespace velmora
