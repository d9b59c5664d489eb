#pragma once

#include "KorbitCore/External/Hub/Config.hpp"
#include "KorbitCore/External/Tokenizers/TokenizerError.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace tokenizer_test {

/// A Config read from JSON text the way files are read.
inline korbit::Config json(const std::string& text) { return korbit::Config::parseJson(text); }

/// The message of the TokenizerError the call throws; a failure when it throws nothing or
/// something else.
inline std::string tokenizerErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const korbit::TokenizerError& e) {
        return e.what();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "unexpected error: " << e.what();
        return "";
    }
    ADD_FAILURE() << "no error thrown";
    return "";
}

using Strings = std::vector<std::string>;
using Ids = std::vector<int>;

}  // namespace tokenizer_test
