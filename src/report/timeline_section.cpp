// The timeline's facts: the width of its intervals and its peaks.
#include <string>

#include "report/cell_text.h"
#include "report/special_sections.h"

namespace tidewrack::report {

void completeTimeline(Section& section, TallyStore& store, Report& report, const ReportSettings&) {
    const std::int64_t interval = store.firstInteger("SELECT interval FROM timeline");
    Statement peaks = store.prepare(
        "SELECT (SELECT interval FROM timeline) / 1000000, max(bytes) * 8, "
        "(SELECT interval FROM timeline), max(frames), (SELECT interval FROM timeline) "
        "FROM interval");
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
    if (busy > 0) {
        section.note +=
            "; peak " + peopleText(section.facts[1], section.factColumns[1].kind, report.axis) +
            ", " + peopleText(section.facts[2], section.factColumns[2].kind, report.axis) +
            " frames/s";
    }
}

}  // namespace tidewrack::report
