#pragma once

// The speech library's model components of a model folder, for the commands that run them.

#include "Tremolan/Core/Transcription/WindowDecoder.hpp"

#include <filesystem>
#include <string>

namespace velmora::dev {

/// The mel, encoder and decoder components of the folder, the decoder holding the tokenizer of
/// `tokenizerFolder` (its tokenizer.json, never another), or when that is empty the one the model's
/// sizes name, looked for in the model folder and then the hub cache. Throws when either cannot be
/// loaded, or when the tokenizer's vocabulary is not the model's.
tremolan::WindowDecoder loadSpeechModel(const std::filesystem::path& modelFolder, const std::string& tokenizerFolder);

/// Throws UsageError naming the command unless `code` is a language code of the library.
void checkLanguageCode(const std::string& command, const std::string& code);

/// The id of the language token of `code`; throws UsageError naming the command when the
/// vocabulary has none, where a multilingual model would be told another language.
int languageToken(const std::string& command, const std::string& code, const tremolan::WhisperTokenizer& tokenizer);

}  // namespace velmora::dev
