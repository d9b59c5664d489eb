#include "KorbitCore/External/Hub/BinaryDistinctString.hpp"

#include "Platform/Text/Unicode.hpp"

#include <stdexcept>

namespace korbit {
namespace {

namespace text = platform::text;

[[noreturn]] void outOfBounds() {
    throw std::out_of_range("Index out of bounds");
}

// Text where every unit is its own character and has no canonical equivalent.
bool isPlainAscii(std::u16string_view units) {
    for (char16_t u : units) {
        if (u >= 0x80 || u == u'\r') return false;
    }
    return true;
}

}  // namespace

BinaryDistinctString::BinaryDistinctString(std::string_view utf8) : value(text::toUtf16(utf8)) {}

BinaryDistinctString::BinaryDistinctString(const std::vector<BinaryDistinctCharacter>& characters) {
    std::size_t total = 0;
    for (const auto& c : characters) total += c.bytes.size();
    value.reserve(total);
    for (const auto& c : characters) value += c.bytes;
}

std::string BinaryDistinctString::string() const {
    return text::toUtf8(value);
}

BinaryDistinctString::Index BinaryDistinctString::count() const {
    return static_cast<Index>(text::graphemeCount(std::u16string_view(value)));
}

BinaryDistinctString::Index BinaryDistinctString::index(Index i, Index offsetBy) const {
    Index result = i + offsetBy;
    if (result < 0 || result > count()) outOfBounds();
    return result;
}

std::optional<BinaryDistinctString::Index> BinaryDistinctString::index(Index i, Index offsetBy, Index limitedBy) const {
    Index result = i + offsetBy;
    if (result > limitedBy) return std::nullopt;
    return result;
}

BinaryDistinctString BinaryDistinctString::substring(Index lo, Index hi) const {
    std::vector<std::size_t> bounds = text::graphemeBoundaries(std::u16string_view(value));
    const Index characterCount = static_cast<Index>(bounds.size()) - 1;
    if (lo < 0 || hi > characterCount || lo > hi) outOfBounds();
    const std::size_t start = bounds[static_cast<std::size_t>(lo)];
    const std::size_t end = bounds[static_cast<std::size_t>(hi)];
    return BinaryDistinctString(value.substr(start, end - start));
}

BinaryDistinctString BinaryDistinctString::substring(Index lo) const {
    std::vector<std::size_t> bounds = text::graphemeBoundaries(std::u16string_view(value));
    const Index characterCount = static_cast<Index>(bounds.size()) - 1;
    if (lo < 0 || lo > characterCount) outOfBounds();
    return BinaryDistinctString(value.substr(bounds[static_cast<std::size_t>(lo)]));
}

std::vector<BinaryDistinctCharacter> BinaryDistinctString::characters() const {
    std::vector<std::size_t> bounds = text::graphemeBoundaries(std::u16string_view(value));
    std::vector<BinaryDistinctCharacter> out;
    out.reserve(bounds.size() - 1);
    for (std::size_t i = 0; i + 1 < bounds.size(); ++i) {
        out.emplace_back().bytes.assign(value, bounds[i], bounds[i + 1] - bounds[i]);
    }
    return out;
}

BinaryDistinctString BinaryDistinctString::lowercased() const {
    return BinaryDistinctString(text::toLower(std::u16string_view(value)));
}

BinaryDistinctString BinaryDistinctString::replacingOccurrences(const BinaryDistinctString& target,
                                                                const BinaryDistinctString& replacement) const {
    if (target.value.empty() || value.empty()) return *this;
    std::u16string out;
    std::size_t copied = 0;

    if (isPlainAscii(value) && isPlainAscii(target.value)) {
        for (std::size_t at = value.find(target.value); at != std::u16string::npos;
             at = value.find(target.value, copied)) {
            out.append(value, copied, at - copied);
            out += replacement.value;
            copied = at + target.value.size();
        }
        out.append(value, copied);
        return BinaryDistinctString(std::move(out));
    }

    // A match is a run of whole characters whose canonical decomposition equals the target's.
    const std::u16string needle = text::normalize(std::u16string_view(target.value), text::NormalizationForm::NFD);
    const std::vector<std::size_t> bounds = text::graphemeBoundaries(std::u16string_view(value));
    const std::size_t characterCount = bounds.size() - 1;
    std::vector<std::u16string> decomposed(characterCount);
    std::vector<bool> ready(characterCount, false);
    auto decomposedAt = [&](std::size_t k) -> const std::u16string& {
        if (!ready[k]) {
            decomposed[k] = text::normalize(std::u16string_view(value).substr(bounds[k], bounds[k + 1] - bounds[k]),
                                            text::NormalizationForm::NFD);
            ready[k] = true;
        }
        return decomposed[k];
    };

    std::size_t i = 0;
    while (i < characterCount) {
        std::size_t matched = 0;
        std::size_t j = i;
        while (j < characterCount && matched < needle.size()) {
            const std::u16string& piece = decomposedAt(j);
            if (needle.compare(matched, piece.size(), piece) != 0 || matched + piece.size() > needle.size()) break;
            matched += piece.size();
            ++j;
        }
        if (matched == needle.size() && j > i) {
            out.append(value, copied, bounds[i] - copied);
            out += replacement.value;
            copied = bounds[j];
            i = j;
        } else {
            ++i;
        }
    }
    out.append(value, copied);
    return BinaryDistinctString(std::move(out));
}

}  // namespace korbit
