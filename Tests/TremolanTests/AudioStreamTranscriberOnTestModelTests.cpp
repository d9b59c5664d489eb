// Live transcription end to end: held-out phrases of the trained test model are played into a
// microphone of a private sound server, captured, and streamed through the model; the confirmed
// text reaches the spoken words, and a stop returns at once.

#include "ScriptedTextDecoder.hpp"
#include "SpeechReference/WordErrors.hpp"
#include "Support/HeldOutRecordings.hpp"

#include "Support/PrivatePulseServer.hpp"
#include "Tremolan/Core/Audio/AudioProcessor.hpp"
#include "Tremolan/Core/Segments/SegmentSeeker.hpp"
#include "Tremolan/Core/Streaming/AudioStreamTranscriber.hpp"
#include "Tremolan/Core/Transcription/WindowDecoder.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace tremolan;
using State = AudioStreamTranscriber::State;
using Clock = std::chrono::steady_clock;
using velmora::test::dataPath;

std::string joined(const std::vector<TranscriptionSegment>& segments) {
    std::string text;
    for (const auto& s : segments) text += s.text;
    return text;
}

TEST(AudioStreamTranscriberOnTestModel, ConfirmedTextReachesThePlayedWordsAndStopIsPrompt) {
    VELMORA_SKIP_WITHOUT_PULSEAUDIO();
    velmora::test::PrivatePulseServer server;
    server.createMicrophone("mic");
    server.setDefaultSource("mic");

    // Three held-out English phrases one after the other, as the model was trained to hear them (a
    // second or more of silence before speech makes it skip or mishear a window), then 2 s of
    // silence.
    std::vector<float> played;
    std::string reference;
    const auto silence = [&](double seconds) {
        played.insert(played.end(), static_cast<std::size_t>(seconds * 16000), 0.0f);
    };
    double lastSpeechStart = 0;  // in the played sound
    for (const std::string file : {"en-01.wav", "en-04.wav", "en-06.wav"}) {
        const auto phrase = AudioProcessor::loadAudioAsFloatArray(dataPath("testmodel/" + file).string());
        for (const auto& r : velmora::test::heldOutRecordings()) {
            if (r.file != file) continue;
            reference += (reference.empty() ? "" : " ") + r.text;
            lastSpeechStart = static_cast<double>(played.size()) / 16000 + r.start;
        }
        played.insert(played.end(), phrase.begin(), phrase.end());
    }
    silence(2.0);

    const auto model = WindowDecoder::load(dataPath("models/test-speech"), velmora::test::multilingualTokenizer());
    DecodingOptions options;
    options.language = "en";
    options.skipSpecialTokens = true;
    const auto audio = std::make_shared<AudioProcessor>();
    AudioStreamTranscriber transcriber(model.audioEncoder, model.featureExtractor, std::make_shared<SegmentSeeker>(),
                                       model.textDecoder, velmora::test::multilingualTokenizer(), audio, options, 1,
                                       0.3f, 60, false, nullptr);
    transcriber.startStreamTranscription();
    auto player = server.startPlaying(velmora::test::PrivatePulseServer::feedOf("mic"), played, 16000);
    ASSERT_TRUE(player.wait());
    // A pass that began after the sound had ended has seen all of it; once a later pass has begun,
    // that one's segments are in the state.
    const auto endOfSound = static_cast<std::int64_t>(audio->audioSampleCount());
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    std::int64_t fullPass = 0;
    while (Clock::now() < deadline) {
        const std::int64_t size = transcriber.state().lastBufferSize;
        if (fullPass == 0 && size > endOfSound) fullPass = size;
        if (fullPass > 0 && size > fullPass) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_GT(fullPass, 0);
    const State heard = transcriber.state();
    const auto started = Clock::now();
    transcriber.stopStreamTranscription();
    const auto stopping = Clock::now() - started;

    const std::string confirmed = joined(heard.confirmedSegments);
    const std::string all = confirmed + joined(heard.unconfirmedSegments);
    const auto errors = velmora::dev::wordErrors(reference, all);
    // The played sound ended with the capture's count at its end.
    const double lastPhrase =
        static_cast<double>(endOfSound) / 16000 - static_cast<double>(played.size()) / 16000 + lastSpeechStart;
    const double reached = heard.confirmedSegments.empty() ? 0.0 : heard.confirmedSegments.back().end;
    const double reachedAll = heard.unconfirmedSegments.empty() ? reached : heard.unconfirmedSegments.back().end;
    std::printf(
        "confirmed: %s\nunconfirmed: %s\nword error rate %.1f%% (%d of %d), stop took %.0f ms; the last "
        "phrase from %.2f s, confirmed to %.2f s, heard to %.2f s\n",
        confirmed.c_str(), joined(heard.unconfirmedSegments).c_str(), 100.0 * errors.rate(), errors.edits, errors.words,
        std::chrono::duration<double, std::milli>(stopping).count(), lastPhrase, reached, reachedAll);
    EXPECT_FALSE(heard.confirmedSegments.empty());
    // The confirmed text reaches into the last phrase (measured: 1.7 to 2.4 s past its start).
    EXPECT_GT(reached, lastPhrase);
    // The test model hears whole phrases after a short silence; a pass over a phrase cut off by the
    // end of the buffer often closes it early as a segment of its own, which the next pass then
    // confirms, so the streamed text is well short of the model's 15% on whole phrases. Where the
    // passes cut depends on how fast the machine runs them: measured 7 to 12 of 16 words wrong over
    // OpenBLAS's Haswell, Zen and Sandybridge kernels, the avx2 and portable paths and 1 to 8
    // threads, on a machine at rest and under a load of 50; the bound adds one word.
    EXPECT_LE(errors.edits, 13) << all;
    EXPECT_LT(stopping, std::chrono::seconds(1));
    EXPECT_FALSE(transcriber.state().isRecording);
}

}  // namespace
