// Day numbers from dates and back, by the civil-calendar algorithms of Howard Hinnant's
// "chrono-Compatible Low-Level Date Algorithms" (eras of 400 years, months from March).
#include "report/calendar.h"

#include <cstdio>

namespace tidewrack::report {

namespace {

constexpr std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = floorDivide(year, 400);
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

struct Civil {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

constexpr Civil civilFromDays(std::int64_t days) {
    days += 719468;
    const std::int64_t era = floorDivide(days, 146097);
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthFromMarch = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
    const unsigned month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

static_assert(daysFromCivil(1970, 1, 1) == 0 && daysFromCivil(2000, 3, 1) == 11017 &&
              daysFromCivil(1969, 12, 31) == -1);
static_assert(civilFromDays(20088).year == 2024 && civilFromDays(20088).month == 12 &&
              civilFromDays(20088).day == 31);

constexpr unsigned daysInMonth(std::int64_t year, unsigned month) {
    constexpr unsigned lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return month == 2 && leap ? 29 : lengths[month - 1];
}

}  // namespace

std::optional<std::int64_t> parseDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
        return std::nullopt;
    }
    unsigned value[3] = {};
    const int starts[3] = {0, 5, 8}, lengths[3] = {4, 2, 2};
    for (int part = 0; part < 3; ++part) {
        for (int i = starts[part]; i < starts[part] + lengths[part]; ++i) {
            if (text[i] < '0' || text[i] > '9') {
                return std::nullopt;
            }
            value[part] = value[part] * 10 + static_cast<unsigned>(text[i] - '0');
        }
    }
    if (value[1] < 1 || value[1] > 12 || value[2] < 1 ||
        value[2] > daysInMonth(value[0], value[1])) {
        return std::nullopt;
    }
    return daysFromCivil(value[0], value[1], value[2]);
}

std::string dateText(std::int64_t day) {
    const Civil date = civilFromDays(day);
    char text[32];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u", static_cast<long long>(date.year),
                  date.month, date.day);
    return text;
}

}  // namespace tidewrack::report
