// Frames and bytes per interval of time, with an interval wide enough that at most about
// maxBuckets rows cover the traffic where it is: the idle gaps between its stretches
// (activity.h) are collapsed, each into one row, so that a capture of two days six years apart
// gets intervals as fine as its two days need.
//
// The rows are the intervals from the first frame's to the last frame's, the empty ones
// included, but that a run of empty intervals within an idle gap (more than Activity::idleGap
// from the last frame before it to the first frame after it) is one row, which says how long
// the gap is. The span of the traffic is known only at the end, so the timeline starts with
// intervals of one second and widens them, to 10 s, 1 min, 10 min, 1 h, 1 d, 10 d, 100 d and so
// on, whenever the rows met so far pass maxBuckets; the counts already made are added up into
// the wider intervals. Intervals start on whole multiples of their width from midnight of day
// 0, and only intervals that saw a frame are held, each with its first and last frame's times,
// which tell the gaps: memory stays within maxBuckets + 1 entries, however many days the times
// cross (a database whose times go back and forth across midnight counts a day at each
// crossing).
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
        std::int64_t idle = 0;  // of a collapsed idle gap: its length, and no counts
    };

    void add(std::int64_t time, std::uint32_t length);
    // Adds `counts` to the interval of `time`, with `first` and `last` as candidates for the
    // earliest and latest frame in it: a second's counts of a database without a row per frame,
    // or (with no counts) a connection's first or last frame, which is exact.
    void add(std::int64_t time, const Counts& counts, std::int64_t first, std::int64_t last);

    std::int64_t interval() const;  // in microseconds
    // The rows, from the first frame's interval to the last frame's; the interval may widen
    // once more before them when times that went back joined what were idle gaps.
    std::vector<Bucket> buckets();

  private:
    struct Held {
        Counts counts;
        std::int64_t first = 0, last = 0;  // the earliest and latest frame in it
    };
    // The interval that `time` falls in, made (as from `first` to `last`) when it is new; the
    // one met last is kept at hand, since frames come mostly in order.
    Held& heldAt(std::int64_t time, std::int64_t first, std::int64_t last);
    // The rows that the intervals held make.
    std::int64_t rows() const;
    void widen();

    std::size_t level = 0;
    std::map<std::int64_t, Held> counts;  // by interval number: start / interval
    std::int64_t lastNumber = -1;
    Held* lastCounts = nullptr;
};

}  // namespace tidewrack::report
