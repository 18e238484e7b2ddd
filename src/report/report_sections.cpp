// The report made of the sections' declarations: each section's rows counted, ordered and cut,
// its note, and what a special section says besides.
#include "report/report_sections.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

#include "report/address_names.h"
#include "report/cell_text.h"
#include "report/section_declarations.h"

namespace tidewrack::report {

namespace {

// The most rows of a section that are held in memory rather than read from the store each time.
constexpr std::uint64_t rowsHeldAtMost = 1000;

// Microseconds as seconds, as briefly as they are exact: "1 s", "0.25 s".
std::string secondsText(std::int64_t microseconds) {
    std::string text = std::to_string(microseconds / 1000000);
    if (const std::int64_t part = microseconds % 1000000; part != 0) {
        std::string fraction = std::to_string(1000000 + part).substr(1);
        fraction.erase(fraction.find_last_not_of('0') + 1);
        text += "." + fraction;
    }
    return text + " s";
}

// Says `text` after the note, {n} in it standing for `count`, {s} for the plural's "s" and {t}
// for `time`.
void addAside(Section& section, std::int64_t count, std::string_view text, std::int64_t time) {
    if (count <= 0) {
        return;
    }
    std::string said;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::string_view mark = text.substr(i, 3);
        if (mark == "{n}") {
            said += groupDigits(static_cast<std::uint64_t>(count));
        } else if (mark == "{s}") {
            said += count == 1 ? "" : "s";
        } else if (mark == "{t}") {
            said += secondsText(time);
        } else {
            said += text[i];
            continue;
        }
        i += 2;
    }
    section.note += (section.note.empty() ? "" : "; ") + said;
}

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
    section.names = settings.names != nullptr && settings.names->any() ? settings.names : nullptr;
    // How many databases were read from their connection record, asked only where it matters.
    const auto records = [&store] {
        return store.firstInteger("SELECT count(*) FROM database WHERE records");
    };
    section.absent =
        (d.extendedOnly &&
         (!settings.filter.empty() ||
          store.firstInteger("SELECT count(*) FROM database WHERE dated") == 0)) ||
        (d.baselineOnly && store.firstInteger("SELECT count(*) FROM baseline_database") == 0) ||
        (d.recordsOnly && records() == 0);
    const Declaration::Ranked& ranked = d.ranked[static_cast<int>(settings.ranking)];
    const std::string_view order = ranked.order.empty() ? d.order : ranked.order;
    const std::string_view by = ranked.order.empty() ? d.by : ranked.by;
    if (!d.rows.empty() && !section.absent) {
        std::string rows(d.rows);
        const std::string table = derivedTable(d.id);
        // Made already by a tally that worked its rows out in memory.
        const bool made = d.derived && store.firstInteger("SELECT count(*) FROM sqlite_master "
                                                          "WHERE type = 'table' AND name = '" +
                                                          table + "'") > 0;
        if (!d.before.empty() && !made) {
            store.run(std::string(d.before).c_str());
        }
        if (d.derived) {
            if (!made) {
                store.run(("CREATE TABLE " + table + " AS " + rows).c_str());
            }
            rows = "SELECT * FROM " + table;
        }
        section.total = static_cast<std::uint64_t>(
            store.firstInteger(d.count.empty() || d.derived ? "SELECT count(*) FROM (" + rows + ")"
                                                            : std::string(d.count)));
        const bool cut = !d.whole && report.top != 0 && report.top < section.total;
        section.shown = cut ? report.top : section.total;
        const std::string kept = rows + " ORDER BY " + std::string(order) +
                                 (cut ? " LIMIT " + std::to_string(report.top) : "");
        section.query = std::make_shared<Statement>(store.prepare(kept));
        checkValueNames(*section.query, section.columns, "section " + std::string(d.id));
        // The rows of a list that shows few are read from the store once, here, rather than
        // sorted again for every pass an output makes over them.
        if (section.shown <= rowsHeldAtMost) {
            std::vector<Row> held;
            section.eachRow([&](const Row& row) { held.push_back(row); });
            section.rows = std::move(held);
            section.query.reset();
        }
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
        for (const auto& [sql, text] :
             {std::pair(d.aside, d.asideText), std::pair(ranked.aside, ranked.asideText)}) {
            if (!sql.empty()) {
                const std::string count = made && sql == d.aside
                                              ? "SELECT n FROM " + derivedAside(d.id)
                                              : std::string(sql);
                addAside(section, store.firstInteger(count), text, settings.rateDuration);
            }
        }
    }
    for (const std::string_view key :
         splitKeys(ranked.order.empty() ? d.byColumns : ranked.byColumns)) {
        section.rankedBy.push_back(section.place(key));
    }
    for (const ColumnChoice& choice : settings.columns) {
        if (choice.section == d.id) {
            section.chosen.clear();
            for (const std::string& key : choice.keys) {
                section.chosen.push_back(section.place(key));
            }
        }
    }
    if (d.complete != nullptr) {
        d.complete(section, store, report, settings);
    }
    return section;
}

