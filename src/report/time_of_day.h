// Times of day as tidewrack stores them, and the line of days the report lays them on.
//
// tidewrack writes each frame's local time of day as "hh:mm:ss.uuuuuu", or with
// "--:--:--" for the clock when the capture time could not be converted. The report reads a
// time into microseconds since midnight. Frames are stored in capture order, so a time that
// falls back by more than twelve hours from the one before has crossed midnight: DayLine
// counts the days that way and places every time on one line, day 0 being the day of the
// database's first frame. Times on the line are microseconds; an unknown time stays unknown.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tidewrack::report {

inline constexpr std::int64_t microsecondsPerSecond = 1000000;
inline constexpr std::int64_t microsecondsPerDay = 86400 * microsecondsPerSecond;
inline constexpr std::int64_t unknownTime = -1;

// Microseconds since midnight, or unknownTime for a text that is not a time of day.
std::int64_t parseTimeOfDay(std::string_view text);
// The microseconds of a time's fraction, the digits after its point; unknownTime for a text
// that is not one.
inline std::int64_t parseFraction(std::string_view digits) {
    std::int64_t fraction = 0;
    for (const char c : digits) {
        const unsigned digit = static_cast<unsigned char>(c) - unsigned{'0'};
        if (digit > 9) {
            return unknownTime;
        }
        fraction = fraction * 10 + digit;
    }
    return fraction;
}

// The "hh:mm:ss.uuuuuu" of a time on the line of days (its day is not shown).
std::string formatTimeOfDay(std::int64_t time);

// Places the times of one database, in capture order, on the line of days.
class DayLine {
  public:
    std::int64_t place(std::int64_t timeOfDay);

  private:
    std::int64_t dayStart = 0;
    std::int64_t previous = unknownTime;
};

}  // namespace tidewrack::report
