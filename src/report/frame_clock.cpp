// Reading DAYS alongside the frames.
#include "report/frame_clock.h"

#include <cstring>

#include "report/calendar.h"

namespace tidewrack::report {

FrameClock::FrameClock(const TimeAxis& axis, sqlite3_stmt* daysRows)
    : dated(axis.dated), origin(axis.origin), days(daysRows) {
    if (dated && days != nullptr) {
        const int stepped = sqlite3_step(days);
        more = stepped == SQLITE_ROW;
        failure = stepped != SQLITE_ROW && stepped != SQLITE_DONE;
    }
}

std::optional<std::int64_t> FrameClock::midnight(sqlite3_stmt* days) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(days, 1));
    const std::optional<std::int64_t> day =
        text == nullptr ? std::nullopt : parseDate(std::string_view(text));
    const std::int64_t offset = sqlite3_column_int64(days, 2);
    if (!day || sqlite3_column_type(days, 2) == SQLITE_NULL || offset > widestOffset ||
        offset < -widestOffset) {
        return std::nullopt;
    }
    return (*day * 86400 - offset) * microsecondsPerSecond;
}

void FrameClock::advance(std::int64_t frame) {
    while (more && sqlite3_column_int64(days, 0) <= frame) {
        const std::optional<std::int64_t> utc = midnight(days);
        base = utc ? *utc - origin : unknownTime;
        const int stepped = sqlite3_step(days);
        more = stepped == SQLITE_ROW;
        failure = failure || (stepped != SQLITE_ROW && stepped != SQLITE_DONE);
    }
}

std::int64_t FrameClock::timeOfDay(std::string_view clock) {
    // Frames come in capture order, many within one second: a time in the second of the one
    // read whole before ("HH:MM:SS", then its point) has only its fraction read.
    std::uint64_t head = 0;
    if (clock.size() >= 10 && clock.size() <= 18) {
        std::memcpy(&head, clock.data(), sizeof head);
        if (secondStart != unknownTime && head == second && clock[8] == '.') {
            const std::int64_t fraction = parseFraction(clock.substr(9));
            return fraction == unknownTime ? unknownTime : secondStart + fraction;
        }
    }
    const std::int64_t time = parseTimeOfDay(clock);
    if (time != unknownTime) {
        second = head;
        secondStart = time - parseFraction(clock.substr(9));
    }
    return time;
}

std::int64_t FrameClock::place(std::int64_t frame, std::string_view clock) {
    const std::int64_t ofDay = timeOfDay(clock);
    if (!dated) {
        return dayLine.place(ofDay);
    }
    advance(frame);
    return base == unknownTime || ofDay == unknownTime ? unknownTime : base + ofDay;
}

}  // namespace tidewrack::report
