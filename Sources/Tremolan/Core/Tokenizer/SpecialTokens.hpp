#pragma once

namespace tremolan {

/// The ids that give the decoder its structure, looked up by their token texts in the vocabulary,
/// with fixed ids where a text is missing.
struct SpecialTokens {
    int endToken = 50257;           // "<|endoftext|>"
    int englishToken = 50259;       // "<|en|>"
    int noSpeechToken = 50362;      // "<|nospeech|>"
    int noTimestampsToken = 50363;  // "<|notimestamps|>"
    /// Every id at or above it is special (control, language or timestamp); "<|endoftext|>".
    int specialTokenBegin = 50257;
    int startOfPreviousToken = 50361;    // "<|startofprev|>"
    int startOfTranscriptToken = 50258;  // "<|startoftranscript|>"
    /// The first timestamp, "<|0.00|>"; each further id is 0.02 s later.
    int timeTokenBegin = 50364;
    int transcribeToken = 50359;  // "<|transcribe|>"
    int translateToken = 50358;   // "<|translate|>"
    int whitespaceToken = 220;    // " "

    bool operator==(const SpecialTokens&) const = default;
};

}  // namespace tremolan
