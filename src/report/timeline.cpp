// The widening timeline.
#include "report/timeline.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "report/activity.h"
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

Timeline::Held& Timeline::heldAt(std::int64_t time, std::int64_t first, std::int64_t last) {
    const std::int64_t number = time / interval();
    if (number != lastNumber) {
        lastNumber = number;
        const auto [found, added] = counts.try_emplace(number, Held{{}, first, last});
        lastCounts = &found->second;
        if (added && rows() > maxBuckets) {
            widen();
        }
    }
    return *lastCounts;
}

void Timeline::add(std::int64_t time, std::uint32_t length) {
    Held& held = heldAt(time, time, time);
    held.counts.add(length);
    held.first = std::min(held.first, time);
    held.last = std::max(held.last, time);
}

void Timeline::add(std::int64_t time, const Counts& added, std::int64_t first, std::int64_t last) {
    Held& held = heldAt(time, first, last);
    held.counts += added;
    held.first = std::min(held.first, first);
    held.last = std::max(held.last, last);
}

std::int64_t Timeline::rows() const {
    std::int64_t rows = 0;
    const Held* before = nullptr;
    std::int64_t beforeNumber = 0;
    for (const auto& [number, held] : counts) {
        const std::int64_t empty = before == nullptr ? 0 : number - beforeNumber - 1;
        rows += 1 + (empty > 0 && held.first - before->last > Activity::idleGap ? 1 : empty);
        before = &held;
        beforeNumber = number;
    }
    return rows;
}

void Timeline::widen() {
    while (rows() > maxBuckets && level + 1 < widths.size()) {
        const std::int64_t factor = widths[level + 1] / widths[level];
        std::map<std::int64_t, Held> wider;
        for (const auto& [number, held] : counts) {
            const auto [found, added] = wider.try_emplace(number / factor, held);
            if (!added) {
                found->second.counts += held.counts;
                found->second.first = std::min(found->second.first, held.first);
                found->second.last = std::max(found->second.last, held.last);
            }
        }
        counts.swap(wider);
        ++level;
        lastNumber /= factor;
    }
    lastCounts = &counts[lastNumber];
}

std::vector<Timeline::Bucket> Timeline::buckets() {
    std::vector<Bucket> all;
    if (counts.empty()) {
        return all;
    }
    if (rows() > maxBuckets) {
        widen();
    }
    all.reserve(static_cast<std::size_t>(rows()));
    const Held* before = nullptr;
    std::int64_t next = counts.begin()->first;
    for (const auto& [number, held] : counts) {
        if (number > next && held.first - before->last > Activity::idleGap) {
            all.push_back({next * interval(), {}, held.first - before->last});
        } else {
            for (; next < number; ++next) {
                all.push_back({next * interval(), {}});
            }
        }
        all.push_back({number * interval(), held.counts});
        before = &held;
        next = number + 1;
    }
    return all;
}

}  // namespace tidewrack::report
