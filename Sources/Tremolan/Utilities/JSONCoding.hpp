#pragma once

// The JSON conventions of the speech library's records: keys in declaration order, Float fields
// written as the shortest text that reads back to the same single-precision value, strict reads
// of required keys and value types.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace tremolan {

/// Objects keep their keys in the order they were written.
using Json = nlohmann::ordered_json;

// The records' to_json functions build their object aside and assign it at the end: nlohmann
// does not destroy a value whose to_json throws while the value is being constructed, so an
// encoding error part-way through would otherwise leak what was built so far.

/// A value that has no JSON form (a number that is infinite or not a number).
class JSONEncodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// JSON that does not hold the record: a missing key, a value of the wrong type, or a value
/// outside what the field can hold.
class JSONDecodingError : public std::runtime_error {
public:
    enum class Kind { keyNotFound, typeMismatch, dataCorrupted };
    JSONDecodingError(Kind kind, std::string message) : std::runtime_error(std::move(message)), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

namespace json {

/// A float as a JSON number whose text is the float's shortest form (0.2, not 0.20000000298023224).
Json number(float value);
/// A double as a JSON number. Both throw JSONEncodingError for values that are not finite.
Json number(double value);
Json numbers(const std::vector<float>& values);
/// Per-token log probabilities as a list of objects keyed by the token id in decimal.
template <typename Token>
Json tokenLogProbs(const std::vector<std::map<Token, float>>& tokenLogProbs) {
    Json list = Json::array();
    for (const auto& entry : tokenLogProbs) {
        Json object = Json::object();
        for (const auto& [token, logProb] : entry) object[std::to_string(token)] = number(logProb);
        list.push_back(std::move(object));
    }
    return list;
}

/// The value under `key`; JSONDecodingError (key not found) when the object lacks it.
const Json& required(const Json& object, std::string_view key);
/// The value under `key`, or nullptr when the key is missing or holds null.
const Json* optional(const Json& object, std::string_view key);
/// Throws a type mismatch unless the value is an object; `what` names it in the message.
void expectObject(const Json& value, std::string_view what);
/// Throws a type mismatch unless the value is an array.
void expectArray(const Json& value, std::string_view what);

namespace detail {
float toFloat(const Json& value, std::string_view path);
double toDouble(const Json& value, std::string_view path);
std::int64_t toInt64(const Json& value, std::string_view path);
int toInt(const Json& value, std::string_view path);
bool toBool(const Json& value, std::string_view path);
std::string toString(const Json& value, std::string_view path);
std::string elementPath(std::string_view path, std::size_t index);

template <typename T>
struct IsVector : std::false_type {};
template <typename T>
struct IsVector<std::vector<T>> : std::true_type {};
}  // namespace detail

/// One value as a T; `path` names it in error messages. Numbers, booleans and texts are read
/// strictly (2.5 is no integer, "1" no number); lists element by element; records through their
/// from_json.
template <typename T>
T to(const Json& value, std::string_view path) {
    if constexpr (std::is_same_v<T, float>) {
        return detail::toFloat(value, path);
    } else if constexpr (std::is_same_v<T, double>) {
        return detail::toDouble(value, path);
    } else if constexpr (std::is_same_v<T, std::int64_t>) {
        return detail::toInt64(value, path);
    } else if constexpr (std::is_same_v<T, int>) {
        return detail::toInt(value, path);
    } else if constexpr (std::is_same_v<T, bool>) {
        return detail::toBool(value, path);
    } else if constexpr (std::is_same_v<T, std::string>) {
        return detail::toString(value, path);
    } else if constexpr (detail::IsVector<T>::value) {
        expectArray(value, path);
        T result;
        result.reserve(value.size());
        for (std::size_t i = 0; i < value.size(); ++i) {
            result.push_back(to<typename T::value_type>(value[i], detail::elementPath(path, i)));
        }
        return result;
    } else {
        return value.template get<T>();
    }
}

/// The value of a required key.
template <typename T>
T read(const Json& object, std::string_view key) {
    return to<T>(required(object, key), key);
}

/// The value of an optional key: absent when the key is missing or holds null.
template <typename T>
std::optional<T> readOptional(const Json& object, std::string_view key) {
    const Json* value = optional(object, key);
    if (value == nullptr) return std::nullopt;
    return to<T>(*value, key);
}

/// Parses a JSON text; malformed text is a data-corrupted JSONDecodingError.
Json parse(std::string_view text);

}  // namespace json
}  // namespace tremolan
