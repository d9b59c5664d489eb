#include "KorbitCore/ConcurrencyUtilities.hpp"

#include "Platform/Sys/System.hpp"

namespace korbit {

long ConcurrencyUtilities::activeProcessorCount() {
    return platform::sys::activeProcessorCount();
}

}  // namespace korbit
