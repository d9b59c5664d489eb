#pragma once

// The items of a log message. An item only refers to the caller's value; it is rendered to
// text when (and only when) the message is emitted, within the logging call.

#include <concepts>
#include <cstddef>
#include <cstring>
#include <exception>
#include <locale>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

namespace korbit {

namespace detail {
void appendInteger(std::string& out, long long value);
void appendInteger(std::string& out, unsigned long long value);
/// Shortest form that reads back as the same value, with ".0" on whole numbers ("2.5", "3.0").
void appendFloating(std::string& out, double value);
void appendFloating(std::string& out, float value);

template <typename T>
concept Streamable = requires(std::ostream& out, const T& value) {
    out << value;
};
}  // namespace detail

/// One item in its default textual form: texts unchanged, numbers in decimal, booleans as
/// "true"/"false", errors as their message, anything else through its `<<` operator.
class LogItem {
public:
    template <typename T>
    requires(!std::same_as<T, LogItem>) LogItem(const T& value) : object_(std::addressof(value)), render_(&render<T>) {}

    void appendTo(std::string& out) const { render_(object_, out); }

private:
    template <typename T>
    static void render(const void* object, std::string& out) {
        const T& value = *static_cast<const T*>(object);
        if constexpr (std::is_array_v<T> && std::is_same_v<std::remove_cv_t<std::remove_extent_t<T>>, char>) {
            out.append(value, strnlen(value, std::extent_v<T>));
        } else if constexpr (std::is_same_v<T, const char*> || std::is_same_v<T, char*>) {
            if (value) out.append(value);
        } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
            out.append(std::string_view(value));
        } else if constexpr (std::is_same_v<T, bool>) {
            out.append(value ? "true" : "false");
        } else if constexpr (std::is_same_v<T, char>) {
            out.push_back(value);
        } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
            detail::appendInteger(out, static_cast<long long>(value));
        } else if constexpr (std::is_integral_v<T>) {
            detail::appendInteger(out, static_cast<unsigned long long>(value));
        } else if constexpr (std::is_same_v<T, float>) {
            detail::appendFloating(out, value);
        } else if constexpr (std::is_floating_point_v<T>) {
            detail::appendFloating(out, static_cast<double>(value));
        } else if constexpr (std::is_base_of_v<std::exception, T>) {
            out.append(value.what());
        } else {
            static_assert(detail::Streamable<T>, "a log item needs a textual form (an operator<<)");
            std::ostringstream stream;
            stream.imbue(std::locale::classic());  // numbers with a point whatever the global locale
            stream << value;
            out.append(stream.str());
        }
    }

    const void* object_;
    void (*render_)(const void*, std::string&);
};

}  // namespace korbit
