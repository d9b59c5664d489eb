#pragma once

// The one JSON reader of configuration files. Files may hold texts (vocabulary tokens among them)
// that begin with, or are, U+FEFF written raw as EF BB BF. This reader keeps such a mark exactly as
// written: a text that starts with the mark keeps one mark, a mark inside a text stays once, and the
// escape \ufeff reads as the mark. A byte-order mark at the very start of the input, before the
// top-level value, is skipped. Readers that drop a mark opening a text needed a copy step that
// doubled every mark after a quote byte; this reader needs none (and that step would double marks
// that follow an escaped quote inside a text).
//
// Nesting deeper than kMaxJsonNesting is rejected, so that no consumer recurses without bound.

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <string_view>

namespace korbit {

inline constexpr std::size_t kMaxJsonNesting = 512;

/// Parses the bytes into a tree. Throws nlohmann::json::parse_error (malformed JSON, a mark between
/// tokens, nesting too deep).
nlohmann::json bomPreservingJsonObject(std::string_view bytes);

[[noreturn]] void throwJsonNestingTooDeep();

namespace detail {

// Forwards every parser event to a handler, counting the nesting on the way.
template <class Handler>
struct NestingLimitedSax {
    Handler& inner;
    std::size_t depth = 0;

    bool enter() {
        if (++depth > kMaxJsonNesting) throwJsonNestingTooDeep();
        return true;
    }
    bool null() { return inner.null(); }
    bool boolean(bool v) { return inner.boolean(v); }
    bool number_integer(nlohmann::json::number_integer_t v) { return inner.number_integer(v); }
    bool number_unsigned(nlohmann::json::number_unsigned_t v) { return inner.number_unsigned(v); }
    bool number_float(nlohmann::json::number_float_t v, const std::string& s) { return inner.number_float(v, s); }
    bool string(std::string& v) { return inner.string(v); }
    bool binary(nlohmann::json::binary_t& v) { return inner.binary(v); }
    bool start_object(std::size_t n) { return enter() && inner.start_object(n); }
    bool key(std::string& v) { return inner.key(v); }
    bool end_object() { return --depth, inner.end_object(); }
    bool start_array(std::size_t n) { return enter() && inner.start_array(n); }
    bool end_array() { return --depth, inner.end_array(); }
    template <class Exception>
    bool parse_error(std::size_t position, const std::string& token, const Exception& ex) {
        return inner.parse_error(position, token, ex);
    }
};

}  // namespace detail

/// The same reader delivering events to a SAX handler (nlohmann's SAX interface), for building a
/// value without an intermediate tree. The handler's parse_error should throw; returns what the
/// parser returns.
template <class Handler>
bool bomPreservingJsonParse(std::string_view bytes, Handler& handler) {
    detail::NestingLimitedSax<Handler> limited{handler};
    return nlohmann::json::sax_parse(bytes.begin(), bytes.end(), &limited);
}

}  // namespace korbit
