// The timeline's facts: the width of its intervals, the idle gaps it collapsed and its peaks
// over a second.
#include <string>

#include "report/cell_text.h"
#include "report/special_sections.h"

namespace tidewrack::report {

namespace {

// The longest idle gaps that the timeline collapsed are named in its note, this many at most.
constexpr int gapsNamed = 3;

}  // namespace

void completeTimeline(Section& section, TallyStore& store, Report& report, const ReportSettings&) {
    const std::int64_t interval = store.firstInteger("SELECT interval FROM timeline");
    // The peaks are those of whole seconds of the axis: the bytes of the second with the most
    // of them (the earliest of those), and the frames of the second with the most frames.
    Statement peaks = store.prepare(
        "WITH peak (at) AS (SELECT min(second) * 1000000 FROM second "
        "WHERE bytes = (SELECT max(bytes) FROM second)) "
        "SELECT (SELECT interval FROM timeline) / 1000000 AS interval, "
        "(SELECT count(*) FROM interval WHERE idle IS NOT NULL) AS idle_gaps, 1 AS peak_over, "
        "max(bytes) * 8 AS peak_bits_per_second, 1000000 AS peak_bits_per_second_whole, "
        "max(frames) AS peak_frames_per_second, 1000000 AS peak_frames_per_second_whole, "
        "(SELECT at FROM peak) AS peak_at, (SELECT at FROM peak) AS peak_at_utc FROM second");
    checkValueNames(peaks, section.factColumns, "the facts of section " + std::string(section.id));
    peaks.step();
    int at = 0;
    for (const Column& column : section.factColumns) {
        section.facts.push_back(readCell(peaks, at, column.kind));
    }
    const auto intervals = static_cast<std::uint64_t>(
        store.firstInteger("SELECT count(*) FROM interval WHERE idle IS NULL"));
    const auto busy = static_cast<std::uint64_t>(
        store.firstInteger("SELECT count(*) FROM interval WHERE frames > 0"));
    section.note = counted(intervals, "interval", "intervals") + " of " + intervalWidth(interval);
    if (intervals > 1) {
        section.note +=
            busy == intervals ? ", all with traffic" : ", " + groupDigits(busy) + " with traffic";
    }
    const auto text = [&](std::string_view key) {
        const std::size_t place = section.factPlace(key);
        return peopleText(section.facts[place], section.factColumns[place].kind, report.axis);
    };
    const Cell& gaps = section.facts[section.factPlace("idle_gaps")];
    if (gaps.number > 0) {
        // "1 idle gap collapsed: no traffic for 4 years 188 d"; "5 idle gaps collapsed: no
        // traffic for 2 d 03 h, 1 d 22 h, 1 d 01 h and less".
        section.note += "; " +
                        counted(static_cast<std::uint64_t>(gaps.number), "idle gap", "idle gaps") +
                        " collapsed: no traffic for ";
        Statement longest = store.prepare("SELECT idle FROM interval WHERE idle IS NOT NULL "
                                          "ORDER BY idle DESC, start LIMIT " +
                                          std::to_string(gapsNamed));
        std::string named;
        while (longest.step()) {
            named += (named.empty() ? "" : ", ") +
                     peopleText(Cell{.number = longest.integer(0)}, Kind::Duration, report.axis);
        }
        section.note += named + (gaps.number > gapsNamed ? " and less" : "");
    }
    if (busy > 0) {
        section.note += "; peak over 1 s: " + text("peak_bits_per_second") + " at " +
                        text("peak_at") + ", " + text("peak_frames_per_second") + " frames/s";
    }
}

}  // namespace tidewrack::report
