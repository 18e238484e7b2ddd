// Frames and bytes per interval of time, with an interval wide enough that at most about
// maxBuckets intervals cover the traffic.
//
// The span of the traffic is known only at the end, so the timeline starts with intervals of
// one second and widens them, to 10 s, 1 min, 10 min, 1 h, 1 d, 10 d, 100 d and so on,
// whenever the span met so far needs more than maxBuckets of them; the counts already made are
// added up into the wider intervals. Intervals start on whole multiples of their width from
// midnight of day 0, and only intervals that saw a frame are held: memory stays within
// maxBuckets + 1 entries, however many days the times cross (a database whose times go back
// and forth across midnight counts a day at each crossing).
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "report/counts.h"

namespace tidewrack::report {

class Timeline {
  public:
    static constexpr std::int64_t maxBuckets = 300;

    struct Bucket {
        std::int64_t start;  // on the line of days, in microseconds
        Counts counts;
    };

    void add(std::int64_t time, std::uint32_t length);

    std::int64_t interval() const;  // in microseconds
    // Every interval from the first frame's to the last frame's, the empty ones included.
    std::vector<Bucket> buckets() const;

  private:
    void widen();

    std::size_t level = 0;
    std::map<std::int64_t, Counts> counts;  // by interval number: start / interval
    std::int64_t lastNumber = -1;
    Counts* lastCounts = nullptr;
};

}  // namespace tidewrack::report
