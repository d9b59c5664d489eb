#include "Support/LogCapture.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Audio/EnergyVAD.hpp"
#include "Tremolan/Core/Audio/VADAudioChunker.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"
#include "TremolanTests/Audio/AudioTestSignals.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace tremolan;
using velmora::test::sine;

namespace {

/// Speech-like noise everywhere except in the given silences (sample ranges).
std::vector<float> speechWithSilences(std::size_t count, const std::vector<IndexRange>& silences) {
    auto samples = sine(300, count, 16000, 0.3f);
    for (const auto& s : silences) std::fill(samples.begin() + s.startIndex, samples.begin() + s.endIndex, 0.0f);
    return samples;
}

std::shared_ptr<TranscriptionResult> resultWith(std::vector<TranscriptionSegment> segments) {
    return std::make_shared<TranscriptionResult>("text", std::move(segments), "en", TranscriptionTimings{});
}

TranscriptionSegment segment(float start, float end, std::int64_t seek, bool withWords) {
    TranscriptionSegment s;
    s.start = start;
    s.end = end;
    s.seek = seek;
    s.text = "words";
    if (withWords) s.words = std::vector<WordTiming>{WordTiming{"w", {1}, start, end, 0.9f}};
    return s;
}

}  // namespace

TEST(AudioChunking, ShortRecordingsAreOneChunkAndContinuousSpeechIsCutAtTheWindow) {
    const VADAudioChunker chunker(16000, nullptr);
    const std::vector<float> exact(480000, 0.3f);
    const auto one = chunker.chunkAll(exact, 480000, std::nullopt);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].seekOffsetIndex, 0);
    EXPECT_EQ(one[0].audioSamples.size(), 480000u);

    const auto sixty = chunker.chunkAll(speechWithSilences(960000, {}), 480000, std::nullopt);
    ASSERT_EQ(sixty.size(), 2u);
    EXPECT_EQ(sixty[0].seekOffsetIndex, 0);
    EXPECT_EQ(sixty[0].audioSamples.size(), 480000u);
    EXPECT_EQ(sixty[1].seekOffsetIndex, 480000);
    EXPECT_EQ(sixty[1].audioSamples.size(), 480000u);

    // The last 10000 samples, less than the padding after the cut, belong to no chunk.
    const auto tail = chunker.chunkAll(speechWithSilences(490000, {}), 480000, std::nullopt);
    ASSERT_EQ(tail.size(), 1u);
    EXPECT_EQ(tail[0].audioSamples.size(), 480000u);
}

TEST(AudioChunking, CutsFallInTheMiddleOfTheLongestSilenceOfTheSecondHalf) {
    const VADAudioChunker chunker(16000, nullptr);
    velmora::test::LogCapture log;
    // 40 s with a silence from 20.0 s to 21.0 s, and a shorter one in the first half.
    const auto samples = speechWithSilences(640000, {{320000, 336000}, {80000, 88000}});
    const auto chunks = chunker.chunkAll(samples, 480000, std::nullopt);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].audioSamples.size(), 328000u);
    EXPECT_EQ(chunks[1].seekOffsetIndex, 328000);
    EXPECT_EQ(chunks[1].audioSamples.size(), 640000u - 328000u);
    EXPECT_EQ(std::vector<float>(samples.begin() + 328000, samples.begin() + 328010),
              std::vector<float>(chunks[1].audioSamples.begin(), chunks[1].audioSamples.begin() + 10));
    EXPECT_EQ(log.count("Found chunk from 0.00 to 20.50"), 1);
}

