// Config from and to JSON: the file reading (parsed trees, bytes, files) and the encoder/decoder pair.

#include "KorbitCore/External/Hub/Config.hpp"
#include "KorbitCore/External/Hub/Extensions/BomPreservingJson.hpp"
#include "KorbitCore/KorbitCoreError.hpp"
#include "KorbitCore/LogItem.hpp"
#include "Platform/Sys/FileIO.hpp"
#include "Platform/Text/Unicode.hpp"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace korbit {
namespace {

using json = nlohmann::json;
namespace text = platform::text;

constexpr double kInt64Bound = 0x1p63;  // int64 holds [-2^63, 2^63)

std::optional<std::int64_t> wholeInt64(double d) {
    if (std::trunc(d) != d || d < -kInt64Bound || d >= kInt64Bound) return std::nullopt;
    return static_cast<std::int64_t>(d);
}

// Nearest float; beyond the float range an infinity (a plain cast would be undefined there).
float nearestFloat(double d) {
    constexpr double kRoundsToInfinity = 0x1.ffffffp127;  // FLT_MAX plus half an ulp
    if (d >= kRoundsToInfinity) return std::numeric_limits<float>::infinity();
    if (d <= -kRoundsToInfinity) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(d);
}

// File semantics: whole numbers within int64 are integers, anything else the nearest float.
Config fileNumber(std::int64_t i) {
    return Config(i);
}
Config fileNumber(std::uint64_t u) {
    if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return Config(static_cast<std::int64_t>(u));
    return Config(static_cast<float>(u));
}
Config fileNumber(double d) {
    if (auto i = wholeInt64(d)) return Config(*i);
    return Config(nearestFloat(d));
}
Config fileBoolean(bool b) {
    return Config(std::int64_t{b ? 1 : 0});
}
// The reader has validated the UTF-8 already; most keys and texts are ASCII and just widen.
BinaryDistinctString units(const std::string& utf8) {
    for (char c : utf8) {
        if (static_cast<unsigned char>(c) >= 0x80) return BinaryDistinctString(text::toUtf16(utf8));
    }
    return BinaryDistinctString(std::u16string(utf8.begin(), utf8.end()));
}
Config fileText(const std::string& utf8) {
    return Config(units(utf8));
}

// Builds a Config straight from parser events. Finished children wait in per-depth buffers whose
// capacity is reused, and each container is built once at its full size.
class ConfigBuilder {
public:
    Config takeResult() { return std::move(result_); }

    bool null() { return add(Config()); }
    bool boolean(bool v) { return add(fileBoolean(v)); }
    bool number_integer(json::number_integer_t v) { return add(fileNumber(static_cast<std::int64_t>(v))); }
    bool number_unsigned(json::number_unsigned_t v) { return add(fileNumber(static_cast<std::uint64_t>(v))); }
    bool number_float(json::number_float_t v, const std::string&) { return add(fileNumber(static_cast<double>(v))); }
    bool string(std::string& v) { return add(fileText(v)); }
    bool binary(json::binary_t&) { return false; }  // not produced by the JSON text reader

    bool start_object(std::size_t) { return open(true); }
    bool key(std::string& v) {
        frames_[depth_ - 1].key = units(v);
        return true;
    }
    bool end_object() {
        Frame& frame = frames_[--depth_];
        Config::Dictionary entries;
        entries.reserve(frame.entries.size());
        for (auto& [key, value] : frame.entries) entries.insert_or_assign(std::move(key), std::move(value));
        frame.entries.clear();
        return add(Config(std::move(entries)));
    }
    bool start_array(std::size_t) { return open(false); }
    bool end_array() {
        Frame& frame = frames_[--depth_];
        Config::Array elements;
        elements.reserve(frame.elements.size());
        for (Config& element : frame.elements) elements.push_back(std::move(element));
        frame.elements.clear();
        return add(Config(std::move(elements)));
    }

    template <class Exception>
    bool parse_error(std::size_t, const std::string&, const Exception& ex) {
        throw ex;
    }

private:
    struct Frame {
        bool isObject = false;
        BinaryDistinctString key;
        std::vector<std::pair<BinaryDistinctString, Config>> entries;
        std::vector<Config> elements;
    };

    bool open(bool isObject) {
        if (depth_ == frames_.size()) frames_.emplace_back();
        frames_[depth_++].isObject = isObject;
        return true;
    }

    bool add(Config value) {
        if (depth_ == 0) {
            result_ = std::move(value);
            return true;
        }
        Frame& frame = frames_[depth_ - 1];
        if (frame.isObject) {
            frame.entries.emplace_back(std::move(frame.key), std::move(value));
        } else {
            frame.elements.push_back(std::move(value));
        }
        return true;
    }

