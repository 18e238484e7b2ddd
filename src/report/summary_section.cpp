// The summary: the report's one record, added up from every database.
#include <string>

#include "report/cell_text.h"
#include "report/special_sections.h"
#include "report/time_of_day.h"

namespace tidewrack::report {

namespace {

// "a.db", "a.db, b.db, c.db and 2 more": the paths of the databases of `from` (a table, and
// what picks its rows), in their order.
std::string pathList(TallyStore& store, const std::string& from) {
    constexpr int named = 3;
    Statement rows = store.prepare("SELECT path, count(*) OVER () AS count FROM " + from +
                                   " ORDER BY place LIMIT " + std::to_string(named));
    const int path = rows.column("path"), all = rows.column("count");
    std::int64_t count = 0;
    std::string paths;
    while (rows.step()) {
        paths += (paths.empty() ? "" : ", ") + std::string(rows.text(path));
        count = rows.integer(all);
    }
    return count > named
               ? paths + " and " + groupDigits(static_cast<std::uint64_t>(count - named)) + " more"
               : paths;
}

}  // namespace

void completeSummary(Section& section, TallyStore& store, Report& report,
                     const ReportSettings& settings) {
    // What no sum of the databases says (the protocols seen, the time zone, the classic
    // databases, the filter, the baseline and the ranking) is null here, and made below.
    Statement totals = store.prepare(
        "WITH activity_total (active, gaps) AS ("
        "SELECT CAST(total(last - start) AS INTEGER), max(count(*) - 1, 0) FROM activity) "
        "SELECT sum(frames) AS frames, sum(bytes) AS bytes, min(first) AS first, "
        "max(last) AS last, max(last) - min(first) AS duration, "
        "iif(min(first) IS NULL, NULL, (SELECT active FROM activity_total)) AS active, "
        "(SELECT gaps FROM activity_total) AS idle_gaps, "
        "iif(min(first) IS NULL, 0, max(last) / 86400000000 - min(first) / 86400000000 + 1) "
        "AS days, NULL AS protocols, (SELECT count(*) FROM endpoint) AS endpoints, "
        "(SELECT count(*) FROM conversation) AS conversations, min(first) AS first_utc, "
        "max(last) AS last_utc, NULL AS time_zone, NULL AS classic, "
        "sum(bytes) * 8 AS bits_per_second, "
        "(SELECT active FROM activity_total) AS bits_per_second_whole, "
        "sum(frames) AS frames_per_second, "
        "(SELECT active FROM activity_total) AS frames_per_second_whole, NULL AS filter, "
        "NULL AS baseline, (SELECT CAST(before AS INTEGER) FROM comparison) AS baseline_active, "
        "NULL AS compared, NULL AS ranking FROM database");
    checkValueNames(totals, section.columns, "section " + std::string(section.id));
    totals.step();
    Row row;
    int at = 0;
    for (const Column& column : section.columns) {
        row.push_back(readCell(totals, at, column.kind));
    }
    const auto cell = [&](std::string_view key) -> Cell& { return row[section.place(key)]; };
    const auto setText = [&](std::string_view key, std::string text, bool null) {
        cell(key).text = std::move(text);
        cell(key).null = null;
    };
    Statement names =
        store.prepare("SELECT DISTINCT name FROM protocol WHERE frames > 0 ORDER BY name");
    while (names.step()) {
        cell("protocols").items.emplace_back(names.text(0));
    }
    // The classic databases: each by name, all of them by their number.
    const auto all =
        static_cast<std::uint64_t>(store.firstInteger("SELECT count(*) FROM database"));
    const auto classics = static_cast<std::uint64_t>(
        store.firstInteger("SELECT count(*) FROM database WHERE NOT dated"));
    setText("classic",
            classics > 1 && classics == all ? "all " + groupDigits(all) + " databases"
                                            : pathList(store, "database WHERE NOT dated"),
            classics == 0);
    setText("time_zone", report.axis.zone, !report.axis.dated);
    std::string filter = settings.filter;
    for (std::size_t i = 0; i < settings.states.size(); ++i) {
        filter.append(i > 0            ? ","
                      : filter.empty() ? "--state "
                                       : " --state ")
            .append(settings.states[i]);
    }
    setText("filter", filter, filter.empty());
    const std::string baselines = pathList(store, "baseline_database");
    setText("baseline", baselines, baselines.empty());
    setText("compared",
            store.firstInteger("SELECT rates FROM comparison") != 0 ? "rates" : "totals",
            baselines.empty());
    setText("ranking", std::string(rankingNames[static_cast<int>(settings.ranking)]), false);
    const Cell &first = cell("first"), &last = cell("last");
    report.axis.spansDays =
        !last.null && last.number / microsecondsPerDay > first.number / microsecondsPerDay;
    report.subject = all == 1 ? pathList(store, "database") : counted(all, "database", "databases");
    const auto text = [&](std::string_view key) {
        const std::size_t place = section.place(key);
        return peopleText(row[place], section.columns[place].kind, report.axis);
    };
    section.note = counted(all, "database", "databases") + ", " + text("frames") + " frames, " +
                   text("bytes") + " bytes";
    if (!first.null) {
        section.note += ", " + text("first") + " to " + text("last") +
                        (report.axis.dated ? " " + report.axis.zone : "") + " (" + text("duration");
        // Without an idle gap the traffic is active for its whole duration.
        const std::uint64_t gaps = static_cast<std::uint64_t>(cell("idle_gaps").number);
        if (gaps > 0) {
            section.note += "; active " + text("active") + ", in " +
                            counted(gaps + 1, "stretch", "stretches") + " of traffic";
        }
        if (cell("active").number > 0) {
            section.note += (gaps > 0 ? ": " : ", ") + text("bits_per_second") + ", " +
                            text("frames_per_second") + " frames/s";
        }
        section.note += ")";
    }
    section.rows.push_back(std::move(row));
    section.total = section.shown = 1;
}

}  // namespace tidewrack::report
