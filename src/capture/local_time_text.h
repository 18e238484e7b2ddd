// The local time of a packet as "%H:%M:%S", converted once per distinct second: packets come
// many to a second, and converting a timestamp to the host's local time is the costliest step
// of decoding. The text of the second converted last stands until a packet of another second.
#pragma once

#include <ctime>

namespace tidewrack {

inline constexpr std::size_t timeTextSize = 16;

class LocalTimeText {
  public:
    // Converts `seconds` (unless it is the second converted last) and returns the broken-down
    // local time, or null when the timestamp has none; the text is then "--:--:--".
    const std::tm* convert(std::time_t seconds) {
        return converted && seconds == convertedSeconds ? local : convertNew(seconds);
    }
    const char (&text() const)[timeTextSize] { return timeText; }

  private:
    const std::tm* convertNew(std::time_t seconds);

    std::tm storage{};
    const std::tm* local = nullptr;
    std::time_t convertedSeconds = 0;
    bool converted = false;
    char timeText[timeTextSize] = {};
};

}  // namespace tidewrack
