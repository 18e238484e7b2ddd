// Local-time text of a timestamp, cached per second.
#include "capture/local_time_text.h"

#include <cstring>

namespace tidewrack {

const std::tm* LocalTimeText::convertNew(std::time_t seconds) {
    converted = true;
    convertedSeconds = seconds;
    local = localtime_r(&seconds, &storage);
    if (local == nullptr || std::strftime(timeText, sizeof timeText, "%H:%M:%S", local) == 0) {
        static_assert(sizeof "--:--:--" <= timeTextSize);
        std::memcpy(timeText, "--:--:--", sizeof "--:--:--");
    }
    return local;
}

}  // namespace tidewrack
