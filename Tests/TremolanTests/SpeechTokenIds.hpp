#pragma once

// Ids of the multilingual vocabulary's special tokens that the decoding tests write into prompts
// and token histories.

namespace velmora::test::tokens {

constexpr int EOT = 50257;         // <|endoftext|>
constexpr int SOT = 50258;         // <|startoftranscript|>
constexpr int EN = 50259;          // <|en|>
constexpr int DE = 50261;          // <|de|>
constexpr int TRANSLATE = 50358;   // <|translate|>
constexpr int TRANSCRIBE = 50359;  // <|transcribe|>
constexpr int PREVIOUS = 50361;    // <|startofprev|>
constexpr int NO_SPEECH = 50362;   // <|nospeech|>
constexpr int NO_TS = 50363;       // <|notimestamps|>
constexpr int T = 50364;           // <|0.00|>, the first timestamp

}  // namespace velmora::test::tokens
