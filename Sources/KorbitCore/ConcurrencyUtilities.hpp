#pragma once

namespace korbit {

struct ConcurrencyUtilities {
    /// The number of processor cores online at the moment of the call.
    static long activeProcessorCount();
};

}  // namespace korbit
