#pragma once

// What the facade asks about models and tokenizers: which size a loaded model is, where its
// tokenizer lives, which folders of a repository are speech models, and which models a device
// supports. Stateless.

#include "Tremolan/Core/Models/ModelSupportConfig.hpp"
#include "Tremolan/Core/Models/ModelVariant.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizer.hpp"

#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tremolan {

struct ModelUtilities {
    /// The size from the decoder's vocabulary width and the encoder's embedding width. An unknown
    /// vocabulary width is logged and answered with `base`; an unusual encoder width with the
    /// base size of the vocabulary's family.
    static ModelVariant detectVariant(int logitsDim, int encoderDim);

    /// "openai/whisper-" and the variant's description.
    static std::string tokenizerNameForVariant(ModelVariant variant);

    /// The variant's tokenizer: from the first of the hub cache folder of its repository, the
    /// tokenizer folder and the extra folders that holds "tokenizer.json", else downloaded from
    /// the hub into that cache folder. A local tokenizer that fails to load is logged and
    /// bypassed; a failed download throws: when the hub cannot be reached, Hub::HubClientError
    /// (hubUnreachable) says that the tokenizer is not on this computer.
    static std::shared_ptr<WhisperTokenizer> loadTokenizer(
        ModelVariant variant, const std::optional<std::filesystem::path>& tokenizerFolder = std::nullopt,
        const std::vector<std::filesystem::path>& additionalSearchPaths = {}, bool useBackgroundSession = false);

    /// Where the variant's tokenizer lives under a download base (absent: the hub client's default
    /// base): the hub cache folder of its repository, the first place loadTokenizer looks.
    static std::filesystem::path tokenizerPlace(ModelVariant variant,
                                                const std::optional<std::filesystem::path>& downloadBase);

    /// Throws Hub::HubClientError (hubUnreachable) saying that the tokenizer of the repository
    /// `name` is not in its place on this computer and that the hub could not be reached.
    [[noreturn]] static void throwTokenizerUnreachable(const std::string& name, const std::filesystem::path& place,
                                                       const std::string& endpoint, std::exception_ptr cause);

    /// Whether the folder holds a tokenizer's files: a tokenizer.json that is not empty.
    static bool hasTokenizerFiles(const std::filesystem::path& folder);

    /// The size of the folder's models from the widths their descriptions give (those detectVariant
    /// reads off the loaded models), without loading them; absent when the decoder's or the
    /// encoder's description does not read.
    static std::optional<ModelVariant> variantOfModelFolder(const std::filesystem::path& folder);

    /// The tokenizer of exactly this folder's tokenizer.json (and tokenizer_config.json): a folder
    /// a user named is used or refused, never replaced by another tokenizer. Throws
    /// WhisperError::tokenizerUnavailable naming the folder or the file.
    static std::shared_ptr<WhisperTokenizer> loadTokenizerFolder(const std::filesystem::path& folder);

    /// How many ids the tokenizer knows, counted as korbit::countOfIds does.
    static int vocabularySize(const WhisperTokenizer& tokenizer);

    /// Throws WhisperError::tokenizerUnavailable unless the tokenizer knows exactly the ids the
    /// model scores (`modelVocabulary`, the decoder's logits width): a tokenizer of another
    /// vocabulary turns every id into another word. The message names the tokenizer's folder
    /// (when it came from one) and the model's.
    static void checkTokenizerFitsModel(const WhisperTokenizer& tokenizer, int modelVocabulary,
                                        const std::filesystem::path& modelFolder);

    /// The distinct speech-model folders named by repository file paths, sizes in case order
    /// (English-only folders after their multilingual size, all large folders together), other
    /// folders dropped.
    static std::vector<std::string> formatModelFiles(const std::vector<std::string>& modelFiles);

    /// Whether the folder holds a whole model: each of the three bundles with a description that
    /// reads and the weights file it names, as long as its header says. What an interrupted
    /// download leaves (a bundle missing, a description without its weights, a cut file) is not whole.
    static bool isCompleteModelFolder(const std::filesystem::path& folder);

    /// The device's models under `config`, or under the built-in table when there is none.
    static ModelSupport modelSupport(const std::string& deviceName,
                                     const std::optional<ModelSupportConfig>& config = std::nullopt);
};

}  // namespace tremolan
