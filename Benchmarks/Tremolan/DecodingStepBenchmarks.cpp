// One decoding step: the decoder's own prediction against everything the decoding loop adds around
// it (logits filters, sampler, cache and mask writes, the progress record), on the trained test
// model and on a random-weight bundle of the tiny size (made once in a temporary folder).
//
//   BM_Prediction        the decoder's prediction at cache position 50
//   BM_Filters, BM_Sampler, BM_CacheUpdate, BM_ProgressRecord
//                        the parts of the overhead one by one: the filters with timestamps on, the
//                        sampler at temperature 0, the cache and mask writes, and the progress
//                        record's text and compression ratio (made on the callback's worker thread)
//   BM_DecodeWindow      whole windows through TextDecoder::decodeText with a progress callback;
//                        the counters split each step into prediction and the rest, both measured
//                        by the loop itself in the same steps
//
// Run from a Release build: build-release/Benchmarks/TremolanBenchmarks

#include "BenchmarkData.hpp"

#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"
#include "Platform/Audio/AudioFile.hpp"
#include "Platform/ML/BundleWriter.hpp"
#include "Tremolan/Core/Decoding/Samplers/GreedyTokenSampler.hpp"
#include "Tremolan/Core/Decoding/TextDecoder.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizerWrapper.hpp"
#include "Tremolan/Core/Transcription/WindowDecoder.hpp"
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

const char* modelName(int model) {
    return model == testModel ? "test-speech" : "tiny-random";
}

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
    const TextDecoderMLMultiArrayInputType step{inputs.inputIds(),
                                                inputs.cacheLength(),
                                                inputs.keyCache(),
                                                inputs.valueCache(),
                                                inputs.kvCacheUpdateMask(),
                                                s.encoded,
                                                inputs.decoderKeyPaddingMask()};
    for (auto _ : state) benchmark::DoNotOptimize(s.pipeline.textDecoder->predictLogits(step));
}

/// One step's logits and cache columns at position 50, and a window 50 tokens in: the prompt, text,
/// and timestamp pairs behind it.
struct StepState {
    DecodingInputs inputs;
    MLMultiArray logits;
    DecodingCache cache;
    std::vector<int> tokens;
    std::vector<float> logProbs;
};

StepState stepState(const Setup& s) {
    DecodingInputs inputs = inputsAt(s, 50);
    auto output = s.pipeline.textDecoder->predictLogits({inputs.inputIds(), inputs.cacheLength(), inputs.keyCache(),
                                                         inputs.valueCache(), inputs.kvCacheUpdateMask(), s.encoded,
                                                         inputs.decoderKeyPaddingMask()});
    std::vector<int> tokens = inputs.initialPrompt();
    for (int i = 0; tokens.size() < 50; ++i) tokens.push_back(i % 7 == 6 ? 50364 + 10 * i : 400 + 37 * i);
    const std::vector<float> logProbs(tokens.size(), -0.25f);
    return {inputs, *output.logits, *output.cache, tokens, logProbs};
}

// The parts of the step overhead one by one: filters (timestamps on), sampler, cache and masks,
// progress record.
void BM_Filters(benchmark::State& state) {
    const Setup& s = setup(static_cast<int>(state.range(0)));
    state.SetLabel(modelName(static_cast<int>(state.range(0))));
    StepState step = stepState(s);
    const auto filters = static_cast<const TextDecoder&>(*s.pipeline.textDecoder)
                             .createLogitsFilters(DecodingOptions(), 0, 4, *s.tokenizer);
    for (auto _ : state)
        for (const auto& filter : filters) filter->filterLogits(step.logits, step.tokens);
}

void BM_Sampler(benchmark::State& state) {
    const Setup& s = setup(static_cast<int>(state.range(0)));
    state.SetLabel(modelName(static_cast<int>(state.range(0))));
    const StepState step = stepState(s);
    GreedyTokenSampler sampler(0.0f, s.tokenizer->specialTokens().endToken, DecodingOptions());
    for (auto _ : state) benchmark::DoNotOptimize(sampler.update(step.tokens, step.logits, step.logProbs));
}

void BM_CacheUpdate(benchmark::State& state) {
    const Setup& s = setup(static_cast<int>(state.range(0)));
    state.SetLabel(modelName(static_cast<int>(state.range(0))));
    StepState step = stepState(s);
    auto keyCache = step.inputs.keyCache(), valueCache = step.inputs.valueCache();
    auto alignment = step.inputs.alignmentWeights();
    auto padding = step.inputs.decoderKeyPaddingMask(), update = step.inputs.kvCacheUpdateMask();
    for (auto _ : state) {
        TextDecoding::updateKVCache(keyCache, *step.cache.keyCache, valueCache, *step.cache.valueCache, 50);
        padding.setValue(51, 0);
        update.setValue(50, 0);
        update.setValue(51, 1);
        if (step.cache.alignmentWeights)
            TextDecoding::updateAlignmentWeights(alignment, *step.cache.alignmentWeights, 50);
    }
}

void BM_ProgressRecord(benchmark::State& state) {
    const Setup& s = setup(testModel);
    const StepState step = stepState(s);
    for (auto _ : state) {
        TranscriptionProgress progress;
        progress.text = s.tokenizer->decode(step.tokens);
        progress.tokens = step.tokens;
        progress.compressionRatio = TextUtilities::compressionRatio(step.tokens);
        benchmark::DoNotOptimize(progress);
    }
}

void BM_DecodeWindow(benchmark::State& state) {
    const int model = static_cast<int>(state.range(0));
    const bool timestamps = state.range(1) != 0;
    const bool withCallback = state.range(2) != 0;
    const Setup& s = setup(model);
    state.SetLabel(std::string(modelName(model)) + (timestamps ? ", timestamps" : ", no timestamps") +
                   (withCallback ? ", callback" : ""));
    DecodingOptions options;
    options.language = "en";
    options.withoutTimestamps = !timestamps;
    // Random weights are unsure of every token: let the window run instead of falling back at once.
    if (model == tinyRandom) options.firstTokenLogProbThreshold.reset();
    DecodingInputs inputs = s.pipeline.textDecoder->prepareDecoderInputs({});
    s.pipeline.textDecoder->prefillDecoderInputs(inputs, options);
    TranscriptionCallback callback;
    if (withCallback) callback = [](const TranscriptionProgress&) { return std::optional<bool>(); };
    double predictions = 0, loop = 0, steps = 0;
    for (auto _ : state) {
        inputs.reset(static_cast<int>(options.sampleLength));
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
BENCHMARK(BM_Filters)->Arg(testModel)->Arg(tinyRandom)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Sampler)->Arg(testModel)->Arg(tinyRandom)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CacheUpdate)->Arg(testModel)->Arg(tinyRandom)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProgressRecord)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeWindow)
    ->Args({testModel, 0, 0})
    ->Args({testModel, 1, 0})
    ->Args({testModel, 1, 1})
    ->Args({tinyRandom, 0, 0})
    ->Args({tinyRandom, 1, 0})
    ->Args({tinyRandom, 1, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
