#include "SpeechModelFolder.hpp"

#include "ArgumentParser.hpp"

#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"
#include "Tremolan/Core/AudioEncoding.hpp"
#include "Tremolan/Core/WhisperTokenizerWrapper.hpp"
#include "Tremolan/Utilities/Constants.hpp"
#include "Tremolan/Utilities/ModelUtilities.hpp"

#include <stdexcept>

namespace velmora::dev {

namespace fs = std::filesystem;

tremolan::WindowDecoder loadSpeechModel(const fs::path& modelFolder, const std::string& tokenizerFolder) {
    if (!fs::is_directory(modelFolder)) throw std::runtime_error("no model folder at " + modelFolder.string());
    tremolan::WindowDecoder road = tremolan::WindowDecoder::load(modelFolder, nullptr);
    std::shared_ptr<tremolan::WhisperTokenizer> tokenizer;
    if (!tokenizerFolder.empty()) {
        if (!fs::is_regular_file(fs::path(tokenizerFolder) / "tokenizer.json"))
            throw std::runtime_error("no tokenizer.json in " + tokenizerFolder);
        tokenizer = std::make_shared<tremolan::WhisperTokenizerWrapper>(
            korbit::AutoTokenizerWrapper::fromModelFolder(tokenizerFolder, true), fs::path(tokenizerFolder));
    } else {
        const auto variant = tremolan::ModelUtilities::detectVariant(road.textDecoder->logitsSize().value_or(0),
                                                                     road.audioEncoder->embedSize().value_or(0));
        tokenizer = tremolan::ModelUtilities::loadTokenizer(variant, std::nullopt, {modelFolder});
    }
    road.textDecoder->setTokenizer(std::move(tokenizer));
    return road;
}

void checkLanguageCode(const std::string& command, const std::string& code) {
    if (!tremolan::Constants::languageCodes().contains(code))
        throw UsageError(command + ": --language needs a language code such as en or ru, not '" + code + "'");
}

}  // namespace velmora::dev
