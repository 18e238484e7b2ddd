// The timeline's facts: the width of its intervals and its peaks.
#include <string>

#include "report/cell_text.h"
#include "report/special_sections.h"

namespace tidewrack::report {

void completeTimeline(Section& section, TallyStore& store, Report& report, const ReportSettings&) {
    const std::int64_t interval = store.firstInteger("SELECT interval FROM timeline");
    Statement peaks = store.prepare(
        "SELECT (SELECT interval FROM timeline) / 1000000 AS interval, "
        "max(bytes) * 8 AS peak_bits_per_second, "
        "(SELECT interval FROM timeline) AS peak_bits_per_second_whole, "
        "max(frames) AS peak_frames_per_second, "
        "(SELECT interval FROM timeline) AS peak_frames_per_second_whole FROM interval");
    checkValueNames(peaks, section.factColumns, "the facts of section " + std::string(section.id));
    peaks.step();
    int at = 0;
    for (const Column& column : section.factColumns) {
        section.facts.push_back(readCell(peaks, at, column.kind));
    }
    const auto busy = static_cast<std::uint64_t>(
        store.firstInteger("SELECT count(*) FROM interval WHERE frames > 0"));
    section.note =
        counted(section.total, "interval", "intervals") + " of " + intervalWidth(interval);
    if (section.total > 1) {
        section.note += busy == section.total ? ", all with traffic"
                                              : ", " + groupDigits(busy) + " with traffic";
    }
    const auto text = [&](std::string_view key) {
        const std::size_t place = section.factPlace(key);
        return peopleText(section.facts[place], section.factColumns[place].kind, report.axis);
    };
    if (busy > 0) {
        section.note += "; peak " + text("peak_bits_per_second") + ", " +
                        text("peak_frames_per_second") + " frames/s";
    }
}

}  // namespace tidewrack::report
