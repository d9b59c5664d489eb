#pragma once

// Numbers as text for reports and log lines. printf("%.2f") follows the process locale, which the
// application sets from the environment: under a comma-decimal locale it writes "500,00". These
// always write a point.

#include <string>

namespace korbit {

/// `value` with `places` digits after the point, right-aligned in at least `width` characters:
/// what printf's "%*.*f" writes in the "C" locale ("  500.00", "inf", "-nan").
std::string fixedDecimal(double value, int places, int width = 0);

}  // namespace korbit
