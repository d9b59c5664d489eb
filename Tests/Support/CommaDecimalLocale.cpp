#include "Support/CommaDecimalLocale.hpp"

#include <clocale>
#include <cstring>

namespace velmora::test {

CommaDecimalLocale::CommaDecimalLocale() {
    for (const char* name : kNames) {
        if (std::setlocale(LC_ALL, name) && std::strcmp(std::localeconv()->decimal_point, ",") == 0) {
            active_ = true;
            return;
        }
    }
    std::setlocale(LC_ALL, "C");
}

CommaDecimalLocale::~CommaDecimalLocale() {
    std::setlocale(LC_ALL, "C");
}

std::string CommaDecimalLocale::skipReason() const {
    return "no comma-decimal locale is installed (scripts/setup generates ru_RU.UTF-8)";
}

}  // namespace velmora::test
