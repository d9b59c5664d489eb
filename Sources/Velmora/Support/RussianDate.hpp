#pragma once

#include "Velmora/Support/IsoDate.hpp"

#include <string>

namespace velmora {

/// The date in the current local time zone, written in Russian with a Qt date pattern
/// ("d MMMM yyyy, HH:mm" gives "5 декабря 2024, 09:30": the month takes the genitive after the day).
std::string russianDate(Date date, const char* pattern);

}  // namespace velmora
