// The widening timeline.
#include "report/timeline.h"

#include <array>
#include <cstdint>

#include "report/time_of_day.h"

namespace tidewrack::report {

namespace {

// In seconds: up to an hour, then a day and ten times as much at each step, until maxBuckets
// intervals of the widest cover every time the line of days can hold.
constexpr std::array<std::int64_t, 12> widths = {
    1, 10, 60, 600, 3600, 86400, 864000, 8640000, 86400000, 864000000, 8640000000, 86400000000};
static_assert(INT64_MAX / (widths.back() * microsecondsPerSecond) < Timeline::maxBuckets);
static_assert(
    [] {
        for (std::size_t i = 1; i < widths.size(); ++i) {
            if (widths[i] % widths[i - 1] != 0) {
                return false;
            }
        }
        return true;
    }(),
    "each width is a whole multiple of the one before");

}  // namespace

std::int64_t Timeline::interval() const {
    return widths[level] * microsecondsPerSecond;
}

void Timeline::add(std::int64_t time, std::uint32_t length) {
    const std::int64_t number = time / interval();
    if (number != lastNumber) {
        lastNumber = number;
        lastCounts = &counts[number];
        if (counts.rbegin()->first - counts.begin()->first >= maxBuckets &&
            level + 1 < widths.size()) {
            widen();
        }
    }
    lastCounts->add(length);
}

void Timeline::widen() {
    while (counts.rbegin()->first - counts.begin()->first >= maxBuckets &&
           level + 1 < widths.size()) {
        const std::int64_t factor = widths[level + 1] / widths[level];
        std::map<std::int64_t, Counts> wider;
        for (const auto& [number, bucket] : counts) {
            wider[number / factor] += bucket;
        }
        counts.swap(wider);
        ++level;
        lastNumber /= factor;
    }
    lastCounts = &counts[lastNumber];
}

std::vector<Timeline::Bucket> Timeline::buckets() const {
    std::vector<Bucket> all;
    if (counts.empty()) {
        return all;
    }
    const std::int64_t first = counts.begin()->first, last = counts.rbegin()->first;
    all.reserve(static_cast<std::size_t>(last - first + 1));
    for (std::int64_t number = first; number <= last; ++number) {
        const auto found = counts.find(number);
        all.push_back({number * interval(), found == counts.end() ? Counts{} : found->second});
    }
    return all;
}

}  // namespace tidewrack::report
