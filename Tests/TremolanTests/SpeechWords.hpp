#pragma once

// The multilingual speech vocabulary of the test data, and the ids of words it holds as one token,
// for tests that craft decoded token sequences.

#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"
#include "Support/TestEnvironment.hpp"
#include "Tremolan/Core/Tokenizer/WhisperTokenizerWrapper.hpp"

#include <gtest/gtest.h>

namespace velmora::test {

inline const tremolan::WhisperTokenizerWrapper& speechVocabulary() {
    static const tremolan::WhisperTokenizerWrapper tokenizer(
        korbit::AutoTokenizerWrapper::fromModelFolder(dataPath("whisper-tokenizer/multilingual"), true));
    return tokenizer;
}

/// The id of a text that the vocabulary holds as a single token (" Hello").
inline int wordToken(const char* text) {
    const auto ids = speechVocabulary().encode(text);
    EXPECT_EQ(ids.size(), 1u) << text;
    return ids.at(0);
}

}  // namespace velmora::test