TEST(AudioChunking, HeldOutPhrasesAreCutInsideTheirPauses) {
    // Twelve held-out recordings, twice over, with pauses of 0.9 to 2.0 s between them.
    std::ifstream table(velmora::test::dataPath("testmodel/transcripts.tsv"));
    std::string line;
    std::vector<float> recording;
    std::vector<IndexRange> pauses;  // from one phrase's last word to the next one's first
    std::int64_t previousSpeechEnd = 0;
    std::vector<std::tuple<std::string, double, double>> phrases;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string file, language;
        double start = 0, end = 0;
        fields >> file >> language >> start >> end;
        phrases.emplace_back(file, start, end);
    }
    ASSERT_EQ(phrases.size(), 12u);
    for (int round = 0; round < 2; ++round) {
        for (std::size_t i = 0; i < phrases.size(); ++i) {
            const auto& [file, start, end] = phrases[i];
            const auto offset = static_cast<std::int64_t>(recording.size());
            if (offset > 0) pauses.push_back({previousSpeechEnd, offset + static_cast<std::int64_t>(start * 16000)});
            const auto samples =
                AudioProcessor::loadAudioAsFloatArray(velmora::test::dataPath("testmodel/" + file).string());
            recording.insert(recording.end(), samples.begin(), samples.end());
            previousSpeechEnd = offset + static_cast<std::int64_t>(end * 16000);
            recording.resize(recording.size() + static_cast<std::size_t>(14400 + 1600 * ((i * 7 + round) % 8)), 0.0f);
        }
    }
    ASSERT_GT(recording.size(), 90u * 16000u);

    const VADAudioChunker chunker(16000, nullptr);
    const auto chunks = chunker.chunkAll(recording, 480000, std::nullopt);
    ASSERT_GE(chunks.size(), 4u);
    EXPECT_EQ(chunks[0].seekOffsetIndex, 0);
    for (std::size_t c = 1; c < chunks.size(); ++c) {
        const std::int64_t cut = chunks[c].seekOffsetIndex;
        EXPECT_EQ(cut, chunks[c - 1].seekOffsetIndex + static_cast<std::int64_t>(chunks[c - 1].audioSamples.size()));
        EXPECT_LE(chunks[c - 1].audioSamples.size(), 480000u);
        // The detector sees in 0.1 s frames, the table's times are the phrases' own: one frame of slack.
        const bool inPause = std::any_of(pauses.begin(), pauses.end(), [&](const IndexRange& p) {
            return cut > p.startIndex - 1600 && cut < p.endIndex + 1600;
        });
        EXPECT_TRUE(inPause) << "cut at " << cut / 16000.0 << " s";
    }
}

TEST(AudioChunking, PiecesWithoutVoiceArePassedOver) {
    const VADAudioChunker chunker(16000, nullptr);
    velmora::test::LogCapture log;
    // 100 s: voice, then 50 s of digital silence from 20 s on, then voice again.
    const auto samples = speechWithSilences(1600000, {{320000, 1120000}});
    const auto chunks = chunker.chunkAll(samples, 480000, std::nullopt);
    ASSERT_FALSE(chunks.empty());
    std::int64_t covered = 0;
    for (const auto& chunk : chunks) {
        const std::int64_t end = chunk.seekOffsetIndex + static_cast<std::int64_t>(chunk.audioSamples.size());
        // No chunk lies within the silence; together they hold every voiced sample.
        EXPECT_FALSE(chunk.seekOffsetIndex >= 320000 && end <= 1120000) << chunk.seekOffsetIndex << " ..< " << end;
        covered += std::min<std::int64_t>(end, 320000) - std::min<std::int64_t>(chunk.seekOffsetIndex, 320000);
        covered += std::max<std::int64_t>(end, 1120000) - std::max<std::int64_t>(chunk.seekOffsetIndex, 1120000);
    }
    // (The last window padding after a cut may belong to no chunk.)
    EXPECT_GE(covered, 320000 + (1600000 - 1120000) - 16000);
    EXPECT_EQ(log.count("Passing over chunk from 25.00 to 47.50: no voice"), 1);
    // The ranges alone, as a caller that only needs the cuts asks for them, are the chunks' own.
    const auto ranges = chunker.chunkRanges(samples, 480000, std::nullopt);
    ASSERT_EQ(ranges.size(), chunks.size());
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        EXPECT_EQ(ranges[i].startIndex, chunks[i].seekOffsetIndex);
        EXPECT_EQ(ranges[i].endIndex - ranges[i].startIndex, static_cast<std::int64_t>(chunks[i].audioSamples.size()));
    }

    // Ten minutes of silence, or of a hiss far below the detector's threshold, give no chunk at all.
    EXPECT_TRUE(chunker.chunkAll(std::vector<float>(9600000, 0.0f), 480000, std::nullopt).empty());
    EXPECT_TRUE(chunker.chunkAll(sine(3000, 9600000, 16000, 0.001f), 480000, std::nullopt).empty());
}

