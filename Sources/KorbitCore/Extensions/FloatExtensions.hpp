#pragma once

namespace korbit {

/// The value rounded to `places` decimal places, halves away from zero, all in single
/// precision. A negative count rounds to tens, hundreds, ...
float rounded(float value, int places);

}  // namespace korbit
