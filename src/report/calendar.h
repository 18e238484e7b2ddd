// Dates of the Gregorian calendar counted as days since 1970-01-01, and their texts: DAYS.date
// ("2024-12-31") read into a day number, and day numbers written as dates again. Day numbers
// before 1970 are negative; the texts hold years 0000 to 9999.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tidewrack::report {

// The day number of a "YYYY-MM-DD" text that names a real date; nothing for any other text.
std::optional<std::int64_t> parseDate(std::string_view text);

// The "YYYY-MM-DD" of a day number.
std::string dateText(std::int64_t day);

// `value` divided by `divisor` (positive), rounded down, and what remains (0 <= r < divisor).
constexpr std::int64_t floorDivide(std::int64_t value, std::int64_t divisor) {
    return value / divisor - (value % divisor < 0 ? 1 : 0);
}
constexpr std::int64_t floorRemainder(std::int64_t value, std::int64_t divisor) {
    return value - floorDivide(value, divisor) * divisor;
}

}  // namespace tidewrack::report
