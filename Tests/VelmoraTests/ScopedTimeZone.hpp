#pragma once

// Runs a test in another local time zone and restores the former one afterwards.

#include "Support/TestEnvironment.hpp"

#include <ctime>
#include <memory>

namespace velmora::test {

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) : env_(std::make_unique<ScopedEnv>("TZ", zone)) { ::tzset(); }
    ~ScopedTimeZone() {
        env_.reset();
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::unique_ptr<ScopedEnv> env_;
};

}  // namespace velmora::test
