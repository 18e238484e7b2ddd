// Reading and writing tidewrack's times of day, and counting the midnights between them.
#include "report/time_of_day.h"

#include <cstdio>

namespace tidewrack::report {

namespace {

// The value of two decimal digits at `at`, or -1.
int twoDigits(std::string_view text, std::size_t at) {
    const char high = text[at], low = text[at + 1];
    if (high < '0' || high > '9' || low < '0' || low > '9') {
        return -1;
    }
    return (high - '0') * 10 + (low - '0');
}

}  // namespace

std::int64_t parseTimeOfDay(std::string_view text) {
    // The fraction is the capture's microsecond count as printed with "%.6d": six digits, more
    // only for a trace that stored a count of a second or more.
    if (text.size() < 10 || text.size() > 18 || text[2] != ':' || text[5] != ':' ||
        text[8] != '.') {
        return unknownTime;
    }
    const int hours = twoDigits(text, 0), minutes = twoDigits(text, 3),
              seconds = twoDigits(text, 6);
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 60) {
        return unknownTime;
    }
    const std::int64_t fraction = parseFraction(text.substr(9));
    return fraction == unknownTime
               ? unknownTime
               : ((hours * 60 + minutes) * 60 + seconds) * microsecondsPerSecond + fraction;
}

std::string formatTimeOfDay(std::int64_t time) {
    if (time < 0) {
        return "--:--:--.------";
    }
    const std::int64_t ofDay = time % microsecondsPerDay;
    const std::int64_t seconds = ofDay / microsecondsPerSecond;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%06d", static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60),
                  static_cast<int>(ofDay % microsecondsPerSecond));
    return text;
}

std::int64_t DayLine::place(std::int64_t timeOfDay) {
    if (timeOfDay == unknownTime) {
        return unknownTime;
    }
    if (previous != unknownTime && timeOfDay < previous - microsecondsPerDay / 2) {
        dayStart += microsecondsPerDay;
    }
    previous = timeOfDay;
    return dayStart + timeOfDay;
}

}  // namespace tidewrack::report
