// The traffic of each second, by family and protocol: what the extended record's mode 3 keeps
// instead of a row per frame, so that a timeline and the protocol mix can still be told exactly.
//
// Frames are added as they come, into the counters of the second they were captured in (UTC);
// when a frame of another second comes, the second before is finished: its counters become rows,
// one per family and protocol met, and start again. The rows are handed on once at least a
// statement's worth has gathered (rowsPerBatch), and the rest at the end, so that a capture of
// a row or two a second still writes many rows to a statement. A capture whose time goes back
// and forth finishes a second each time it leaves it, so one second may give more than one row
// for a family and protocol; they add up. Adding a frame costs two additions in a fixed array.
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
    // Called with the rows of the seconds finished since the call before, in their order.
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
    // Finishes the second under way and hands on every row still held, at the end of the run.
    void finish();

    static constexpr std::uint32_t rowsPerBatch = 32;

  private:
    static constexpr std::uint32_t slots = 512;  // two families of 256 protocols

    void finishSecond();

    Sink sink;
    std::time_t current = 0;
    FrameCounts counts[slots] = {};
    std::uint16_t touched[slots] = {};
    std::uint32_t touchedCount = 0;
    // Fewer than rowsPerBatch rows are held when a second adds its rows, at most one per slot.
    Row rows[rowsPerBatch + slots] = {};
    std::uint32_t rowsHeld = 0;
};

}  // namespace tidewrack
