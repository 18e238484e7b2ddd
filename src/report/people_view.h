// What people see of the report, the same on the terminal and on the page: the sections in the
// order they are shown, the columns of a section's table, the text of each cell, the facts of a
// record and the length of a bar. The terminal (terminal_report.cpp) and the page
// (html_report.cpp, svg_charts.cpp) lay it out each in its own medium: the terminal fits the
// columns to its width and draws bars of characters, the page draws them in SVG. JSON and CSV,
// for scripts, write every column of every section as it is (those chosen, when --columns chose
// them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "report/report_model.h"

namespace tidewrack::report {

// The sections people see, in order: the records, as the report's heading, then every other
// section that a database recorded (a section absent from all of them is left out).
struct ShownSections {
    std::vector<const Section*> heading;
    std::vector<const Section*> body;
};
ShownSections shownSections(const Report& report);

// Whether people see a section's rows as a table (a chart may stand in for them), and a bar
// beside each row (or a chart of bars).
inline bool showsTable(const Section& section) {
    return !section.chart.replacesTable;
}
inline bool showsBars(const Section& section) {
    return section.chart.type == Chart::Type::Bars;
}

// The columns people see of a section's rows, in order: all but those for scripts only and
// those of names when no address has one, or those chosen with --columns, in the order chosen.
std::vector<std::size_t> visibleColumns(const Section& section);

// Whether a table too wide may leave out the column: one that may go (report_model.h), unless
// the rows are ranked by it or it was chosen.
bool mayLeaveOut(const Section& section, std::size_t column);

// The text people see in the cell of `column`: blank where its column says so and it repeats
// the cell before it. It is not yet escaped for the medium.
std::string shownText(const Section& section, const Row& row, std::size_t column,
                      const TimeAxis& axis);

// The facts people see of a record's row, in order: its visible columns, one that may Drop only
// when it has something to say (a list with items, any other value not null).
std::vector<std::size_t> shownFacts(const Section& section, const Row& row);

// The bars of a section that shows them. A bar of a column of shares is the share of its whole;
// any other bar is its value, or its two segments together, against the largest of the rows.
class BarScale {
  public:
    explicit BarScale(const Section& section);

    // Takes a row into the largest; every row is taken before any bar is measured.
    void take(const Row& row);

    // A row's bar: the values of its segments (the second 0 for a bar of one) and the value of
    // a full bar.
    struct Values {
        std::int64_t first = 0;
        std::int64_t second = 0;
        std::int64_t whole = 0;
    };
    Values values(const Row& row) const;

    // How much of a full bar `units` long the value fills, when the full bar is worth `whole`:
    // nothing when either is zero or less, and never more than the full bar, whatever the
    // counts (a crafted database may state any).
    static double length(std::int64_t value, std::int64_t whole, double units);

    // The columns of the segments: the first, and the second or -1 for none.
    int firstColumn() const { return first; }
    int secondColumn() const { return second; }

  private:
    int first = -1, second = -1;
    bool share = false;
    std::int64_t largest = 0;
};

}  // namespace tidewrack::report
