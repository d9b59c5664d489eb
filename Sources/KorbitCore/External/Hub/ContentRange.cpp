#include "KorbitCore/External/Hub/ContentRange.hpp"

#include <stdexcept>

namespace korbit {

std::optional<ContentRange> ContentRange::parse(const std::optional<std::string>& value) {
    if (!value || value->rfind("bytes ", 0) != 0) return std::nullopt;
    const std::string rest = value->substr(6);
    const std::size_t slash = rest.find('/');
    if (slash == std::string::npos) return std::nullopt;
    ContentRange range;
    try {
        const std::string span = rest.substr(0, slash);
        const std::string total = rest.substr(slash + 1);
        if (span != "*") range.start = std::stoll(span.substr(0, span.find('-')));
        if (total != "*") range.total = std::stoll(total);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return range;
}

}  // namespace korbit
