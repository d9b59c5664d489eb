#pragma once

// Config: the value model of every JSON configuration file the tooling reads (config.json,
// tokenizer.json, tokenizer_config.json, ...). A tree of dictionaries, arrays and scalars whose keys
// and texts are BinaryDistinctString (UTF-16 units, never normalised).
//
// Reading never fails; callers supply their own defaults:
//
//     korbit::Config config = korbit::Config::readJsonFile(folder / "tokenizer.json");
//     korbit::Config model = config["model"];                      // null kind when missing
//     bool fuse = model["fuseUnk"].boolean().value_or(false);       // finds "fuse_unk" too
//     if (const korbit::Config::Dictionary* vocab = model["vocab"].dictionary()) {
//         for (const auto& [token, id] : *vocab) use(token, id.integer());
//     }
//     std::optional<korbit::Config> m = config.member("model");    // absent only on a non-dictionary
//
// Lookup: the key as written first, then its snake_case form (`uncamelCase`: addPrefixSpace finds
// "add_prefix_space"). A dictionary without the key gives a present null; `operator[]` on anything
// but a dictionary gives null and `member()` gives std::nullopt.
//
// Kinds as they come from a file (`readJsonFile`, `parseJson`, `convertToBinaryDistinctKeys`): true
// and false become the integers 1 and 0 (read flags with `boolean()`), whole numbers within int64
// (2.0 included) become integers, other numbers the nearest float. `decode` is the other direction's
// reader (JSON written by `encode`): there true/false stay booleans and [id, "text"] is a token.
//
// Typed reads give std::optional for scalars and a pointer (nullptr when absent) for the two
// containers, which are shared between copies rather than copied; a pointer stays valid as long as
// any Config holding that container lives. Configs are immutable and cheap to copy; to change a
// dictionary, copy it (`Config::Dictionary d = *c.dictionary();`), edit it and build a new Config.
// A Config may be read from any number of threads at once.

#include "KorbitCore/External/Hub/BinaryDistinctString.hpp"

#include <nlohmann/json_fwd.hpp>

#include <concepts>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace korbit {

class Config {
public:
    enum class Kind { string, integer, boolean, floating, dictionary, array, token, null };

    struct Token {
        std::uint64_t id = 0;
        BinaryDistinctString text;
        bool operator==(const Token&) const = default;
    };
    using Array = std::vector<Config>;
    using Dictionary =
        std::unordered_map<BinaryDistinctString, Config, BinaryDistinctString::Hash, BinaryDistinctString::Equal>;
    /// The stored value; alternatives in the order of Kind.
    using Data = std::variant<BinaryDistinctString, std::int64_t, bool, float, std::shared_ptr<const Dictionary>,
                              std::shared_ptr<const Array>, Token, std::monostate>;

