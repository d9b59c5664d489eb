#include "Tremolan/Utilities/Signposter.hpp"

#include "KorbitCore/Extensions/FixedDecimal.hpp"

#include <string>

namespace tremolan {

SignpostIntervalState Signposter::beginInterval(std::string_view name) {
    SignpostIntervalState state{makeSignpostID(), true, {}};
    if (isEnabled()) {
        state.start = std::chrono::steady_clock::now();
        logger_.signpostBegin(name, "id=" + std::to_string(state.signpostID));
    }
    return state;
}

void Signposter::endInterval(std::string_view name, SignpostIntervalState& interval) {
    const bool wasOpen = interval.isOpen;
    interval.isOpen = false;
    if (!isEnabled()) return;
    std::string detail = "id=" + std::to_string(interval.signpostID);
    if (!wasOpen) {
        detail += " [Error] Interval already ended";
    } else if (interval.start != std::chrono::steady_clock::time_point{}) {
        // An interval opened while signposts were off has no start time to measure from.
        double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - interval.start).count();
        detail += " duration=" + korbit::fixedDecimal(ms, 3) + " ms";
    }
    logger_.signpostEnd(name, detail);
}

}  // namespace tremolan
