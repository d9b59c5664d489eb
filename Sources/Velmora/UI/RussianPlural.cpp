#include "Velmora/UI/RussianPlural.hpp"

namespace velmora::RussianPlural {

Form form(std::int64_t number) {
    // The remainders of a negative number are negative; its size decides.
    const std::int64_t lastTwo = (number < 0 ? -(number % 100) : number % 100);
    const std::int64_t last = lastTwo % 10;
    if (lastTwo >= 11 && lastTwo <= 14) return Form::many;
    if (last == 1) return Form::one;
    if (last >= 2 && last <= 4) return Form::few;
    return Form::many;
}

QString noun(std::int64_t number, const QString& one, const QString& few, const QString& many) {
    switch (form(number)) {
        case Form::one:
            return one;
        case Form::few:
            return few;
        case Form::many:
            return many;
    }
    return many;
}

}  // namespace velmora::RussianPlural
