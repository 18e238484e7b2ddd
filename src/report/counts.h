// Frames and bytes: the pair of figures the report counts everything in.
#pragma once

#include <cstdint>

namespace tidewrack::report {

struct Counts {
    std::uint64_t frames = 0;
    std::uint64_t bytes = 0;

    void add(std::uint32_t length) {
        ++frames;
        bytes += length;
    }
    Counts& operator+=(const Counts& other) {
        frames += other.frames;
        bytes += other.bytes;
        return *this;
    }
};

}  // namespace tidewrack::report
