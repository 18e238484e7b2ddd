// The traffic of each second, by family and protocol: what the extended record's mode 3 keeps
// instead of a row per frame, so that a timeline and the protocol mix can still be told exactly.
//
// Frames are added as they come, into the counters of the second they were captured in (UTC);
// when a frame of another second comes, the second before is finished: its counters go out, one
// row per family and protocol met, and start again. A capture whose time goes back and forth
// finishes a second each time it leaves it, so one second may give more than one row for a
// family and protocol; they add up. Adding a frame costs two additions in a fixed array.
#pragma once

#include <cstdint>
#include <ctime>

#include "extended/frame_census.h"

namespace tidewrack {

class TrafficSeconds {
  public:
    // One row of a finished second.
    struct Row {
        std::time_t second;
        std::uint8_t family;  // 4 or 6
        std::uint8_t protocol;
        FrameCounts counts;
    };
    // Called with the rows of each second that is finished.
    struct Sink {
        void (*rows)(void* context, const Row* rows, std::uint32_t count) = nullptr;
        void* context = nullptr;
    };

    explicit TrafficSeconds(Sink sink) : sink(sink) {}

    void add(std::time_t second, std::uint8_t family, std::uint8_t protocol, std::uint32_t length) {
        if (second != current) {
            finishSecond();
            current = second;
        }
        const std::uint32_t slot = (family == 6 ? 256u : 0u) + protocol;
        if (counts[slot].frames++ == 0) {
            touched[touchedCount++] = static_cast<std::uint16_t>(slot);
        }
        counts[slot].bytes += length;
    }
    // Finishes the second under way, at the end of the run.
    void finishSecond();

  private:
    static constexpr std::uint32_t slots = 512;  // two families of 256 protocols

    Sink sink;
    std::time_t current = 0;
    FrameCounts counts[slots] = {};
    std::uint16_t touched[slots] = {};
    std::uint32_t touchedCount = 0;
    Row rows[slots] = {};
};

}  // namespace tidewrack
