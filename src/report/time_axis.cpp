// Choosing the report's axis and writing its times.
#include "report/time_axis.h"

#include <algorithm>
#include <cstdio>

#include "report/calendar.h"
#include "report/time_of_day.h"

namespace tidewrack::report {

namespace {

// "UTC", "UTC+01:00", "UTC-03:30", with the zone's abbreviation after an offset when there is
// one: "UTC+01:00 (CET)".
std::string zoneText(std::int64_t offset, const std::string& abbreviation) {
    if (offset == 0 && (abbreviation.empty() || abbreviation == "UTC")) {
        return "UTC";
    }
    const std::int64_t minutes = (offset < 0 ? -offset : offset) / 60;
    char text[32];
    std::snprintf(text, sizeof text, "UTC%c%02lld:%02lld", offset < 0 ? '-' : '+',
                  static_cast<long long>(minutes / 60), static_cast<long long>(minutes % 60));
    return abbreviation.empty() ? std::string(text) : std::string(text) + " (" + abbreviation + ")";
}

}  // namespace

TimeAxis TimeAxis::of(const std::vector<DatabaseDates>& databases) {
    TimeAxis axis;
    if (databases.empty() || !std::all_of(databases.begin(), databases.end(),
                                          [](const DatabaseDates& d) { return d.dated; })) {
        return axis;
    }
    axis.dated = true;
    std::vector<std::int64_t> offsets;
    std::int64_t earliest = INT64_MAX;
    bool oneZone = true;
    for (const DatabaseDates& d : databases) {
        offsets.insert(offsets.end(), d.offsets.begin(), d.offsets.end());
        earliest = std::min(earliest, d.earliestMidnight);
        oneZone = oneZone && d.zone == databases.front().zone;
    }
    std::sort(offsets.begin(), offsets.end());
    offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
    if (offsets.size() == 1) {
        axis.offset = offsets.front();
        axis.zone = zoneText(axis.offset, oneZone ? databases.front().zone : "");
    } else {
        axis.zone = "UTC";
    }
    if (earliest != INT64_MAX) {
        // Day 0 starts at the midnight, as people see times, on or before every frame.
        const std::int64_t shift = axis.offset * microsecondsPerSecond;
        axis.origin =
            floorDivide(earliest + shift, microsecondsPerDay) * microsecondsPerDay - shift;
    }
    return axis;
}

std::string TimeAxis::timeText(std::int64_t time) const {
    if (dated) {
        return dateText(floorDivide(origin + offset * microsecondsPerSecond, microsecondsPerDay) +
                        time / microsecondsPerDay) +
               ' ' + formatTimeOfDay(time);
    }
    return (spansDays ? "day " + std::to_string(time / microsecondsPerDay) + " " : "") +
           formatTimeOfDay(time);
}

std::string TimeAxis::intervalText(std::int64_t time) const {
    const std::string clock = formatTimeOfDay(time).substr(0, 8);
    if (!spansDays) {
        return clock;
    }
    const std::string text = timeText(time);
    return text.substr(0, text.size() - formatTimeOfDay(time).size()) + clock;
}

std::string TimeAxis::utcText(std::int64_t time) const {
    const std::int64_t utc = utcMicroseconds(time);
    const std::int64_t day = floorDivide(utc, microsecondsPerDay);
    return dateText(day) + 'T' + formatTimeOfDay(utc - day * microsecondsPerDay) + 'Z';
}

}  // namespace tidewrack::report
