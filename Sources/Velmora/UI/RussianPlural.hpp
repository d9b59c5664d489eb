#pragma once

// The form a Russian noun takes after a number: "1 запись", "2 записи", "5 записей". The last two
// digits decide: 11 to 14 take the many form, else a last digit of 1 the one form and 2 to 4 the
// few form, everything else the many form.

#include <QString>

#include <cstdint>

namespace velmora::RussianPlural {

enum class Form { one, few, many };

Form form(std::int64_t number);

/// The one of the three forms that goes after the number.
QString noun(std::int64_t number, const QString& one, const QString& few, const QString& many);

}  // namespace velmora::RussianPlural