    // ---- Construction ----
    Config() : value_(std::monostate{}) {}
    Config(std::nullptr_t) : Config() {}
    explicit Config(Data data) : value_(std::move(data)) {}
    Config(BinaryDistinctString text) : value_(std::move(text)) {}
    Config(const char* utf8) : value_(BinaryDistinctString(utf8)) {}
    Config(const std::string& utf8) : value_(BinaryDistinctString(utf8)) {}
    Config(std::string_view utf8) : value_(BinaryDistinctString(utf8)) {}
    Config(std::u16string units) : value_(BinaryDistinctString(std::move(units))) {}
    Config(const char16_t* units) : value_(BinaryDistinctString(units)) {}
    Config(bool flag) : value_(flag) {}
    Config(char) = delete;  // a character is neither a number nor a text here
    template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char>) Config(T number)
        : value_(static_cast<std::int64_t>(number)) {}
    template <std::floating_point T>
    Config(T number) : value_(static_cast<float>(number)) {}
    Config(Array elements);
    Config(Dictionary entries);
    Config(Token token) : value_(std::move(token)) {}
    /// Keeps pointers other than texts from turning into booleans.
    template <class T>
    Config(T*) = delete;

    /// A dictionary from key/value pairs; a key given twice keeps its last value.
    static Config dictionaryLiteral(std::initializer_list<std::pair<BinaryDistinctString, Config>> entries);
    static Config arrayLiteral(std::initializer_list<Config> elements);

    // ---- Kind and stored value ----
    Kind kind() const { return static_cast<Kind>(value_.index()); }
    bool isNull() const { return kind() == Kind::null; }
    const Data& value() const { return value_; }

    // ---- Lookup ----
    /// The value under `key` (as written, else its snake_case form); null kind when nothing is found.
    Config operator[](const BinaryDistinctString& key) const;
    Config operator[](std::string_view member) const;
    Config operator[](const char* member) const { return (*this)[std::string_view(member)]; }
    Config operator[](const std::string& member) const { return (*this)[std::string_view(member)]; }
    template <std::integral T>
    Config operator[](T) const = delete;  // no positional lookup; a 0 would read as a null text
    /// Like operator[], but absent when this value is not a dictionary (a missing key is a present null).
    std::optional<Config> member(const BinaryDistinctString& key) const;
    std::optional<Config> member(std::string_view name) const;
    std::optional<Config> member(const char* name) const { return member(std::string_view(name)); }
    std::optional<Config> member(const std::string& name) const { return member(std::string_view(name)); }

    /// snake_case form of a camelCase key: addPrefixSpace -> add_prefix_space, XYZWord -> xyzword.
    static BinaryDistinctString uncamelCase(const BinaryDistinctString& key);

    // ---- Typed reads (absent on any other kind; no read converts a text to a number) ----
    std::optional<std::string> string() const;
    std::optional<std::int64_t> integer() const;
    /// A floating value, or an integer converted to the nearest float.
    std::optional<float> floating() const;
    /// boolean; integer 1 -> true, other integers -> false; texts "true"/"t"/"1"/"false"/"f"/"0" in any case.
    std::optional<bool> boolean() const;
    const Array* array() const;
    const Dictionary* dictionary() const;
    /// The texts of an array's string elements, in order, others skipped.
    std::optional<std::vector<std::string>> get() const;
    /// A token value, or a file's [text, id] pair with id >= 0.
    std::optional<std::pair<std::uint64_t, std::string>> token() const;

    // ---- Equality, hashing, description ----
    /// Equality across kinds: 1 == 1.0 == true == "t"; "1" != 1. Symmetric.
    friend bool operator==(const Config& a, const Config& b);
    /// Consistent with operator== across kinds (values that compare equal hash alike).
    std::size_t hashValue() const;
    /// Diagnostics only: "text", 1, true, 0.5, 2.0, {[key: value]}, [[1, 2]], (id, text), null.
    std::string description() const;

    // ---- JSON ----
    /// Converts a parsed JSON tree with file semantics (see the top of this file). Throws
    /// KorbitCoreError "unknown type: <type> <value>" for binary or discarded nodes.
    static Config convertToBinaryDistinctKeys(const nlohmann::json& node);
    /// Parses JSON bytes with file semantics, through the byte-order-mark preserving reader, without
    /// an intermediate tree. Throws nlohmann::json::parse_error on malformed JSON.
    static Config parseJson(std::string_view bytes);
    /// parseJson of a whole file; throws std::system_error when the file cannot be read.
    static Config readJsonFile(const std::filesystem::path& path);

    /// Decodes JSON as written by encode(); never fails (what cannot be read decodes as null).
    static Config decode(const nlohmann::json& json);
    /// Encodes as JSON; a token becomes [id, text]. Throws std::domain_error for a NaN or infinite float.
    nlohmann::json encode() const;

private:
    const Config* find(std::u16string_view key) const;

    Data value_;
};

std::ostream& operator<<(std::ostream& os, const Config& config);

void to_json(nlohmann::json& json, const Config& config);
void from_json(const nlohmann::json& json, Config& config);

}  // namespace korbit

template <>
struct std::hash<korbit::Config> {
    std::size_t operator()(const korbit::Config& c) const { return c.hashValue(); }
};
