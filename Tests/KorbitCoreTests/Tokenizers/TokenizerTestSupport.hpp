#pragma once

#include "KorbitCore/External/Hub/Config.hpp"
#include "KorbitCore/External/Tokenizers/TokenizerError.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace tokenizer_test {

/// A Config read from JSON text the way files are read.
inline korbit::Config json(const std::string& text) {
    return korbit::Config::parseJson(text);
}

/// The message of the TokenizerError the call throws; a failure when it throws nothing or
/// something else.
inline std::string tokenizerErrorOf(const std::function<void()>& call) {
    return velmora::test::messageOf<korbit::TokenizerError>(call);
}

using Strings = std::vector<std::string>;
using Ids = std::vector<int>;

}  // namespace tokenizer_test
