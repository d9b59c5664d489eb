#include "SpeechReference/WordErrors.hpp"

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace velmora::dev {

namespace {

std::vector<std::string> splitWords(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    std::string w;
    while (in >> w) words.push_back(w);
    return words;
}

}  // namespace

WordErrors wordErrors(const std::string& reference, const std::string& hypothesis) {
    const auto ref = splitWords(reference), hyp = splitWords(hypothesis);
    std::vector<int> row(hyp.size() + 1), next(hyp.size() + 1);
    for (std::size_t j = 0; j <= hyp.size(); ++j) row[j] = static_cast<int>(j);
    for (std::size_t i = 1; i <= ref.size(); ++i) {
        next[0] = static_cast<int>(i);
        for (std::size_t j = 1; j <= hyp.size(); ++j)
            next[j] = std::min({row[j] + 1, next[j - 1] + 1, row[j - 1] + (ref[i - 1] == hyp[j - 1] ? 0 : 1)});
        std::swap(row, next);
    }
    return {row[hyp.size()], static_cast<int>(ref.size())};
}

}  // namespace velmora::dev
