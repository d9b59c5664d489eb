#pragma once

// The JSON conventions of the speech library's records: keys in declaration order, Float fields
// written as the shortest text that reads back to the same single-precision value, strict reads
// of required keys and value types.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tremolan {

/// Objects keep their keys in the order they were written.
using Json = nlohmann::ordered_json;

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

/// The value under `key`; JSONDecodingError (key not found) when the object lacks it.
const Json& required(const Json& object, std::string_view key);
/// The value under `key`, or nullptr when the key is missing or holds null.
const Json* optional(const Json& object, std::string_view key);
/// Throws a type mismatch unless the value is an object; `what` names it in the message.
void expectObject(const Json& value, std::string_view what);
/// Throws a type mismatch unless the value is an array.
void expectArray(const Json& value, std::string_view what);

/// An array of records, each read through its from_json.
template <typename T>
std::vector<T> toArray(const Json& value, std::string_view path) {
    expectArray(value, path);
    std::vector<T> result;
    result.reserve(value.size());
    for (const Json& element : value) result.push_back(element.template get<T>());
    return result;
}
template <typename T>
std::vector<T> readArray(const Json& object, std::string_view key) {
    return toArray<T>(required(object, key), key);
}

// Conversions of one value; `path` names it in error messages.
float toFloat(const Json& value, std::string_view path);
double toDouble(const Json& value, std::string_view path);
std::int64_t toInt64(const Json& value, std::string_view path);
int toInt(const Json& value, std::string_view path);
bool toBool(const Json& value, std::string_view path);
std::string toString(const Json& value, std::string_view path);
std::vector<int> toIntArray(const Json& value, std::string_view path);
std::vector<float> toFloatArray(const Json& value, std::string_view path);
std::vector<std::string> toStringArray(const Json& value, std::string_view path);

// Required keys of an object.
inline float readFloat(const Json& o, std::string_view key) {
    return toFloat(required(o, key), key);
}
inline double readDouble(const Json& o, std::string_view key) {
    return toDouble(required(o, key), key);
}
inline std::int64_t readInt64(const Json& o, std::string_view key) {
    return toInt64(required(o, key), key);
}
inline int readInt(const Json& o, std::string_view key) {
    return toInt(required(o, key), key);
}
inline bool readBool(const Json& o, std::string_view key) {
    return toBool(required(o, key), key);
}
inline std::string readString(const Json& o, std::string_view key) {
    return toString(required(o, key), key);
}
inline std::vector<int> readIntArray(const Json& o, std::string_view key) {
    return toIntArray(required(o, key), key);
}
inline std::vector<float> readFloatArray(const Json& o, std::string_view key) {
    return toFloatArray(required(o, key), key);
}
inline std::vector<std::string> readStringArray(const Json& o, std::string_view key) {
    return toStringArray(required(o, key), key);
}

// Optional keys: absent when missing or null.
std::optional<float> readOptionalFloat(const Json& o, std::string_view key);
std::optional<std::int64_t> readOptionalInt64(const Json& o, std::string_view key);
std::optional<std::string> readOptionalString(const Json& o, std::string_view key);
std::optional<std::vector<int>> readOptionalIntArray(const Json& o, std::string_view key);

/// Parses a JSON text; malformed text is a data-corrupted JSONDecodingError.
Json parse(std::string_view text);

}  // namespace json
}  // namespace tremolan
