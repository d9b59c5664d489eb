#include "Tremolan/Utilities/JSONCoding.hpp"

#include <charconv>
#include <cmath>
#include <limits>

namespace tremolan::json {
namespace {

std::string typeName(const Json& value) {
    return value.type_name();
}

[[noreturn]] void mismatch(std::string_view path, std::string_view expected, const Json& value) {
    throw JSONDecodingError(
        JSONDecodingError::Kind::typeMismatch,
        "Expected " + std::string(expected) + " for \"" + std::string(path) + "\" but found " + typeName(value) + ".");
}

[[noreturn]] void doesNotFit(std::string_view path, const Json& value, std::string_view type) {
    throw JSONDecodingError(JSONDecodingError::Kind::dataCorrupted, "Parsed JSON number <" + value.dump() + "> for \"" +
                                                                        std::string(path) + "\" does not fit in " +
                                                                        std::string(type) + ".");
}

}  // namespace

Json number(float value) {
    if (!std::isfinite(value)) {
        throw JSONEncodingError("Unable to encode Float." + std::string(std::isnan(value) ? "nan" : "inf") +
                                " directly in JSON.");
    }
    // The shortest decimal text of the float, read back as a double, prints as that same text.
    // from_chars, unlike strtod, reads the point whatever the process locale.
    char buffer[32];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    double widened = 0;
    std::from_chars(buffer, written.ptr, widened);
    return Json(widened);
}

Json number(double value) {
    if (!std::isfinite(value)) {
        throw JSONEncodingError("Unable to encode Double." + std::string(std::isnan(value) ? "nan" : "inf") +
                                " directly in JSON.");
    }
    return Json(value);
}

Json numbers(const std::vector<float>& values) {
    Json array = Json::array();
    for (float value : values) array.push_back(number(value));
    return array;
}

const Json& required(const Json& object, std::string_view key) {
    if (!object.is_object()) mismatch(key, "an object holding it", object);
    auto found = object.find(key);
    if (found == object.end()) {
        throw JSONDecodingError(JSONDecodingError::Kind::keyNotFound,
                                "No value associated with key \"" + std::string(key) + "\".");
    }
    return *found;
}

const Json* optional(const Json& object, std::string_view key) {
    if (!object.is_object()) mismatch(key, "an object holding it", object);
    auto found = object.find(key);
    if (found == object.end() || found->is_null()) return nullptr;
    return &*found;
}

void expectObject(const Json& value, std::string_view what) {
    if (!value.is_object()) mismatch(what, "an object", value);
}

void expectArray(const Json& value, std::string_view what) {
    if (!value.is_array()) mismatch(what, "an array", value);
}

namespace detail {

std::string elementPath(std::string_view path, std::size_t index) {
    return std::string(path) + "[" + std::to_string(index) + "]";
}

double toDouble(const Json& value, std::string_view path) {
    if (!value.is_number()) mismatch(path, "a number", value);
    return value.get<double>();
}

float toFloat(const Json& value, std::string_view path) {
    double number = toDouble(value, path);
    if (std::isfinite(number) && std::fabs(number) > std::numeric_limits<float>::max())
        doesNotFit(path, value, "Float");
    return static_cast<float>(number);
}

std::int64_t toInt64(const Json& value, std::string_view path) {
    if (value.is_number_unsigned()) {
        auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            doesNotFit(path, value, "Int");
        return static_cast<std::int64_t>(number);
    }
    if (value.is_number_integer()) return value.get<std::int64_t>();
    if (value.is_number_float()) {
        // A whole number written with a fraction (5.0) is accepted; 2.5 is not.
        double number = value.get<double>();
        if (std::isfinite(number) && std::trunc(number) == number && number >= -9.2233720368547758e18 &&
            number < 9.2233720368547758e18) {
            return static_cast<std::int64_t>(number);
        }
        doesNotFit(path, value, "Int");
    }
    mismatch(path, "an integer", value);
}

int toInt(const Json& value, std::string_view path) {
    std::int64_t number = toInt64(value, path);
    if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max()) {
        doesNotFit(path, value, "Int32");
    }
    return static_cast<int>(number);
}

bool toBool(const Json& value, std::string_view path) {
    if (!value.is_boolean()) mismatch(path, "a boolean", value);
    return value.get<bool>();
}

std::string toString(const Json& value, std::string_view path) {
    if (!value.is_string()) mismatch(path, "a string", value);
    return value.get<std::string>();
}

}  // namespace detail

Json parse(std::string_view text) {
    try {
        return Json::parse(text);
    } catch (const nlohmann::json::parse_error& error) {
        throw JSONDecodingError(JSONDecodingError::Kind::dataCorrupted,
                                std::string("The given data was not valid JSON: ") + error.what());
    }
}

}  // namespace tremolan::json
