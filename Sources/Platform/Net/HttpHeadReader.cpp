#include "Platform/Net/HttpHeadReader.hpp"

namespace platform::net {
namespace {

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

HttpHeadReader::Line HttpHeadReader::read(std::string_view line) {
    if (line.substr(0, 5) == "HTTP/") {
        response_ = HttpResponse{};
        hasStatus_ = false;
        const std::size_t space = line.find(' ');
        const std::string_view code = space == std::string_view::npos ? std::string_view() : line.substr(space + 1, 3);
        if (code.size() == 3 && isDigit(code[0]) && isDigit(code[1]) && isDigit(code[2])) {
            response_.statusCode = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
            hasStatus_ = true;
        }
        return Line::status;
    }
    if (line.empty() || line == "\r\n" || line == "\n" || line == "\r") return Line::end;
    if (line.front() == ' ' || line.front() == '\t') return Line::skipped;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return Line::skipped;
    response_.headers.add(std::string(trimBlanks(line.substr(0, colon))),
                          std::string(trimBlanks(line.substr(colon + 1))));
    return Line::field;
}

}  // namespace platform::net