// The cells of the columns of names (Column::nameOf): one look-up of the address a row names,
// the first of its columns `nameOf` that is not null; null cells for none.
void fillNames(const Section& section, Row& row) {
    const LearntName* found = nullptr;
    std::string_view looked;  // the columns of the name last looked up
    for (std::size_t i = 0; i < section.columns.size(); ++i) {
        const Column& column = section.columns[i];
        if (column.nameOf.empty()) {
            continue;
        }
        if (column.nameOf != looked && section.names != nullptr) {
            looked = column.nameOf;
            found = nullptr;
            for (const std::string_view key : splitKeys(column.nameOf)) {
                const int at = section.at(key);
                if (at >= 0 && !row[static_cast<std::size_t>(at)].null) {
                    found = section.names->find(row[static_cast<std::size_t>(at)].text);
                    break;
                }
            }
        }
        row[i] = Cell{};
        row[i].null = found == nullptr;
        if (found != nullptr) {
            row[i].text = column.nameSource ? found->source : found->name;
        }
    }
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
            if (columns[i].nameOf.empty()) {
                row[i] = readCell(*query, at, columns[i].kind);
            }
        }
        fillNames(*this, row);
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

std::vector<std::size_t> Section::written() const {
    if (!chosen.empty()) {
        return chosen;
    }
    std::vector<std::size_t> all(columns.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = i;
    }
    return all;
}

const Section* Report::find(std::string_view id) const {
    const auto found = std::find_if(sections.begin(), sections.end(),
                                    [&](const Section& s) { return s.id == id; });
    return found == sections.end() ? nullptr : &*found;
}

std::string derivedTable(std::string_view id) {
    return "section_" + std::string(id);
}

std::string derivedAside(std::string_view id) {
    return derivedTable(id) + "_aside";
}

std::vector<std::string_view> sectionIds() {
    std::vector<std::string_view> ids;
    for (const Declaration& d : sectionDeclarations()) {
        ids.push_back(d.id);
    }
    return ids;
}

std::span<const Column> sectionColumns(std::string_view id) {
    for (const Declaration& d : sectionDeclarations()) {
        if (d.id == id) {
            return d.columns;
        }
    }
    return {};
}

Report buildReport(TallyStore& store, const ReportSettings& settings, const TimeAxis& axis) {
    // Conversations in other states than those asked for are none of the report's.
    if (!settings.states.empty()) {
        std::string kept;
        for (const std::string_view code : settings.states) {
            kept.append(kept.empty() ? "'" : ", '").append(code).append("'");
        }
        store.run(("DELETE FROM conversation WHERE state IS NULL OR state NOT IN (" + kept + ")")
                      .c_str());
    }
    store.run(("DELETE FROM setting; INSERT INTO setting VALUES (" +
               std::to_string(settings.rateDuration) + ")")
                  .c_str());
    Report report;
    report.top = settings.top;
    report.axis = axis;
    for (const Declaration& d : sectionDeclarations()) {
        report.sections.push_back(makeSection(d, store, report, settings));
    }
    return report;
}

}  // namespace tidewrack::report
