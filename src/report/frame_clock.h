// Places the frames of one database on the report's time axis (time_axis.h), in capture order.
//
// On a dated axis a frame's time is its local date and UTC offset, from the DAYS row with the
// greatest frame number not past its own, and its time of day: DAYS is read alongside the
// frames, one row at a time, so that a DAYS table of any size needs no memory. A frame before
// the first DAYS row, on a row without a date, or whose date or offset cannot be read, has no
// known time. On the days of classic databases the database's own line of days places it.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "report/time_axis.h"
#include "report/time_of_day.h"

namespace tidewrack::report {

class FrameClock {
  public:
    // The widest UTC offset a DAYS row may have, in seconds: a day and more is not an offset.
    static constexpr std::int64_t widestOffset = 26 * 3600;

    // `days` selects frame, date, utc_offset of DAYS in frame order; it is read on a dated
    // axis only, and may be null on the other.
    FrameClock(const TimeAxis& axis, sqlite3_stmt* days);

    // The time on the axis of frame `frame` with the time of day `clock`, or unknownTime.
    std::int64_t place(std::int64_t frame, std::string_view clock);

    // The UTC microseconds of the local midnight that the current row of `days` names (its
    // date less its offset), or nothing when it names none.
    static std::optional<std::int64_t> midnight(sqlite3_stmt* days);

    // Whether reading DAYS failed (SQLite's error is then the connection's).
    bool failed() const { return failure; }

  private:
    // Takes the DAYS rows up to `frame`.
    void advance(std::int64_t frame);
    // The microseconds since midnight of `clock`, or unknownTime.
    std::int64_t timeOfDay(std::string_view clock);

    bool dated;
    std::int64_t origin;
    sqlite3_stmt* days;
    bool more = false;                // `days` has a row not yet taken
    std::int64_t base = unknownTime;  // the axis time of the current row's local midnight
    bool failure = false;
    DayLine dayLine;
    // The bytes of "HH:MM:SS" of the last time read whole, and the microseconds of that second.
    std::uint64_t second = 0;
    std::int64_t secondStart = unknownTime;
};

}  // namespace tidewrack::report
