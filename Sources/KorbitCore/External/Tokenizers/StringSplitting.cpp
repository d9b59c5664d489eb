#include "KorbitCore/External/Tokenizers/StringSplitting.hpp"

#include "Platform/Text/Unicode.hpp"

namespace korbit {

SearchPattern SearchPattern::literal(std::string text) {
    SearchPattern pattern;
    pattern.literal_ = std::move(text);
    return pattern;
}

SearchPattern SearchPattern::regularExpression(std::string_view source) {
    SearchPattern pattern;
    pattern.isRegex_ = true;
    try {
        pattern.regex_.emplace(source);
    } catch (const platform::text::RegexError&) {
        // Left without an expression: it finds nothing.
    }
    return pattern;
}

std::optional<TextRange> SearchPattern::find(std::string_view text, std::size_t from) const {
    if (isRegex_) {
        if (!regex_) return std::nullopt;
        std::optional<platform::text::Regex::Match> match = regex_->firstMatch(text, from);
        if (!match) return std::nullopt;
        return match->range();
    }
    if (literal_.empty() || from > text.size()) return std::nullopt;
    std::size_t at = text.find(literal_, from);
    if (at == std::string_view::npos) return std::nullopt;
    return TextRange{at, at + literal_.size()};
}

std::vector<TextRange> SearchPattern::ranges(std::string_view text) const {
    std::vector<TextRange> found;
    if (isRegex_) {
        if (!regex_) return found;
        for (const auto& match : regex_->searchAll(text)) found.push_back(match.range());
        return found;
    }
    if (literal_.empty()) return found;
    for (std::size_t at = text.find(literal_); at != std::string_view::npos;
         at = text.find(literal_, at + literal_.size())) {
        found.push_back(TextRange{at, at + literal_.size()});
    }
    return found;
}

std::vector<std::string> split(std::string_view text, const SearchPattern& separator, bool includeSeparators) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (const TextRange& match : separator.ranges(text)) {
        if (match.begin < start) continue;  // an empty match inside a piece already cut off
        if (match.begin > start) pieces.emplace_back(text.substr(start, match.begin - start));
        if (includeSeparators && match.length() > 0) pieces.emplace_back(text.substr(match.begin, match.length()));
        start = match.end;
    }
    if (start < text.size()) pieces.emplace_back(text.substr(start));
    return pieces;
}

std::vector<std::string> split(std::string_view text, const SearchPattern& separator, SplitDelimiterBehavior behavior) {
    switch (behavior) {
        case SplitDelimiterBehavior::removed:
            return split(text, separator, false);
        case SplitDelimiterBehavior::isolated:
            return split(text, separator, true);
        case SplitDelimiterBehavior::mergedWithPrevious: {
            std::vector<std::string> pieces;
            std::size_t start = 0;
            for (const TextRange& match : separator.ranges(text)) {
                pieces.emplace_back(text.substr(start, match.end - start));
                start = match.end;
            }
            if (start < text.size()) pieces.emplace_back(text.substr(start));
            return pieces;
        }
        case SplitDelimiterBehavior::mergedWithNext: {
            std::vector<std::string> pieces;
            std::size_t start = 0;
            for (const TextRange& match : separator.ranges(text)) {
                if (match.begin == 0 || match.begin <= start) continue;
                pieces.emplace_back(text.substr(start, match.begin - start));
                start = match.begin;
            }
            if (start < text.size()) pieces.emplace_back(text.substr(start));
            return pieces;
        }
    }
    return {};
}

std::vector<std::string> split(std::string_view text, const platform::text::Regex& separator) {
    std::vector<platform::text::Regex::Match> matches = separator.allMatches(text);
    if (matches.empty()) return {std::string(text)};
    std::vector<std::string> pieces;
    std::size_t position = 0;
    for (const auto& match : matches) {
        if (match.begin() > position) pieces.emplace_back(text.substr(position, match.begin() - position));
        for (std::size_t g = match.groups.size(); g-- > 0;) {
            if (match.groups[g]) {
                pieces.emplace_back(text.substr(match.groups[g]->begin, match.groups[g]->length()));
                break;
            }
        }
        position = match.end();
    }
    if (position < text.size()) pieces.emplace_back(text.substr(position));
    return pieces;
}

std::string replacingOccurrences(std::string_view text, std::string_view target, std::string_view replacement) {
    if (target.empty()) return std::string(text);
    std::size_t at = text.find(target);
    if (at == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    for (; at != std::string_view::npos; at = text.find(target, copied)) {
        out.append(text.substr(copied, at - copied));
        out.append(replacement);
        copied = at + target.size();
    }
    out.append(text.substr(copied));
    return out;
}

}  // namespace korbit
