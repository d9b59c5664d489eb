// A whole transcription of a 10-minute recording made of the test model's held-out English
// phrases and pauses, through the transcription task on the trained test model, without and with
// word timestamps. The counters split each run's time, as the run's own timings record it:
//
//   rtf            seconds of work per second of audio
//   models%        the three models' predictions: mel, encoder, and the decoder's per-token calls
//   outside%       everything else: the decoding loop around each prediction (filters, sampler,
//                  cache writes), fallback bookkeeping, window audio, the segment seeker, word
//                  timing and the task's own bookkeeping
//   seeker%        the segment seeker, word timing and the window's bookkeeping after decoding
//   words%         word timing alone
//
// Run from a Release build: build-release/Benchmarks/TremolanBenchmarks --benchmark_filter=Transcribe
// (with --quick the recording is 30 s long: a smoke run, not the figures).

#include "BenchProgram.hpp"
#include "BenchmarkData.hpp"

#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Segments/SegmentSeeker.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizerWrapper.hpp"
#include "Tremolan/Core/Transcription/TranscribeTask.hpp"
#include "Tremolan/Core/Transcription/WindowDecoder.hpp"

#include <benchmark/benchmark.h>

#include <array>
#include <memory>

namespace {

using namespace tremolan;

constexpr double kMinutes = 10;

/// The six English held-out phrases in turn, each after a pause of 1.0 to 2.5 s, until ten minutes
/// (half a minute in the quick form).
const std::vector<float>& tenMinutes() {
    static const std::vector<float> samples = [] {
        const double minutes = velmora::bench::quickForm() ? 0.5 : kMinutes;
        std::vector<std::vector<float>> phrases;
        for (int i = 1; i <= 6; ++i)
            phrases.push_back(AudioProcessor::loadAudioAsFloatArray(
                velmora::bench::dataPath("testmodel/en-0" + std::to_string(i) + ".wav")));
        constexpr std::array<double, 4> pauses = {1.0, 1.5, 2.0, 2.5};
        std::vector<float> out;
        for (std::size_t i = 0; out.size() < minutes * 60 * 16000; ++i) {
            out.insert(out.end(), static_cast<std::size_t>(pauses[i % pauses.size()] * 16000), 0.0f);
            const auto& phrase = phrases[i % phrases.size()];
            out.insert(out.end(), phrase.begin(), phrase.end());
        }
        return out;
    }();
    return samples;
}

const WindowDecoder& model() {
    static const WindowDecoder instance = [] {
        const std::string folder = velmora::bench::dataPath("whisper-tokenizer/multilingual");
        auto tokenizer = std::make_shared<WhisperTokenizerWrapper>(
            korbit::AutoTokenizerWrapper::fromModelFolder(folder, true), folder);
        return WindowDecoder::load(velmora::bench::dataPath("models/test-speech"), tokenizer);
    }();
    return instance;
}

void BM_TranscribeTenMinutes(benchmark::State& state) {
    const bool words = state.range(0) != 0;
    state.SetLabel(words ? "word timestamps" : "segments");
    const auto& samples = tenMinutes();
    const WindowDecoder& m = model();
    const auto seeker = std::make_shared<SegmentSeeker>();
    DecodingOptions options;
    options.language = "en";
    options.wordTimestamps = words;
    options.skipSpecialTokens = true;

    double full = 0, models = 0, windowing = 0, wordTiming = 0, windows = 0, segments = 0;
    for (auto _ : state) {
        TranscribeTask task({}, nullptr, nullptr, m.audioEncoder, m.featureExtractor, seeker, m.textDecoder,
                            m.textDecoder->tokenizer());
        task.setRandomSource(std::make_shared<SeededRandomSource>(7));
        const auto result = task.run(samples, options);
        const TranscriptionTimings& t = task.timings();
        full += t.fullPipeline;
        models += t.logmels + t.encoding + t.decodingPredictions;
        windowing += t.decodingWindowing;
        wordTiming += t.decodingWordTimestamps;
        windows += t.totalDecodingWindows;
        segments += static_cast<double>(result->segments().size());
        benchmark::DoNotOptimize(result);
    }
    const double runs = static_cast<double>(state.iterations());
    const double audioSeconds = static_cast<double>(samples.size()) / 16000.0;
    state.counters["audio_s"] = audioSeconds;
    state.counters["windows"] = windows / runs;
    state.counters["segments"] = segments / runs;
    state.counters["rtf"] = full / runs / audioSeconds;
    state.counters["models%"] = 100.0 * models / full;
    state.counters["outside%"] = 100.0 * (full - models) / full;
    state.counters["seeker%"] = 100.0 * windowing / full;
    state.counters["words%"] = 100.0 * wordTiming / full;
}
BENCHMARK(BM_TranscribeTenMinutes)->Arg(0)->Arg(1)->Iterations(2)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
