// The report's one axis of time, on which every frame of every database is placed, and how
// people and scripts see a time on it.
//
// When every database records dates (tidewrack -x writes CAPTURE and DAYS), a frame's time is
// real: its local date from DAYS, its time of day, less the UTC offset of its DAYS row. The
// axis then counts microseconds from `origin`, the midnight that starts the earliest date of
// any database, as people see times: in the databases' local time when every DAYS row and
// every CAPTURE share one UTC offset, else in UTC. Times on it convert back to UTC exactly
// (utcMicroseconds), so that databases from different days are ordered and never overlaid,
// and a filter can compare a frame's time with any instant.
//
// When any database lacks dates, every database keeps its own line of days (time_of_day.h):
// day 0 is its first frame's day, and times are told as "day 1 00:00:02.000000".
//
// Either way day n of the axis is the microseconds from n × 86,400,000,000, so that intervals
// start on midnight and on whole hours as people see them, and a time is never negative.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tidewrack::report {

// What one database says of its dates, read before its frames.
struct DatabaseDates {
    bool dated = false;  // it has CAPTURE and DAYS
    // The UTC microseconds of the earliest local midnight its DAYS rows name, INT64_MAX without.
    std::int64_t earliestMidnight = INT64_MAX;
    // The distinct UTC offsets of CAPTURE and DAYS, in seconds: two at most, since more would
    // tell no more.
    std::vector<std::int64_t> offsets;
    std::string zone;  // CAPTURE.time_zone
};

struct TimeAxis {
    bool dated = false;
    bool spansDays = false;   // the traffic's first and last times fall on different days
    std::int64_t origin = 0;  // dated: the UTC microseconds since 1970 at which day 0 starts
    std::int64_t offset = 0;  // dated: the UTC offset people see times in, in seconds east
    std::string zone;         // dated: that offset for people: "UTC", "UTC+01:00 (CET)"

    // The axis of databases with these dates: dated when every one of them is.
    static TimeAxis of(const std::vector<DatabaseDates>& databases);

    // For people: "2024-12-31 23:59:58.010000" on a dated axis; "day 1 00:00:02.000000" on
    // days past the first, or "00:00:02.000000" within one day, on the days of classic
    // databases.
    std::string timeText(std::int64_t time) const;
    // The start of an interval, to the second, with its date (or day) when the traffic spans
    // days: "23:59:58", "2025-01-01 00:00:00", "day 1 00:00:00".
    std::string intervalText(std::int64_t time) const;
    // ISO 8601 in UTC with microseconds: "2024-12-31T23:59:58.010000Z"; dated axes only.
    std::string utcText(std::int64_t time) const;

    std::int64_t utcMicroseconds(std::int64_t time) const { return origin + time; }
    std::int64_t fromUtcMicroseconds(std::int64_t utc) const { return utc - origin; }
};

}  // namespace tidewrack::report
