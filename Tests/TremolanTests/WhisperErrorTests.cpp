#include "Support/LogCapture.hpp"
#include "Support/SystemLogCapture.hpp"
#include "Tremolan/Utilities/SpeechLog.hpp"
#include "Tremolan/Utilities/WhisperError.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace tremolan;
using platform::log::LogType;

TEST(WhisperError, EqualWhenCaseAndMessageAreEqual) {
    EXPECT_EQ(WhisperError::modelsUnavailable("x"), WhisperError::modelsUnavailable("x"));
    EXPECT_FALSE(WhisperError::modelsUnavailable("x") == WhisperError::modelsUnavailable("y"));
    EXPECT_FALSE(WhisperError::modelsUnavailable("x") == WhisperError::tokenizerUnavailable("x"));
    EXPECT_EQ(WhisperError::tokenizerUnavailable().message(), "Tokenizer is unavailable");
    EXPECT_EQ(WhisperError::modelsUnavailable().message(), "Models are unavailable");
}

TEST(WhisperError, ReadingTheDescriptionLogsTheMessageOnceAtErrorLevel) {
    const WhisperError error = WhisperError::loadAudioFailed("Resource path does not exist /nowhere.wav");
    velmora::test::LogCapture log(korbit::Logging::LogLevel::error);
    EXPECT_EQ(std::string(error.what()), "Resource path does not exist /nowhere.wav");
    EXPECT_TRUE(log.messages().empty());  // what() stays silent
    EXPECT_EQ(error.errorDescription(), "Resource path does not exist /nowhere.wav");
    EXPECT_EQ(log.count("Resource path does not exist /nowhere.wav"), 1);
    error.errorDescription();
    EXPECT_EQ(log.count("Resource path does not exist /nowhere.wav"), 2);
}

TEST(Signpost, IntervalsArePairedLinesAndASecondEndIsReported) {
    velmora::test::SystemLogCapture log(LogType::debug);
    auto& signposter = SpeechLog::AudioEncoding::signposter();
    auto interval = SpeechLog::beginSignpost(SpeechLog::encodeAudioInterval, signposter);
    EXPECT_TRUE(interval.isOpen);
    SpeechLog::endSignpost(SpeechLog::encodeAudioInterval, interval, signposter);
    EXPECT_FALSE(interval.isOpen);
    SpeechLog::endSignpost(SpeechLog::encodeAudioInterval, interval, signposter);

    const auto entries = log.entries();
    ASSERT_EQ(entries.size(), 3u);
    for (const auto& entry : entries) {
        EXPECT_EQ(entry.subsystem, "com.korbit.tremolan");
        EXPECT_EQ(entry.category, "AudioEncoding");
    }
    const std::string id = "id=" + std::to_string(interval.signpostID);
    EXPECT_EQ(entries[0].text, "signpost begin EncodeAudio " + id);
    EXPECT_THAT(entries[1].text, ::testing::MatchesRegex("signpost end EncodeAudio " + id + " duration=[0-9.]+ ms"));
    EXPECT_EQ(entries[2].text, "signpost end EncodeAudio " + id + " [Error] Interval already ended");
}

TEST(Signpost, DisabledSignpostsStillHandOutUsableStates) {
    velmora::test::SystemLogCapture log(LogType::info);
    auto& signposter = SpeechLog::TranscribeTask::signposter();
    auto first = SpeechLog::beginSignpost(SpeechLog::transcribeAudioInterval, signposter);
    auto second = SpeechLog::beginSignpost(SpeechLog::decodeInterval, signposter);
    EXPECT_TRUE(first.isOpen && second.isOpen);
    EXPECT_NE(first.signpostID, second.signpostID);
    SpeechLog::endSignpost(SpeechLog::decodeInterval, second, signposter);
    SpeechLog::endSignpost(SpeechLog::transcribeAudioInterval, first, signposter);
    EXPECT_FALSE(first.isOpen);
    EXPECT_TRUE(log.entries().empty());
    EXPECT_EQ(SpeechLog::FeatureExtractor::logger().category(), "FeatureExtractor");
}
