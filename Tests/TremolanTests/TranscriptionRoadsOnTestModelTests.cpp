// The facade's roads on the trained test model: one window per held-out phrase, the phrases in
// batches, and the long recordings cut at silences into pieces transcribed at once (window after
// window is the transcription task's own test). Whatever the road, a result numbers its segments
// 0, 1, 2, ... and its times never go back, and the pieces of a recording merge into one result
// that does the same.

#include "TimedRecordings.hpp"

#include "Tremolan/Core/Decoding/Samplers/RandomSource.hpp"
#include "Tremolan/Core/Facade/Tremolan.hpp"
#include "Tremolan/Core/Records/TranscriptionUtilities.hpp"
#include "Tremolan/Core/Transcription/TranscribeTask.hpp"

#include <gtest/gtest.h>

namespace {

using namespace tremolan;
using velmora::test::dataPath;
using velmora::test::expectOrderedSegments;
using velmora::test::TimedRecording;

/// The facade with repeatable draws above temperature 0: every run samples from the same seed.
class SeededFacade : public Tremolan {
public:
    using Tremolan::Tremolan;

    std::unique_ptr<TranscribeTask> setupTranscribeTask(
        TranscriptionTimings currentTimings, std::shared_ptr<platform::sys::Progress> progress,
        std::shared_ptr<AudioProcessing> audioProcessor, std::shared_ptr<AudioEncoding> audioEncoder,
        std::shared_ptr<FeatureExtracting> featureExtractor, std::shared_ptr<SegmentSeeking> segmentSeeker,
        std::shared_ptr<TextDecoding> textDecoder, std::shared_ptr<WhisperTokenizer> tokenizer) override {
        auto task = Tremolan::setupTranscribeTask(currentTimings, progress, audioProcessor, audioEncoder,
                                                  featureExtractor, segmentSeeker, textDecoder, tokenizer);
        task->setRandomSource(std::make_shared<SeededRandomSource>(7));
        return task;
    }
};

std::shared_ptr<Tremolan> testModel() {
    TremolanConfig config;
    config.modelFolder = dataPath("models/test-speech").string();
    config.tokenizerFolder = dataPath("whisper-tokenizer/multilingual");
    return Tremolan::create<SeededFacade>(config);
}

DecodingOptions optionsFor(const TimedRecording& r, bool words) {
    DecodingOptions options;
    options.language = r.language;
    options.wordTimestamps = words;
    options.skipSpecialTokens = true;
    return options;
}

// Every phrase is one window; a batch transcribes each on that road, four at once.
TEST(TranscriptionRoads, PhrasesOneWindowEachInBatches) {
    const auto whisper = testModel();
    const auto phrases = velmora::test::heldOutPhrases();
    std::vector<std::vector<float>> arrays;
    std::vector<std::optional<DecodingOptions>> options;
    for (const auto& r : phrases) {
        arrays.push_back(r.samples);
        options.push_back(optionsFor(r, true));
        options.back()->concurrentWorkerCount = 4;
    }
    const auto outcomes = whisper->transcribeWithOptions(arrays, options);
    ASSERT_EQ(outcomes.size(), phrases.size());
    for (std::size_t i = 0; i < phrases.size(); ++i) {
        SCOPED_TRACE(phrases[i].name);
        const auto* results = std::get_if<Tremolan::Results>(&outcomes[i]);
        ASSERT_TRUE(results);
        ASSERT_EQ(results->size(), 1u);
        EXPECT_FALSE(results->at(0)->segments().empty());
        expectOrderedSegments(results->at(0)->segments(), phrases[i].seconds(), true);
    }
}

TEST(TranscriptionRoads, LongRecordingsCutAtSilences) {
    const auto whisper = testModel();
    for (const char* name : {"long-en", "long-ru"}) {
        SCOPED_TRACE(name);
        const auto r = velmora::test::longRecording(name);
        auto options = optionsFor(r, false);
        options.chunkingStrategy = ChunkingStrategy::vad;
        const auto results = whisper->transcribe(r.samples, options);
        ASSERT_GE(results.size(), 2u);
        for (std::size_t i = 0; i < results.size(); ++i) {
            SCOPED_TRACE("piece " + std::to_string(i));
            expectOrderedSegments(results[i]->segments(), r.seconds(), false);
        }
        const auto merged = TranscriptionUtilities::mergeTranscriptionResults(results);
        EXPECT_GT(merged->segments().size(), results.size());
        expectOrderedSegments(merged->segments(), r.seconds(), false);
    }
}

}  // namespace
