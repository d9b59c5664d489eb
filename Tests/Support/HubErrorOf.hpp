#pragma once

// The hub client error an action throws, for tests of the hub client and of its callers.

#include "KorbitCore/External/Hub/HubClientError.hpp"

#include <gtest/gtest.h>

#include <exception>

namespace velmora::test {

/// The hub client error the action throws; a failure when it throws none, or another error.
template <typename F>
korbit::Hub::HubClientError hubErrorOf(F&& action) {
    try {
        action();
    } catch (const korbit::Hub::HubClientError& e) {
        return e;
    } catch (const std::exception& e) {
        ADD_FAILURE() << "another error: " << e.what();
        return korbit::Hub::HubClientError::unexpectedError();
    }
    ADD_FAILURE() << "no hub client error";
    return korbit::Hub::HubClientError::unexpectedError();
}

}  // namespace velmora::test
