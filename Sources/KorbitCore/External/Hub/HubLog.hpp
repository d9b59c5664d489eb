#pragma once

#include "Platform/Log/SystemLog.hpp"

namespace korbit {

/// The system log of the hub client (not the library logger, which is silent until configured).
inline const platform::log::Logger& hubLog() {
    static const platform::log::Logger logger("com.korbit.korbitcore", "HubApi");
    return logger;
}

}  // namespace korbit
