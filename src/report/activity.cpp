// Placing the frames' times among the stretches of traffic.
#include "report/activity.h"

#include <algorithm>
#include <iterator>

namespace tidewrack::report {

void Activity::add(std::int64_t time) {
    // In capture order a time falls in the stretch met last, or just after its end.
    if (recent != held.end() && time >= recent->first) {
        if (time <= recent->second) {
            return;
        }
        if (time - recent->second <= idleGap && (nextFirst == none || nextFirst - time > idleGap)) {
            recent->second = time;
            return;
        }
    }
    const auto after = held.upper_bound(time);  // the first stretch that starts after it
    const auto before = after == held.begin() ? held.end() : std::prev(after);
    const bool joinsBefore = before != held.end() && time - before->second <= idleGap;
    const bool joinsAfter = after != held.end() && after->first - time <= idleGap;
    if (joinsBefore) {
        before->second = std::max(before->second, joinsAfter ? after->second : time);
        if (joinsAfter) {
            held.erase(after);
        }
        recent = before;
    } else if (joinsAfter) {  // it starts the stretch after it earlier
        const std::int64_t last = after->second;
        held.erase(after);
        recent = held.emplace(time, last).first;
    } else {
        recent = held.emplace(time, time).first;
    }
    const auto next = std::next(recent);
    nextFirst = next == held.end() ? none : next->first;
}

}  // namespace tidewrack::report
