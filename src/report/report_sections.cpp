// The report made of the sections' declarations: each section's rows counted, ordered and cut,
// its note, and what a special section says besides.
#include "report/report_sections.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "report/cell_text.h"
#include "report/section_declarations.h"

namespace tidewrack::report {

namespace {

Section makeSection(const Declaration& d, TallyStore& store, Report& report,
                    const ReportSettings& settings) {
    Section section;
    section.id = d.id;
    section.title = d.title;
    section.columns = d.columns;
    section.chart = d.chart;
    section.record = d.record;
    section.factColumns = d.facts;
    section.rowsKey = d.rowsKey;
    section.absent =
        (d.extendedOnly &&
         (!settings.filter.empty() ||
          store.firstInteger("SELECT count(*) FROM database WHERE dated") == 0)) ||
        (d.baselineOnly && store.firstInteger("SELECT count(*) FROM baseline_database") == 0);
    const Declaration::Ranked& ranked = d.ranked[static_cast<int>(settings.ranking)];
    const std::string_view order = ranked.order.empty() ? d.order : ranked.order;
    const std::string_view by = ranked.order.empty() ? d.by : ranked.by;
    if (!d.rows.empty() && !section.absent) {
        std::string rows(d.rows);
        if (!d.before.empty()) {
            store.run(std::string(d.before).c_str());
        }
        if (d.derived) {
            const std::string table = "section_" + std::string(d.id);
            store.run(("CREATE TABLE " + table + " AS " + rows).c_str());
            rows = "SELECT * FROM " + table;
        }
        section.total =
            static_cast<std::uint64_t>(store.firstInteger("SELECT count(*) FROM (" + rows + ")"));
        const bool cut = !d.whole && report.top != 0 && report.top < section.total;
        section.shown = cut ? report.top : section.total;
        const std::string kept = rows + " ORDER BY " + std::string(order) +
                                 (cut ? " LIMIT " + std::to_string(report.top) : "");
        section.query = std::make_shared<Statement>(store.prepare(kept));
        checkValueNames(*section.query, section.columns, "section " + std::string(d.id));
        if (!by.empty() && section.shown > 0) {
            section.note =
                (section.shown == section.total
                     ? "all " + groupDigits(section.total)
                     : "top " + groupDigits(section.shown) + " of " + groupDigits(section.total)) +
                ", by " + std::string(by);
            if (!d.remark.empty() &&
                (d.remarkIf.empty() ||
                 store.firstInteger("SELECT EXISTS (SELECT 1 FROM (" + kept + ") WHERE " +
                                    std::string(d.remarkIf) + ")"))) {
                section.note += "; " + std::string(d.remark);
            }
        }
    }
    if (d.complete != nullptr) {
        d.complete(section, store, report, settings);
    }
    return section;
}

}  // namespace

void Section::eachRow(const std::function<void(const Row&)>& visit) const {
    if (!query) {
        for (const Row& row : rows) {
            visit(row);
        }
        return;
    }
    query->reset();
    Row row(columns.size());
    while (query->step()) {
        int at = 0;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            row[i] = readCell(*query, at, columns[i].kind);
        }
        visit(row);
    }
}

namespace {

std::size_t placeOf(const Section& section, std::span<const Column> columns, std::string_view key) {
    const int place = columnAt(columns, key);
    if (place < 0) {
        throw std::logic_error("section " + std::string(section.id) + " has no column " +
                               std::string(key));
    }
    return static_cast<std::size_t>(place);
}

}  // namespace

std::size_t Section::place(std::string_view key) const {
    return placeOf(*this, columns, key);
}

std::size_t Section::factPlace(std::string_view key) const {
    return placeOf(*this, factColumns, key);
}

const Section* Report::find(std::string_view id) const {
    const auto found = std::find_if(sections.begin(), sections.end(),
                                    [&](const Section& s) { return s.id == id; });
    return found == sections.end() ? nullptr : &*found;
}

std::vector<std::string_view> sectionIds() {
    std::vector<std::string_view> ids;
    for (const Declaration& d : sectionDeclarations()) {
        ids.push_back(d.id);
    }
    return ids;
}

Report buildReport(TallyStore& store, const ReportSettings& settings, const TimeAxis& axis) {
    Report report;
    report.top = settings.top;
    report.axis = axis;
    for (const Declaration& d : sectionDeclarations()) {
        report.sections.push_back(makeSection(d, store, report, settings));
    }
    return report;
}

}  // namespace tidewrack::report
