#pragma once

// Switches the process to a locale whose decimal separator is a comma (as the application's
// toolkit does from a Russian environment) for the life of the object, and back to "C" after.
//
//   CommaDecimalLocale locale;
//   if (!locale.active()) GTEST_SKIP() << locale.skipReason();

#include <string>

namespace velmora::test {

class CommaDecimalLocale {
public:
    /// The locales tried, in order; scripts/setup generates the first.
    static constexpr const char* kNames[] = {"ru_RU.UTF-8", "ru_RU.utf8", "de_DE.UTF-8", "fr_FR.UTF-8"};

    CommaDecimalLocale();
    ~CommaDecimalLocale();
    CommaDecimalLocale(const CommaDecimalLocale&) = delete;
    CommaDecimalLocale& operator=(const CommaDecimalLocale&) = delete;

    bool active() const { return active_; }
    std::string skipReason() const;

private:
    bool active_ = false;
};

}  // namespace velmora::test
