#include "SpeechModelFolder.hpp"

#include "ArgumentParser.hpp"

#include "Tremolan/Core/Models/AudioEncoding.hpp"
#include "Tremolan/Core/Models/ModelUtilities.hpp"
#include "Tremolan/Utilities/Constants.hpp"

#include <stdexcept>

namespace velmora::dev {

namespace fs = std::filesystem;

tremolan::WindowDecoder loadSpeechModel(const fs::path& modelFolder, const std::string& tokenizerFolder) {
    if (!fs::is_directory(modelFolder)) throw std::runtime_error("no model folder at " + modelFolder.string());
    tremolan::WindowDecoder road = tremolan::WindowDecoder::load(modelFolder, nullptr);
    const int vocabulary = road.textDecoder->logitsSize().value_or(0);
    std::shared_ptr<tremolan::WhisperTokenizer> tokenizer;
    if (!tokenizerFolder.empty()) {
        tokenizer = tremolan::ModelUtilities::loadTokenizerFolder(tokenizerFolder);
    } else {
        const auto variant =
            tremolan::ModelUtilities::detectVariant(vocabulary, road.audioEncoder->embedSize().value_or(0));
        tokenizer = tremolan::ModelUtilities::loadTokenizer(variant, std::nullopt, {modelFolder});
    }
    tremolan::ModelUtilities::checkTokenizerFitsModel(*tokenizer, vocabulary, modelFolder);
    road.textDecoder->setTokenizer(std::move(tokenizer));
    return road;
}

void checkLanguageCode(const std::string& command, const std::string& code) {
    if (!tremolan::Constants::languageCodes().contains(code))
        throw UsageError(command + ": --language needs a language code such as en or ru, not '" + code + "'");
}

int languageToken(const std::string& command, const std::string& code, const tremolan::WhisperTokenizer& tokenizer) {
    const auto token = tokenizer.convertTokenToId("<|" + code + "|>");
    if (!token || !tokenizer.allLanguageTokens().contains(*token)) {
        throw UsageError(command + ": --language " + code + ": the vocabulary has no language token <|" + code + "|>");
    }
    return *token;
}

}  // namespace velmora::dev
