// The stretches of traffic and the idle gaps between them, of which the report's active time
// and every rate over it follow.
//
// An idle gap is more than idleGap (an hour) without a frame, on the report's time axis, of all
// the databases together: a capture stopped and started again, databases days or years apart,
// or a link that carried nothing. A stretch of traffic runs from its first frame to its last,
// with no idle gap inside; the active time is the sum of the stretches' lengths, which is the
// span of the traffic less its idle gaps, and a stretch of one frame lasts no time. A capture
// without an idle gap is active for its whole span, so that its mean rate is the one over its
// duration, as capinfos gives it.
//
// Frames come in capture order, database after database: a time next to the stretch met last
// extends it at once, and any other time (a database of other days, a time that goes back) is
// placed among the stretches held, joining those it comes within idleGap of. The stretches held
// are disjoint and more than idleGap apart; the tally writes them to its store when its budget
// is spent, and the store joins what was written apart (tally_store.cpp).
#pragma once

#include <cstdint>
#include <map>

#include "report/time_of_day.h"

namespace tidewrack::report {

class Activity {
  public:
    static constexpr std::int64_t idleGap = 3600 * microsecondsPerSecond;

    // Takes the time of a frame (a known one) into the stretches.
    void add(std::int64_t time);

    // The stretches held: their first and last times, by the first.
    const std::map<std::int64_t, std::int64_t>& stretches() const { return held; }
    void clear() {
        held.clear();
        recent = held.end();
    }

  private:
    std::map<std::int64_t, std::int64_t> held;
    std::map<std::int64_t, std::int64_t>::iterator recent = held.end();  // the one met last
    // The first time of the stretch after `recent`; none when it is the last.
    static constexpr std::int64_t none = INT64_MIN;
    std::int64_t nextFirst = none;
};

}  // namespace tidewrack::report
