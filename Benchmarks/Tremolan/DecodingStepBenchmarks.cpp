// One decoding step: the decoder's own prediction against everything the decoding loop adds around
// it (logits filters, sampler, cache and mask writes, the progress record), on the trained test
// model and on a random-weight bundle of the tiny size (made once in a temporary folder).
//
//   BM_Prediction        the decoder's prediction at cache position 50
//   BM_StepOverhead      the timestamp filter, the sampler at temperature 0, the cache and mask
//                        writes and the progress record (text and compression ratio) of one step
//   BM_DecodeWindow      whole windows through TextDecoder::decodeText with a progress callback;
//                        the counters split each step into prediction and the rest, both measured
//                        by the loop itself in the same steps
//
// Run from a Release build: build-release/Benchmarks/TremolanBenchmarks

#include "BenchmarkData.hpp"

#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"
#include "Platform/Audio/AudioFile.hpp"
#include "Platform/ML/BundleWriter.hpp"
#include "Tremolan/Core/Text/GreedyTokenSampler.hpp"
#include "Tremolan/Core/TextDecoder.hpp"
#include "Tremolan/Core/WhisperTokenizerWrapper.hpp"
#include "Tremolan/Core/WindowDecoder.hpp"
#include "Tremolan/Utilities/TextUtilities.hpp"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace {

using namespace tremolan;
using platform::ml::MLMultiArray;

enum Model { testModel = 0, tinyRandom = 1 };

/// A random tiny bundle in a temporary folder, removed at exit.
class TinyFolder {
public:
    TinyFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
        path_ = pattern;
        platform::ml::makeRandomModelFolder(path_, platform::ml::standardHyperparameters("tiny"), 1);
    }
    ~TinyFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

struct Setup {
    std::shared_ptr<WhisperTokenizerWrapper> tokenizer;
    WindowDecoder pipeline;
    MLMultiArray encoded;
};

const Setup& setup(int model) {
    static const auto tokenizer = [] {
        const std::string folder = velmora::bench::dataPath("whisper-tokenizer/multilingual");
        return std::make_shared<WhisperTokenizerWrapper>(korbit::AutoTokenizerWrapper::fromModelFolder(folder, true),
                                                         folder);
    }();
    static const std::vector<float> speech =
        platform::audio::loadMonoAudio(velmora::bench::dataPath("testmodel/en-02.wav"));
    auto make = [&](const std::filesystem::path& folder) {
        Setup s{tokenizer, WindowDecoder::load(folder, tokenizer), {}};
        s.encoded = s.pipeline.encodeWindow(speech);
        return s;
    };
    if (model == testModel) {
        static const Setup trained = make(velmora::bench::dataPath("models/test-speech"));
        return trained;
    }
    static const TinyFolder folder;
    static const Setup tiny = make(folder.path());
    return tiny;
}

const char* modelName(int model) { return model == testModel ? "test-speech" : "tiny-random"; }

/// Inputs as they stand at cache position `position` of a window: prompt, masks open up to it.
DecodingInputs inputsAt(const Setup& s, int position) {
    DecodingInputs inputs = s.pipeline.textDecoder->prepareDecoderInputs({});
    s.pipeline.textDecoder->prefillDecoderInputs(inputs, DecodingOptions());
    auto padding = inputs.decoderKeyPaddingMask();
    auto update = inputs.kvCacheUpdateMask();
    for (int i = 0; i <= position; ++i) padding.setValue(i, 0);
    update.setValue(0, 0);
    update.setValue(position, 1);
    inputs.cacheLength().setValue(0, position);
    inputs.inputIds().setValue(0, 1000);
    return inputs;
}

void BM_Prediction(benchmark::State& state) {
    const Setup& s = setup(static_cast<int>(state.range(0)));
    state.SetLabel(modelName(static_cast<int>(state.range(0))));
    DecodingInputs inputs = inputsAt(s, 50);
    const TextDecoderMLMultiArrayInputType step{inputs.inputIds(),          inputs.cacheLength(), inputs.keyCache(),
                                                inputs.valueCache(),        inputs.kvCacheUpdateMask(), s.encoded,
                                                inputs.decoderKeyPaddingMask()};
    for (auto _ : state) benchmark::DoNotOptimize(s.pipeline.textDecoder->predictLogits(step));
}

