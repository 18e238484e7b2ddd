// The summary: the report's one record, added up from every database.
#include <string>

#include "report/cell_text.h"
#include "report/special_sections.h"
#include "report/time_of_day.h"

namespace tidewrack::report {

namespace {

// "a.db", "a.db, b.db, c.db and 2 more": the paths of `sql` (path, the count of all), in order.
std::string pathList(TallyStore& store, const std::string& sql) {
    constexpr int named = 3;
    Statement rows = store.prepare(sql + " LIMIT " + std::to_string(named));
    std::int64_t count = 0;
    std::string paths;
    while (rows.step()) {
        paths += (paths.empty() ? "" : ", ") + std::string(rows.text(0));
        count = rows.integer(1);
    }
    return count > named
               ? paths + " and " + groupDigits(static_cast<std::uint64_t>(count - named)) + " more"
               : paths;
}

}  // namespace

void completeSummary(Section& section, TallyStore& store, Report& report,
                     const ReportSettings& settings) {
    Statement totals = store.prepare(
        "SELECT sum(frames), sum(bytes), min(first), max(last), max(last) - min(first), "
        "iif(min(first) IS NULL, 0, max(last) / 86400000000 - min(first) / 86400000000 + 1), "
        "NULL, "
        "(SELECT count(*) FROM endpoint), (SELECT count(*) FROM conversation), min(first), "
        "max(last), NULL, NULL, sum(bytes) * 8, max(last) - min(first), sum(frames), "
        "max(last) - min(first), NULL, NULL, NULL, count(*), min(path) FROM database");
    totals.step();
    Row row;
    int at = 0;
    for (const Column& column : section.columns) {
        row.push_back(readCell(totals, at, column.kind));
    }
    Statement names =
        store.prepare("SELECT DISTINCT name FROM protocol WHERE frames > 0 ORDER BY name");
    while (names.step()) {
        row[6].items.emplace_back(names.text(0));
    }
    // The classic databases: each by name, all of them by their number.
    const auto all =
        static_cast<std::uint64_t>(store.firstInteger("SELECT count(*) FROM database"));
    const auto classics = static_cast<std::uint64_t>(
        store.firstInteger("SELECT count(*) FROM database WHERE NOT dated"));
    row[12].null = classics == 0;
    row[12].text = classics > 1 && classics == all
                       ? "all " + groupDigits(all) + " databases"
                       : pathList(store, "SELECT path, count(*) OVER () FROM database "
                                         "WHERE NOT dated ORDER BY place");
    row[11].text = report.axis.zone;
    row[11].null = !report.axis.dated;
    row[15].text = settings.filter;
    row[15].null = settings.filter.empty();
    row[16].text = pathList(store, "SELECT path, count(*) OVER () FROM baseline_database "
                                   "ORDER BY place");
    row[16].null = row[16].text.empty();
    row[17].text = rankingNames[static_cast<int>(settings.ranking)];
    row[17].null = false;
    const auto databases = static_cast<std::uint64_t>(totals.integer(20));
    report.axis.spansDays =
        !row[3].null && row[3].number / microsecondsPerDay > row[2].number / microsecondsPerDay;
    report.subject =
        databases == 1 ? std::string(totals.text(21)) : counted(databases, "database", "databases");
    const auto text = [&](int column) {
        return peopleText(row[column], section.columns[column].kind, report.axis);
    };
    section.note = counted(databases, "database", "databases") + ", " + text(0) + " frames, " +
                   text(1) + " bytes";
    if (!row[2].null) {
        section.note += ", " + text(2) + " to " + text(3) +
                        (report.axis.dated ? " " + report.axis.zone : "") + " (" + text(4);
        if (row[4].number > 0) {
            section.note += ", " + text(13) + ", " + text(14) + " frames/s";
        }
        section.note += ")";
    }
    section.rows.push_back(std::move(row));
    section.total = section.shown = 1;
}

}  // namespace tidewrack::report
