#include "KorbitCore/External/Hub/Config.hpp"

#include "KorbitCore/LogItem.hpp"
#include "Platform/Text/Unicode.hpp"

#include <bit>
#include <cmath>

namespace korbit {
namespace {

namespace text = platform::text;

template <Config::Kind K, class T>
const T* payload(const Config::Data& data) {
    return std::get_if<static_cast<std::size_t>(K)>(&data);
}

std::optional<bool> booleanOfText(const std::u16string& units) {
    std::u16string lower;
    bool ascii = true;
    for (char16_t u : units) ascii = ascii && u < 0x80;
    if (ascii) {
        lower = units;
        for (char16_t& u : lower) {
            if (u >= u'A' && u <= u'Z') u = static_cast<char16_t>(u - u'A' + u'a');
        }
    } else {
        lower = text::toLower(std::u16string_view(units));
    }
    if (lower == u"true" || lower == u"t" || lower == u"1") return true;
    if (lower == u"false" || lower == u"f" || lower == u"0") return false;
    return std::nullopt;
}

std::size_t mix(std::size_t seed, std::size_t value) {
    // 64-bit finaliser of MurmurHash3 over the combination.
    std::uint64_t h = static_cast<std::uint64_t>(seed) ^
                      (static_cast<std::uint64_t>(value) + 0x9E3779B97F4A7C15ull + (seed << 6) + (seed >> 2));
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return static_cast<std::size_t>(h);
}

// Scalars that compare equal across kinds (1 == 1.0 == true == "t") must hash alike, so every
// scalar that equality can relate to a Boolean hashes as that Boolean.
constexpr std::size_t kTruthTag = 3;
std::size_t truthHash(bool value) {
    return mix(kTruthTag, value ? 1 : 0);
}

}  // namespace

Config::Config(Array elements) : value_(std::make_shared<const Array>(std::move(elements))) {}

Config::Config(Dictionary entries) : value_(std::make_shared<const Dictionary>(std::move(entries))) {}

Config Config::dictionaryLiteral(std::initializer_list<std::pair<BinaryDistinctString, Config>> entries) {
    Dictionary dictionary;
    dictionary.reserve(entries.size());
    for (const auto& [key, value] : entries) dictionary.insert_or_assign(key, value);
    return Config(std::move(dictionary));
}

Config Config::arrayLiteral(std::initializer_list<Config> elements) {
    return Config(Array(elements));
}

// ---- Lookup ----

const Config* Config::find(std::u16string_view key) const {
    const Dictionary* entries = dictionary();
    if (!entries) return nullptr;
    if (auto it = entries->find(key); it != entries->end()) return &it->second;
    BinaryDistinctString snake = uncamelCase(BinaryDistinctString(key));
    if (snake.value == key) return nullptr;
    if (auto it = entries->find(std::u16string_view(snake.value)); it != entries->end()) return &it->second;
    return nullptr;
}

Config Config::operator[](const BinaryDistinctString& key) const {
    const Config* found = find(key.value);
    return found ? *found : Config();
}

Config Config::operator[](std::string_view member) const {
    return (*this)[BinaryDistinctString(member)];
}

std::optional<Config> Config::member(const BinaryDistinctString& key) const {
    if (kind() != Kind::dictionary) return std::nullopt;
    return (*this)[key];
}

std::optional<Config> Config::member(std::string_view name) const {
    if (kind() != Kind::dictionary) return std::nullopt;
    return (*this)[name];
}

BinaryDistinctString Config::uncamelCase(const BinaryDistinctString& key) {
    const std::u16string& in = key.value;
    std::u16string out;
    out.reserve(in.size() + 4);
    bool previousWasNotUpper = false;
    std::size_t i = 0;
    while (i < in.size()) {
        char32_t scalar = in[i];
        std::size_t length = 1;
        if (scalar >= 0xD800 && scalar <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
            scalar = 0x10000 + ((scalar - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            length = 2;
        }
        const bool upper = scalar < 0x80 ? (scalar >= U'A' && scalar <= U'Z') : text::isUppercaseLetter(scalar);
        if (upper) {
            if (previousWasNotUpper) out.push_back(u'_');
            if (scalar < 0x80) {
                out.push_back(static_cast<char16_t>(scalar - U'A' + U'a'));
            } else {
                out += text::toUtf16(text::lowerMapping(scalar));
            }
        } else {
            out.append(in, i, length);
        }
        previousWasNotUpper = !upper;
        i += length;
    }
    return BinaryDistinctString(std::move(out));
}

// ---- Typed reads ----

std::optional<std::string> Config::string() const {
    if (auto* s = payload<Kind::string, BinaryDistinctString>(value_)) return s->string();
    return std::nullopt;
}

std::optional<std::int64_t> Config::integer() const {
    if (auto* i = payload<Kind::integer, std::int64_t>(value_)) return *i;
    return std::nullopt;
}

std::optional<float> Config::floating() const {
    if (auto* f = payload<Kind::floating, float>(value_)) return *f;
    if (auto* i = payload<Kind::integer, std::int64_t>(value_)) return static_cast<float>(*i);
    return std::nullopt;
}

std::optional<bool> Config::boolean() const {
    switch (kind()) {
        case Kind::boolean:
            return std::get<bool>(value_);
        case Kind::integer:
            return std::get<std::int64_t>(value_) == 1;
        case Kind::string:
            return booleanOfText(std::get<BinaryDistinctString>(value_).value);
        default:
            return std::nullopt;
    }
}

const Config::Array* Config::array() const {
    auto* p = payload<Kind::array, std::shared_ptr<const Array>>(value_);
    return p ? p->get() : nullptr;
}

const Config::Dictionary* Config::dictionary() const {
    auto* p = payload<Kind::dictionary, std::shared_ptr<const Dictionary>>(value_);
    return p ? p->get() : nullptr;
}

std::optional<std::vector<std::string>> Config::get() const {
    const Array* elements = array();
    if (!elements) return std::nullopt;
    std::vector<std::string> texts;
    texts.reserve(elements->size());
    for (const Config& element : *elements) {
        if (auto* s = payload<Kind::string, BinaryDistinctString>(element.value_)) texts.push_back(s->string());
    }
    return texts;
}

std::optional<std::pair<std::uint64_t, std::string>> Config::token() const {
    if (auto* t = payload<Kind::token, Token>(value_)) return std::pair{t->id, t->text.string()};
    const Array* elements = array();
    if (!elements || elements->size() != 2) return std::nullopt;
    auto* textPart = payload<Kind::string, BinaryDistinctString>((*elements)[0].value_);
    auto* idPart = payload<Kind::integer, std::int64_t>((*elements)[1].value_);
    if (!textPart || !idPart || *idPart < 0) return std::nullopt;
    return std::pair{static_cast<std::uint64_t>(*idPart), textPart->string()};
}

// ---- Equality, hashing, description ----

bool operator==(const Config& a, const Config& b) {
    using Kind = Config::Kind;
    const Kind right = b.kind();
    switch (a.kind()) {
        case Kind::string:
            if (right == Kind::string)
                return std::get<BinaryDistinctString>(a.value_) == std::get<BinaryDistinctString>(b.value_);
            if (right == Kind::boolean) return a.boolean() == std::get<bool>(b.value_);
            return false;
        case Kind::integer: {
            const std::int64_t i = std::get<std::int64_t>(a.value_);
            if (right == Kind::integer) return i == std::get<std::int64_t>(b.value_);
            if (right == Kind::floating) return static_cast<float>(i) == std::get<float>(b.value_);
            if (right == Kind::boolean) return (i == 1) == std::get<bool>(b.value_);
            return false;
        }
        case Kind::boolean:
            return b.boolean() == std::get<bool>(a.value_);
        case Kind::floating: {
            const float f = std::get<float>(a.value_);
            if (right == Kind::integer) return f == static_cast<float>(std::get<std::int64_t>(b.value_));
            if (right == Kind::floating) return f == std::get<float>(b.value_);
            return false;
        }
        case Kind::dictionary: {
            const Config::Dictionary* left = a.dictionary();
            const Config::Dictionary* other = b.dictionary();
            if (!other || left->size() != other->size()) return false;
            if (left == other) return true;
            for (const auto& [key, value] : *left) {
                auto it = other->find(std::u16string_view(key.value));
                if (it == other->end() || !(value == it->second)) return false;
            }
            return true;
        }
        case Kind::array: {
            const Config::Array* left = a.array();
            const Config::Array* other = b.array();
            return other && (left == other || *left == *other);
        }
        case Kind::token:
            return right == Kind::token && std::get<Config::Token>(a.value_) == std::get<Config::Token>(b.value_);
        case Kind::null:
            return right == Kind::null;
    }
    return false;
}

std::size_t Config::hashValue() const {
    switch (kind()) {
        case Kind::string: {
            if (std::optional<bool> truth = boolean()) return truthHash(*truth);
            return mix(1, BinaryDistinctString::Hash{}(std::get<BinaryDistinctString>(value_)));
        }
        case Kind::integer:
            return truthHash(std::get<std::int64_t>(value_) == 1);
        case Kind::boolean:
            return truthHash(std::get<bool>(value_));
        case Kind::floating: {
            const float f = std::get<float>(value_);
            // A whole float in the int64 range equals some integer, which hashes by its truth.
            if (std::trunc(f) == f && f >= -0x1p63f && f <= 0x1p63f) return truthHash(f == 1.0f);
            return mix(4, std::bit_cast<std::uint32_t>(f));
        }
        case Kind::dictionary: {
            const Dictionary& entries = *dictionary();
            std::size_t sum = 0;  // order-independent
            for (const auto& [key, value] : entries) sum += mix(BinaryDistinctString::Hash{}(key), value.hashValue());
            return mix(mix(5, entries.size()), sum);
        }
        case Kind::array: {
            std::size_t h = 6;
            for (const Config& element : *array()) h = mix(h, element.hashValue());
            return h;
        }
        case Kind::token: {
            const Token& t = std::get<Token>(value_);
            return mix(mix(7, static_cast<std::size_t>(t.id)), BinaryDistinctString::Hash{}(t.text));
        }
        case Kind::null:
            return 0;
    }
    return 0;
}

namespace {

void describe(std::string& out, const Config& config) {
    using Kind = Config::Kind;
    switch (config.kind()) {
        case Kind::string:
            out += '"';
            out += std::get<BinaryDistinctString>(config.value()).string();
            out += '"';
            return;
        case Kind::integer:
            out += std::to_string(std::get<std::int64_t>(config.value()));
            return;
        case Kind::boolean:
            out += std::get<bool>(config.value()) ? "true" : "false";
            return;
        case Kind::floating:
            detail::appendFloating(out, std::get<float>(config.value()));
            return;
        case Kind::dictionary: {
            const Config::Dictionary& entries = *config.dictionary();
            if (entries.empty()) {
                out += "{[:]}";
                return;
            }
            out += "{[";
            bool first = true;
            for (const auto& [key, value] : entries) {
                if (!first) out += ", ";
                first = false;
                out += key.string();
                out += ": ";
                describe(out, value);
            }
            out += "]}";
            return;
        }
        case Kind::array: {
            out += "[[";
            bool first = true;
            for (const Config& element : *config.array()) {
                if (!first) out += ", ";
                first = false;
                describe(out, element);
            }
            out += "]]";
            return;
        }
        case Kind::token: {
            const Config::Token& t = std::get<Config::Token>(config.value());
            out += '(';
            out += std::to_string(t.id);
            out += ", ";
            out += t.text.string();
            out += ')';
            return;
        }
        case Kind::null:
            out += "null";
            return;
    }
}

}  // namespace

std::string Config::description() const {
    std::string out;
    describe(out, *this);
    return out;
}

std::ostream& operator<<(std::ostream& os, const Config& config) {
    return os << config.description();
}

}  // namespace korbit
