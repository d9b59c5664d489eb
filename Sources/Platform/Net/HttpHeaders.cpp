#include "Platform/Net/HttpHeaders.hpp"

#include <algorithm>

namespace platform::net {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::optional<std::string> HttpHeaders::value(std::string_view name) const {
    std::optional<std::string> result;
    for (const auto& [key, value] : fields_) {
        if (!equalsIgnoringCase(key, name)) continue;
        if (result) {
            *result += ", ";
            *result += value;
        } else {
            result = value;
        }
    }
    return result;
}

bool HttpHeaders::contains(std::string_view name) const {
    return std::any_of(fields_.begin(), fields_.end(),
                       [&](const Field& f) { return equalsIgnoringCase(f.first, name); });
}

void HttpHeaders::set(std::string name, std::string value) {
    remove(name);
    fields_.emplace_back(std::move(name), std::move(value));
}

void HttpHeaders::add(std::string name, std::string value) {
    fields_.emplace_back(std::move(name), std::move(value));
}

void HttpHeaders::remove(std::string_view name) {
    std::erase_if(fields_, [&](const Field& f) { return equalsIgnoringCase(f.first, name); });
}

}  // namespace platform::net
