#include "KorbitCore/LogItem.hpp"

#include <charconv>

namespace korbit::detail {
namespace {

template <typename T>
void appendNumber(std::string& out, T value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

template <typename F>
void appendShortest(std::string& out, F value) {
    std::size_t start = out.size();
    appendNumber(out, value);
    // Whole numbers keep a fractional part; exponents, "inf" and "nan" stay as they are.
    if (out.find_first_of(".en", start) == std::string::npos) out.append(".0");
}

}  // namespace

void appendInteger(std::string& out, long long value) {
    appendNumber(out, value);
}
void appendInteger(std::string& out, unsigned long long value) {
    appendNumber(out, value);
}
void appendFloating(std::string& out, double value) {
    appendShortest(out, value);
}
void appendFloating(std::string& out, float value) {
    appendShortest(out, value);
}

}  // namespace korbit::detail