void BM_StepOverhead(benchmark::State& state) {
    const Setup& s = setup(static_cast<int>(state.range(0)));
    state.SetLabel(modelName(static_cast<int>(state.range(0))));
    auto& decoder = static_cast<TextDecoder&>(*s.pipeline.textDecoder);
    DecodingInputs inputs = inputsAt(s, 50);
    auto output = decoder.predictLogits({inputs.inputIds(), inputs.cacheLength(), inputs.keyCache(),
                                         inputs.valueCache(), inputs.kvCacheUpdateMask(), s.encoded,
                                         inputs.decoderKeyPaddingMask()});
    MLMultiArray logits = *output.logits;
    const DecodingCache cache = *output.cache;
    // A window 50 tokens in: the prompt, text, and an open timestamp pair behind it.
    std::vector<int> tokens = inputs.initialPrompt();
    for (int i = 0; tokens.size() < 50; ++i) tokens.push_back(i % 7 == 6 ? 50364 + 10 * i : 400 + 37 * i);
    const std::vector<float> logProbs(tokens.size(), -0.25f);
    const auto filters = decoder.createLogitsFilters(DecodingOptions(), 0, 4, *s.tokenizer);
    GreedyTokenSampler sampler(0.0f, s.tokenizer->specialTokens().endToken, DecodingOptions());
    auto keyCache = inputs.keyCache(), valueCache = inputs.valueCache(), alignment = inputs.alignmentWeights();
    auto padding = inputs.decoderKeyPaddingMask(), update = inputs.kvCacheUpdateMask();
    for (auto _ : state) {
        for (const auto& filter : filters) filter->filterLogits(logits, tokens);
        benchmark::DoNotOptimize(sampler.update(tokens, logits, logProbs));
        TextDecoding::updateKVCache(keyCache, *cache.keyCache, valueCache, *cache.valueCache, 50);
        padding.setValue(51, 0);
        update.setValue(50, 0);
        update.setValue(51, 1);
        if (cache.alignmentWeights) TextDecoding::updateAlignmentWeights(alignment, *cache.alignmentWeights, 50);
        TranscriptionProgress progress;
        progress.text = s.tokenizer->decode(tokens);
        progress.tokens = tokens;
        progress.compressionRatio = TextUtilities::compressionRatio(tokens);
        benchmark::DoNotOptimize(progress);
    }
}

void BM_DecodeWindow(benchmark::State& state) {
    const int model = static_cast<int>(state.range(0));
    const bool timestamps = state.range(1) != 0;
    const Setup& s = setup(model);
    state.SetLabel(std::string(modelName(model)) + (timestamps ? ", timestamps" : ", no timestamps"));
    DecodingOptions options;
    options.language = "en";
    options.withoutTimestamps = !timestamps;
    DecodingInputs inputs = s.pipeline.textDecoder->prepareDecoderInputs({});
    s.pipeline.textDecoder->prefillDecoderInputs(inputs, options);
    const TranscriptionCallback callback = [](const TranscriptionProgress&) { return std::optional<bool>(); };
    double predictions = 0, loop = 0, steps = 0;
    for (auto _ : state) {
        inputs.reset(options.sampleLength);
        GreedyTokenSampler sampler(0.0f, s.tokenizer->specialTokens().endToken, options);
        const DecodingResult result = s.pipeline.textDecoder->decodeText(s.encoded, inputs, sampler, options, callback);
        predictions += result.timings->decodingPredictions;
        loop += result.timings->decodingLoop;
        steps += result.timings->totalDecodingLoops;
    }
    state.counters["steps"] = steps / static_cast<double>(state.iterations());
    state.counters["prediction_us"] = 1e6 * predictions / steps;
    state.counters["rest_us"] = 1e6 * (loop - predictions) / steps;
    state.counters["rest_pct"] = 100.0 * (loop - predictions) / predictions;
}

BENCHMARK(BM_Prediction)->Arg(testModel)->Arg(tinyRandom)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StepOverhead)->Arg(testModel)->Arg(tinyRandom)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeWindow)
    ->Args({testModel, 0})
    ->Args({testModel, 1})
    ->Args({tinyRandom, 0})
    ->Args({tinyRandom, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