    std::vector<Frame> frames_;
    std::size_t depth_ = 0;
    Config result_;
};

// ---- Decoder semantics: what a JSON decoder reading into typed values accepts ----

std::optional<std::int64_t> decodableInt64(const json& j) {
    switch (j.type()) {
        case json::value_t::number_integer:
            return j.get<std::int64_t>();
        case json::value_t::number_unsigned: {
            const auto u = j.get<std::uint64_t>();
            if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
            return static_cast<std::int64_t>(u);
        }
        case json::value_t::number_float:
            return wholeInt64(j.get<double>());
        default:
            return std::nullopt;
    }
}

std::optional<std::uint64_t> decodableUInt64(const json& j) {
    switch (j.type()) {
        case json::value_t::number_unsigned:
            return j.get<std::uint64_t>();
        case json::value_t::number_integer: {
            const auto i = j.get<std::int64_t>();
            if (i < 0) return std::nullopt;
            return static_cast<std::uint64_t>(i);
        }
        case json::value_t::number_float: {
            const double d = j.get<double>();
            if (std::trunc(d) != d || d < 0 || d >= 0x1p64) return std::nullopt;
            return static_cast<std::uint64_t>(d);
        }
        default:
            return std::nullopt;
    }
}

// A number that fits the float range.
std::optional<float> decodableFloat(const json& j) {
    if (!j.is_number()) return std::nullopt;
    const double d = j.get<double>();
    if (!std::isfinite(d) || std::fabs(d) > static_cast<double>(std::numeric_limits<float>::max())) return std::nullopt;
    return static_cast<float>(d);
}

// The float as JSON with its shortest decimal form (a plain widening would write 0.1f as 0.10000000149011612).
json floatJson(float f) {
    std::string shortest;
    detail::appendFloating(shortest, f);
    if (!std::isfinite(f)) throw std::domain_error("Unable to encode the float " + shortest + " directly in JSON");
    double widened = 0;
    std::from_chars(shortest.data(), shortest.data() + shortest.size(), widened);
    return json(widened);
}

}  // namespace

Config Config::convertToBinaryDistinctKeys(const json& node) {
    switch (node.type()) {
        case json::value_t::object: {
            const auto& members = node.get_ref<const json::object_t&>();
            Dictionary entries;
            entries.reserve(members.size());
            for (const auto& [key, value] : members) {
                entries.insert_or_assign(units(key), convertToBinaryDistinctKeys(value));
            }
            return Config(std::move(entries));
        }
        case json::value_t::array: {
            const auto& items = node.get_ref<const json::array_t&>();
            Array elements;
            elements.reserve(items.size());
            for (const json& item : items) elements.push_back(convertToBinaryDistinctKeys(item));
            return Config(std::move(elements));
        }
        case json::value_t::string:
            return fileText(node.get_ref<const std::string&>());
        case json::value_t::boolean:
            return fileBoolean(node.get<bool>());
        case json::value_t::number_integer:
            return fileNumber(node.get<std::int64_t>());
        case json::value_t::number_unsigned:
            return fileNumber(node.get<std::uint64_t>());
        case json::value_t::number_float:
            return fileNumber(node.get<double>());
        case json::value_t::null:
            return Config();
        case json::value_t::binary:
        case json::value_t::discarded:
            break;
    }
    throw KorbitCoreError::invalidConfiguration(std::string("unknown type: ") + node.type_name() + " " + node.dump());
}

Config Config::parseJson(std::string_view bytes) {
    ConfigBuilder builder;
    if (!bomPreservingJsonParse(bytes, builder)) {
        throw json::parse_error::create(101, 0, "syntax error: unsupported JSON value", nullptr);
    }
    return builder.takeResult();
}

Config Config::readJsonFile(const std::filesystem::path& path) {
    return parseJson(platform::sys::readFile(path));
}

Config Config::decode(const json& j) {
    switch (j.type()) {
        case json::value_t::null:
            return Config();
        case json::value_t::number_integer:
        case json::value_t::number_unsigned:
        case json::value_t::number_float:
            if (auto i = decodableInt64(j)) return Config(*i);
            if (auto f = decodableFloat(j)) return Config(*f);
            return Config();
        case json::value_t::boolean:
            return Config(j.get<bool>());
        case json::value_t::string:
            return fileText(j.get_ref<const std::string&>());
        case json::value_t::array: {
            if (j.size() == 2 && j[1].is_string()) {
                if (auto id = decodableUInt64(j[0])) {
                    return Config(Token{*id, units(j[1].get_ref<const std::string&>())});
                }
            }
            Array elements;
            elements.reserve(j.size());
            for (const json& item : j) elements.push_back(decode(item));
            return Config(std::move(elements));
        }
        case json::value_t::object: {
            Dictionary entries;
            entries.reserve(j.size());
            for (const auto& [key, value] : j.get_ref<const json::object_t&>()) {
                entries.insert_or_assign(units(key), decode(value));
            }
            return Config(std::move(entries));
        }
        case json::value_t::binary:
        case json::value_t::discarded:
            break;
    }
    return Config();
}

json Config::encode() const {
    switch (kind()) {
        case Kind::string:
            return json(std::get<BinaryDistinctString>(value_).string());
        case Kind::integer:
            return json(std::get<std::int64_t>(value_));
        case Kind::boolean:
            return json(std::get<bool>(value_));
        case Kind::floating:
            return floatJson(std::get<float>(value_));
        case Kind::dictionary: {
            json object = json::object();
            for (const auto& [key, value] : *dictionary()) object[key.string()] = value.encode();
            return object;
        }
        case Kind::array: {
            json list = json::array();
            list.get_ref<json::array_t&>().reserve(array()->size());
            for (const Config& element : *array()) list.push_back(element.encode());
            return list;
        }
        case Kind::token: {
            const Token& t = std::get<Token>(value_);
            return json::array({t.id, t.text.string()});
        }
        case Kind::null:
            return json(nullptr);
    }
    return json(nullptr);
}

void to_json(json& j, const Config& config) {
    j = config.encode();
}

void from_json(const json& j, Config& config) {
    config = Config::decode(j);
}

}  // namespace korbit
