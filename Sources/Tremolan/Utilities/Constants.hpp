#pragma once

// The speech library's fixed values. The tables are built once, on first use, safely under
// concurrent first access.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tremolan {

class ModelSupportConfig;

struct Constants {
    /// Samples per second of every sample array of the library: one channel at 16 kHz.
    static constexpr int sampleRate = 16000;
    /// Most tokens the text decoder handles per window.
    static constexpr int maxTokenContext = 224;
    /// Samples in one 30-second window at 16 kHz.
    static constexpr int defaultWindowSamples = 480000;
    /// Frames read per block when loading an audio file.
    static constexpr std::uint32_t defaultAudioReadFrameSize = 1323000;
    static constexpr std::string_view defaultLanguageCode = "en";
    /// Characters that word timing joins to the following word.
    static constexpr std::string_view defaultPrependPunctuations = "\"'\u201C\u00A1\u00BF([{-";
    /// Characters that word timing joins to the preceding word.
    static constexpr std::string_view defaultAppendPunctuations =
        "\"'.\u3002,\uFF0C!\uFF01?\uFF1F:\uFF1A\u201D)]}\u3001";
    /// Name of the model-support file in the model repository.
    static constexpr std::string_view defaultRemoteConfigName = "config.json";
    /// The model hub used when the configuration names none.
    static constexpr std::string_view defaultRemoteEndpoint = "https://huggingface.co";

    /// "<", "|" and ">": the framing of special-token texts.
    static const std::set<char32_t>& specialTokenCharacters();
    /// Lower-case language name to language code: 112 names, 100 codes.
    static const std::map<std::string, std::string>& languages();
    /// The distinct codes of `languages()`.
    static const std::set<std::string>& languageCodes();
    // The built-in support table is defined with the model-support records
    // (Core/Models/BuiltInModelSupport.cpp).
    /// Every model name of the built-in support table, in its first-seen order.
    static const std::vector<std::string>& knownModels();
    /// The built-in model-support record ("tremolan-coreml-fallback", version "0.4").
    static const ModelSupportConfig& fallbackModelSupportConfig();
};

}  // namespace tremolan
