#include "Platform/Text/Regex.hpp"

#include "Platform/Text/Unicode.hpp"

#include <unicode/regex.h>
#include <unicode/utext.h>

#include <algorithm>

namespace platform::text {

struct Regex::Compiled {
    std::unique_ptr<icu::RegexPattern> pattern;
    std::size_t groups = 0;
};

namespace {

// A UText over UTF-8 bytes; its native indexes are byte offsets.
class Utf8Text {
public:
    explicit Utf8Text(std::string_view bytes) {
        UErrorCode status = U_ZERO_ERROR;
        text_ = utext_openUTF8(nullptr, bytes.data(), static_cast<int64_t>(bytes.size()), &status);
        if (U_FAILURE(status)) throw std::runtime_error("cannot open text for searching");
    }
    ~Utf8Text() { utext_close(text_); }
    Utf8Text(const Utf8Text&) = delete;
    Utf8Text& operator=(const Utf8Text&) = delete;
    UText* get() const { return text_; }

private:
    UText* text_ = nullptr;
};

std::unique_ptr<icu::RegexMatcher> newMatcher(const icu::RegexPattern& pattern, const Utf8Text& text) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(pattern.matcher(status));
    if (U_FAILURE(status) || !matcher) throw std::runtime_error("cannot create a regular-expression matcher");
    matcher->reset(text.get());
    return matcher;
}

Regex::Match currentMatch(icu::RegexMatcher& matcher) {
    UErrorCode status = U_ZERO_ERROR;
    Regex::Match match;
    const int32_t groups = matcher.groupCount();
    match.groups.reserve(static_cast<std::size_t>(groups) + 1);
    for (int32_t g = 0; g <= groups; ++g) {
        int64_t begin = matcher.start64(g, status);
        int64_t end = matcher.end64(g, status);
        if (U_FAILURE(status) || begin < 0) {
            match.groups.emplace_back(std::nullopt);
            status = U_ZERO_ERROR;
        } else {
            match.groups.emplace_back(Regex::Range{static_cast<std::size_t>(begin), static_cast<std::size_t>(end)});
        }
    }
    return match;
}

std::string describe(UErrorCode code, const UParseError& where) {
    std::string message = u_errorName(code);
    if (where.offset >= 0) message += " at offset " + std::to_string(where.offset);
    return message;
}

}  // namespace

Regex::Regex(std::string_view pattern) : source_(pattern) {
    if (pattern.empty()) throw RegexError("empty expression");
    UErrorCode status = U_ZERO_ERROR;
    UParseError where{};
    icu::UnicodeString source =
        icu::UnicodeString::fromUTF8(icu::StringPiece(pattern.data(), static_cast<int32_t>(pattern.size())));
    auto compiled = std::make_shared<Compiled>();
    compiled->pattern.reset(icu::RegexPattern::compile(source, 0, where, status));
    if (U_FAILURE(status) || !compiled->pattern) throw RegexError(describe(status, where));
    std::unique_ptr<icu::RegexMatcher> matcher(compiled->pattern->matcher(status));
    if (U_FAILURE(status) || !matcher) throw RegexError(describe(status, where));
    compiled->groups = static_cast<std::size_t>(matcher->groupCount());
    compiled_ = std::move(compiled);
}

std::size_t Regex::groupCount() const {
    return compiled_->groups;
}

std::optional<Regex::Match> Regex::firstMatch(std::string_view text, std::size_t from) const {
    if (from > text.size()) return std::nullopt;
    Utf8Text utext(text);
    auto matcher = newMatcher(*compiled_->pattern, utext);
    UErrorCode status = U_ZERO_ERROR;
    matcher->region(static_cast<int64_t>(from), static_cast<int64_t>(text.size()), status);
    if (U_FAILURE(status) || !matcher->find()) return std::nullopt;
    return currentMatch(*matcher);
}

std::vector<Regex::Match> Regex::searchAll(std::string_view text) const {
    std::vector<Match> matches;
    Utf8Text utext(text);
    auto matcher = newMatcher(*compiled_->pattern, utext);
    std::vector<std::size_t> clusters;  // grapheme boundaries, computed at the first empty match
    std::size_t position = 0;
    while (position <= text.size()) {
        UErrorCode status = U_ZERO_ERROR;
        matcher->region(static_cast<int64_t>(position), static_cast<int64_t>(text.size()), status);
        if (U_FAILURE(status) || !matcher->find()) break;
        matches.push_back(currentMatch(*matcher));
        const Range found = matches.back().range();
        if (found.end > found.begin) {
            position = found.end;
            continue;
        }
        if (found.begin >= text.size()) break;
        if (clusters.empty()) clusters = graphemeBoundaries(text);
        position = *std::upper_bound(clusters.begin(), clusters.end(), found.begin);
    }
    return matches;
}

std::vector<Regex::Match> Regex::allMatches(std::string_view text) const {
    std::vector<Match> matches;
    Utf8Text utext(text);
    auto matcher = newMatcher(*compiled_->pattern, utext);
    while (matcher->find()) matches.push_back(currentMatch(*matcher));
    return matches;
}

std::string Regex::replaceAll(std::string_view text, std::string_view replacementTemplate) const {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString input =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    icu::UnicodeString replacement = icu::UnicodeString::fromUTF8(
        icu::StringPiece(replacementTemplate.data(), static_cast<int32_t>(replacementTemplate.size())));
    std::unique_ptr<icu::RegexMatcher> matcher(compiled_->pattern->matcher(input, status));
    if (U_FAILURE(status) || !matcher) return std::string(text);
    icu::UnicodeString result = matcher->replaceAll(replacement, status);
    if (U_FAILURE(status)) return std::string(text);
    std::string out;
    result.toUTF8String(out);
    return out;
}

}  // namespace platform::text
