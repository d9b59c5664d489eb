#include "Velmora/Support/IsoDate.hpp"

#include <charconv>
#include <cstdio>

namespace velmora {
namespace {

using namespace std::chrono;

// Exactly `digits` decimal digits at `at`, advancing it.
std::optional<int> number(std::string_view text, std::size_t& at, std::size_t digits) {
    if (at + digits > text.size()) return std::nullopt;
    int value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    at += digits;
    return value;
}

bool expect(std::string_view text, std::size_t& at, char c) {
    if (at >= text.size() || text[at] != c) return false;
    ++at;
    return true;
}

}  // namespace

std::string IsoDate::format(Date date, bool milliseconds) {
    const auto ms = floor<std::chrono::milliseconds>(date);
    const auto day = floor<days>(ms);
    const year_month_day ymd(day);
    const hh_mm_ss time(ms - day);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    std::string result(text);
    if (milliseconds) {
        std::snprintf(text, sizeof text, ".%03d", static_cast<int>(time.subseconds().count()));
        result += text;
    }
    return result + "Z";
}

namespace {

struct Written {
    sys_seconds utc;
    nanoseconds fraction;
};

// The written form read, whether or not the clock can hold the time it names.
std::optional<Written> readWritten(std::string_view text, bool allowFraction) {
    std::size_t at = 0;
    const auto y = number(text, at, 4);
    if (!y || !expect(text, at, '-')) return std::nullopt;
    const auto mo = number(text, at, 2);
    if (!mo || !expect(text, at, '-')) return std::nullopt;
    const auto d = number(text, at, 2);
    if (!d || !expect(text, at, 'T')) return std::nullopt;
    const auto h = number(text, at, 2);
    if (!h || !expect(text, at, ':')) return std::nullopt;
    const auto mi = number(text, at, 2);
    if (!mi || !expect(text, at, ':')) return std::nullopt;
    const auto s = number(text, at, 2);
    if (!s) return std::nullopt;
    const year_month_day ymd{year(*y), month(static_cast<unsigned>(*mo)), day(static_cast<unsigned>(*d))};
    if (!ymd.ok() || *h > 23 || *mi > 59 || *s > 59) return std::nullopt;

    nanoseconds fraction{0};
    if (at < text.size() && text[at] == '.') {
        if (!allowFraction) return std::nullopt;
        ++at;
        const std::size_t start = at;
        long long scale = 100000000;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            fraction += nanoseconds((text[at] - '0') * scale);
            scale /= 10;
            ++at;
        }
        if (at == start) return std::nullopt;
    }

    minutes offset{0};
    if (expect(text, at, 'Z')) {
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        const int sign = text[at++] == '-' ? -1 : 1;
        const auto oh = number(text, at, 2);
        if (!oh || !expect(text, at, ':')) return std::nullopt;
        const auto om = number(text, at, 2);
        if (!om || *oh > 23 || *om > 59) return std::nullopt;
        offset = minutes(sign * (*oh * 60 + *om));
    } else {
        return std::nullopt;
    }
    if (at != text.size()) return std::nullopt;
    const auto local = sys_days(ymd) + hours(*h) + minutes(*mi) + seconds(*s);
    return Written{local - offset, fraction};
}

// The clock counts nanoseconds in 64 bits: about 1677 to 2262. Outside it a time would wrap.
bool fitsTheClock(sys_seconds utc) {
    return utc > floor<seconds>(Date::min()) + seconds(1) && utc < floor<seconds>(Date::max()) - seconds(1);
}

}  // namespace

std::optional<Date> IsoDate::parse(std::string_view text, bool allowFraction) {
    const auto written = readWritten(text, allowFraction);
    if (!written || !fitsTheClock(written->utc)) return std::nullopt;
    return Date(duration_cast<Date::duration>(written->utc.time_since_epoch()) +
                duration_cast<Date::duration>(written->fraction));
}

bool IsoDate::isOutOfRange(std::string_view text, bool allowFraction) {
    const auto written = readWritten(text, allowFraction);
    return written && !fitsTheClock(written->utc);
}

}  // namespace velmora