TEST(AudioChunking, ClipsAreKeptWithinTheRecording) {
    const VADAudioChunker chunker(16000, nullptr);
    const auto samples = speechWithSilences(800000, {});
    DecodingOptions options;
    // A clip from 10 s to 100 s of a 50 s recording, and one that starts past its end.
    options.clipTimestamps = {10.0f, 100.0f, 70.0f, 80.0f};
    const auto chunks = chunker.chunkAll(samples, 700000, options);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].seekOffsetIndex, 160000);
    EXPECT_EQ(chunks[0].audioSamples.size(), 640000u);
    for (const auto& chunk : chunker.chunkAll(samples, 100000, options))
        EXPECT_LE(chunk.seekOffsetIndex + static_cast<std::int64_t>(chunk.audioSamples.size()), 800000);

    // Reversed clips give nothing.
    options.clipTimestamps = {30.0f, 20.0f};
    EXPECT_TRUE(chunker.chunkAll(samples, 480000, options).empty());
}

TEST(AudioChunking, ResultsMoveToTheRecordingsTimeLineAndFailuresAreNotSilent) {
    std::vector<AudioChunk> chunks{{0, {}}, {480000, {}}};
    const auto first = resultWith({segment(1.0f, 2.5f, 0, false)});
    const auto second = resultWith({segment(0.5f, 1.5f, 0, true), segment(1.5f, 3.0f, 32000, false)});
    const auto merged = AudioChunking::updateSeekOffsetsForResults({{{first}, nullptr}, {{second}, nullptr}}, chunks);
    ASSERT_EQ(merged.size(), 2u);
    EXPECT_EQ(merged[0], first);
    EXPECT_EQ(first->seekTime(), 0.0f);
    EXPECT_EQ(first->segments()[0].start, 1.0f);
    EXPECT_EQ(second->seekTime(), 30.0f);
    const auto moved = second->segments();
    EXPECT_EQ(moved[0].seek, 480000);
    EXPECT_EQ(moved[0].start, 30.5f);
    EXPECT_EQ(moved[0].end, 31.5f);
    EXPECT_EQ((*moved[0].words)[0].start, 30.5f);
    EXPECT_EQ((*moved[0].words)[0].end, 31.5f);
    EXPECT_EQ(moved[1].seek, 512000);
    EXPECT_EQ(moved[1].text, "words");

    // A failed chunk is left out, at error level; the others still move.
    velmora::test::LogCapture log(korbit::Logging::LogLevel::error);
    const auto third = resultWith({segment(0.5f, 1.5f, 0, false)});
    const auto error = std::make_exception_ptr(WhisperError::transcriptionFailed("window broke"));
    const auto some = AudioChunking::updateSeekOffsetsForResults({{{}, error}, {{third}, nullptr}}, chunks);
    ASSERT_EQ(some.size(), 1u);
    EXPECT_EQ(third->segments()[0].start, 30.5f);
    EXPECT_EQ(log.count("Error transcribing chunk 0: window broke"), 1);

    // When every chunk failed, the first error is the answer, not an empty success.
    const auto other = std::make_exception_ptr(WhisperError::decodingFailed("second"));
    EXPECT_EQ(velmora::test::messageOf<WhisperError>([&] {
                  AudioChunking::updateSeekOffsetsForResults({{{}, error}, {{}, other}}, chunks);
              }),
              "window broke");
    EXPECT_TRUE(AudioChunking::updateSeekOffsetsForResults({}, {}).empty());
    EXPECT_THROW(AudioChunking::updateSeekOffsetsForResults({{{}, nullptr}}, chunks), std::invalid_argument);

    // Offsets go through single precision: 30000017 samples are 1875.001 s, and back 30000016.
    const auto far = resultWith({segment(0.0f, 1.0f, 0, false)});
    AudioChunking::updateSeekOffsetsForResults({{{far}, nullptr}}, {{30000017, {}}});
    EXPECT_EQ(far->segments()[0].seek, 30000016);
    EXPECT_EQ(far->seekTime(), 1875.00098f);
}
