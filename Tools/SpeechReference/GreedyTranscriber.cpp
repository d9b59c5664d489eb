#include "SpeechReference/GreedyTranscriber.hpp"

#include "KorbitCore/ModelUtilities.hpp"
#include "Platform/ML/BundleWriter.hpp"
#include "Platform/ML/Float16.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace velmora::dev {

using platform::ml::Float16;
using platform::ml::MLModel;
using platform::ml::MLMultiArray;
using platform::ml::MLMultiArrayDataType;

namespace {

std::int64_t inputDimension(const MLModel& model, const std::string& name, std::size_t position) {
    for (const auto& f : model.modelDescription().inputs())
        if (f.name == name && f.multiArrayConstraint && position < f.multiArrayConstraint->shape.size())
            return f.multiArrayConstraint->shape[position];
    throw std::runtime_error("the decoder has no input \"" + name + "\" with a dimension " + std::to_string(position));
}

}  // namespace

GreedyTranscriber::GreedyTranscriber(const std::filesystem::path& modelFolder) {
    using korbit::ModelUtilities;
    mel_ = MLModel::load(ModelUtilities::detectModelURL(modelFolder, platform::ml::kMelModelName));
    encoder_ = MLModel::load(ModelUtilities::detectModelURL(modelFolder, platform::ml::kEncoderModelName));
    decoder_ = MLModel::load(ModelUtilities::detectModelURL(modelFolder, platform::ml::kDecoderModelName));
}

MLMultiArray GreedyTranscriber::melFeatures(const std::vector<float>& samples) const {
    MLMultiArray audio({480000}, MLMultiArrayDataType::float32);
    float* out = audio.mutableData<float>();
    std::fill_n(out, 480000, 0.0f);
    std::copy_n(samples.begin(), std::min<std::size_t>(samples.size(), 480000), out);
    return mel_->predict({{"audio", audio}}).at("melspectrogram_features");
}

std::vector<int> GreedyTranscriber::transcribe(const std::vector<float>& samples, const std::vector<int>& prompt,
                                               int endToken) const {
    return decode(melFeatures(samples), prompt, endToken);
}

std::vector<int> GreedyTranscriber::decode(const MLMultiArray& melFeatures, const std::vector<int>& prompt,
                                           int endToken) const {
    if (prompt.empty()) throw std::invalid_argument("the prompt needs at least one token");
    const MLMultiArray encoded =
        encoder_->predict({{"melspectrogram_features", melFeatures}}).at("encoder_output_embeds");
    const std::int64_t width = inputDimension(*decoder_, "key_cache", 1);
    const std::int64_t slots = inputDimension(*decoder_, "key_cache", 3);

    MLMultiArray inputIds({1}, MLMultiArrayDataType::int32), cacheLength({1}, MLMultiArrayDataType::int32);
    MLMultiArray keyCache({1, width, 1, slots}, MLMultiArrayDataType::float16);
    MLMultiArray valueCache({1, width, 1, slots}, MLMultiArrayDataType::float16);
    MLMultiArray updateMask({1, slots}, MLMultiArrayDataType::int32);
    MLMultiArray paddingMask({1, slots}, MLMultiArrayDataType::float16);
    std::fill_n(keyCache.mutableData<Float16>(), keyCache.count(), Float16(0.0f));
    std::fill_n(valueCache.mutableData<Float16>(), valueCache.count(), Float16(0.0f));
    std::fill_n(updateMask.mutableData<std::int32_t>(), slots, 0);
    std::fill_n(paddingMask.mutableData<Float16>(), slots, Float16(-10000.0f));
    updateMask.mutableData<std::int32_t>()[0] = 1;
    paddingMask.mutableData<Float16>()[0] = Float16(0.0f);

    std::vector<int> out;
    int token = prompt[0];
    for (std::int64_t k = 0; k + 1 < slots; ++k) {
        inputIds.mutableData<std::int32_t>()[0] = token;
        cacheLength.mutableData<std::int32_t>()[0] = static_cast<std::int32_t>(k);
        const auto result = decoder_->predict({{"input_ids", inputIds},
                                               {"cache_length", cacheLength},
                                               {"key_cache", keyCache},
                                               {"value_cache", valueCache},
                                               {"kv_cache_update_mask", updateMask},
                                               {"encoder_output_embeds", encoded},
                                               {"decoder_key_padding_mask", paddingMask}});
        if (static_cast<std::size_t>(k + 1) < prompt.size()) {
            token = prompt[static_cast<std::size_t>(k + 1)];
        } else {
            const std::vector<float> logits = result.at("logits").toFloatVector();
            token = static_cast<int>(std::max_element(logits.begin(), logits.end()) - logits.begin());
            if (token == endToken) break;
            out.push_back(token);
        }
        const MLMultiArray& keys = result.at("key_cache_updates");
        const MLMultiArray& values = result.at("value_cache_updates");
        for (std::int64_t e = 0; e < width; ++e) {
            keyCache.setValue({0, e, 0, k}, keys.value({0, e, 0, 0}));
            valueCache.setValue({0, e, 0, k}, values.value({0, e, 0, 0}));
        }
        paddingMask.mutableData<Float16>()[k + 1] = Float16(0.0f);
        updateMask.mutableData<std::int32_t>()[k] = 0;
        updateMask.mutableData<std::int32_t>()[k + 1] = 1;
    }
    return out;
}

}  // namespace velmora::dev
