// Splitting a run's duration into hours, minutes and seconds for the timing report.
#pragma once

#include <ctime>

namespace tidewrack {

struct Duration {
    int hours;
    int minutes;
    int seconds;
};

// Hours are not capped at 24: a hundred hours print as 100:00:00.
inline Duration splitDuration(std::time_t from, std::time_t to) {
    const double d = std::difftime(to, from);
    const int hours = static_cast<int>(d / 3600);
    const double rest = d - hours * 3600.0;
    const int minutes = static_cast<int>(rest / 60);
    return {hours, minutes, static_cast<int>(rest - minutes * 60.0)};
}

}  // namespace tidewrack
