#include "Velmora/Post/GlossaryReplacer.hpp"

#include "Velmora/Post/TextBasics.hpp"

#include "Platform/Text/Unicode.hpp"

#include <algorithm>

namespace text = platform::text;

namespace velmora {

namespace {

struct Candidate {
    std::u32string folded;
    std::u32string canonical;
    std::size_t term;
};

std::u32string composed(std::string_view utf8) {
    return text::toUtf32(text::normalize(utf8, text::NormalizationForm::NFC));
}

std::vector<Candidate> candidatesOf(const std::vector<Term>& terms) {
    std::vector<Candidate> candidates;
    for (std::size_t i = 0; i < terms.size(); ++i) {
        // A blank spelling would delete every heard variant from the text.
        const std::string canonical = trimmingWhitespace(terms[i].canonical);
        if (canonical.empty()) continue;
        for (const auto& variant : terms[i].variants) {
            const std::string heard = trimmingWhitespace(variant);
            if (heard.empty()) continue;
            candidates.push_back(
                {foldedScalars(text::normalize(heard, text::NormalizationForm::NFC)), composed(canonical), i});
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.folded.size() > b.folded.size(); });
    return candidates;
}

}  // namespace

GlossaryReplacer::Result GlossaryReplacer::apply(std::string_view input, const std::vector<Term>& terms) {
    Result result{std::string(input), std::vector<std::int64_t>(terms.size(), 0)};
    const std::vector<Candidate> candidates = candidatesOf(terms);
    if (candidates.empty()) return result;

    const std::u32string scalars = composed(input);
    std::u32string folded = scalars;
    for (char32_t& c : folded) c = text::foldCase(c);

    std::u32string out;
    bool replaced = false;
    const std::size_t n = scalars.size();
    for (std::size_t pos = 0; pos < n;) {
        const Candidate* match = nullptr;
        if (pos == 0 || !isWordCharacter(scalars[pos - 1])) {
            for (const Candidate& candidate : candidates) {
                const std::size_t end = pos + candidate.folded.size();
                if (end > n || (end < n && isWordCharacter(scalars[end]))) continue;
                if (std::u32string_view(folded).substr(pos, candidate.folded.size()) != candidate.folded) continue;
                match = &candidate;
                break;
            }
        }
        if (match == nullptr) {
            out.push_back(scalars[pos++]);
            continue;
        }
        const std::u32string_view heard = std::u32string_view(scalars).substr(pos, match->folded.size());
        if (heard == match->canonical) {
            out.append(heard);
        } else {
            out.append(match->canonical);
            ++result.hits[match->term];
            replaced = true;
        }
        pos += match->folded.size();
    }
    if (replaced) result.text = text::fromUtf32(out);
    return result;
}

}  // namespace velmora
