// The declaration of a section, as section_declarations.cpp writes each one and
// report_sections.cpp builds the report from them: its id, title, columns, the SQL that reads its
// rows from the tally's store, how they are ordered, ranked and cut, what is said after them, its
// chart, and when it is absent. A special section (the databases, the summary, the timeline) says
// besides what its declaration cannot in a function of its own (special_sections.h).
#pragma once

#include <array>
#include <span>
#include <string_view>
#include <vector>

#include "report/report_model.h"
#include "report/report_sections.h"
#include "report/tally_store.h"

namespace tidewrack::report {

struct Declaration {
    std::string_view id{};
    std::string_view title{};
    std::span<const Column> columns{};
    // SQL reading the rows, in no particular order: the values of the columns in their order,
    // each named for its column (checkValueNames, cell_text.h), a plain table column by its own
    // name and any other value with AS.
    std::string_view rows{};
    // The count of those rows, where a query cheaper than counting them is known to give it.
    std::string_view count{};
    bool derived = false;       // rows of a GROUP BY, worked out once into a table of the store
    std::string_view before{};  // SQL run once before the rows: tables of the store they read
    std::string_view order{};   // SQL ORDER BY for the rows (by the columns' keys when derived)
    bool whole = false;         // every row, whatever --top says
    std::string_view by{};      // the order as people are told it: "bytes"
    // The keys of the columns of that order, split by commas ("bytes_sent,bytes_received"),
    // which a table too narrow never leaves out.
    std::string_view byColumns{};
    // The orders of a list ranked as --by says, how people are told them and their columns, by
    // Ranking; none for a list of one order.
    // (No default values here: g++ 12 cannot read them within an array in a constant
    // expression.)
    struct Ranked {
        std::string_view order;
        std::string_view by;
        std::string_view byColumns;
        // SQL counting the rows the order ranks after the others for want of a value, said as
        // `asideText` is (below) when there are any.
        std::string_view aside;
        std::string_view asideText;
    };
    std::array<Ranked, 4> ranked{};
    std::string_view remark{};    // said after it, when `remarkIf` (SQL) holds of a row kept
    std::string_view remarkIf{};  // (always, when empty)
    // SQL counting what the rows leave out, said after them as `asideText` when there is any:
    // "{n} TCP port{s} that only refused left out", where {n} stands for the count, {s} for
    // the plural's "s" and {t} for --min-duration's time: "3 TCP ports that only refused".
    std::string_view aside{};
    std::string_view asideText{};
    Chart chart{};
    std::span<const Column> facts{};  // facts of the whole section, and the member of its rows
    std::string_view rowsKey{};       // in JSON (report_model.h), when it has any
    bool record = false;
    bool extendedOnly = false;  // recorded by databases made with tidewrack -x only
    bool baselineOnly = false;  // of a report with a baseline only
    bool recordsOnly = false;   // of a report of a database read from its connection record
    // Makes what the rows and the order cannot say: a record's row, facts, a note of its own.
    void (*complete)(Section&, TallyStore&, Report&, const ReportSettings&) = nullptr;
};

// Every section, in the report's order.
std::span<const Declaration> sectionDeclarations();

// The keys of a list split by commas, as Declaration::byColumns has them.
constexpr std::vector<std::string_view> splitKeys(std::string_view keys) {
    std::vector<std::string_view> split;
    while (!keys.empty()) {
        const std::size_t comma = std::min(keys.find(','), keys.size());
        split.push_back(keys.substr(0, comma));
        keys.remove_prefix(std::min(comma + 1, keys.size()));
    }
    return split;
}

}  // namespace tidewrack::report
