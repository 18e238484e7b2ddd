// Finishing a second of the traffic by second: its rows, in the order its families and
// protocols were first met, held until a batch of them is handed on.
#include "extended/traffic_seconds.h"

namespace tidewrack {

void TrafficSeconds::finishSecond() {
    if (touchedCount == 0) {
        return;
    }
    for (std::uint32_t i = 0; i < touchedCount; ++i) {
        const std::uint16_t slot = touched[i];
        rows[rowsHeld++] = {current, static_cast<std::uint8_t>(slot >= 256 ? 6 : 4),
                            static_cast<std::uint8_t>(slot & 0xFF), counts[slot]};
        counts[slot] = {};
    }
    touchedCount = 0;
    if (rowsHeld >= rowsPerBatch) {
        sink.rows(sink.context, rows, rowsHeld);
        rowsHeld = 0;
    }
}

void TrafficSeconds::finish() {
    finishSecond();
    if (rowsHeld > 0) {
        sink.rows(sink.context, rows, rowsHeld);
        rowsHeld = 0;
    }
}

}  // namespace tidewrack
