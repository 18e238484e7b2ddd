// The rules of what people see, shared by the terminal and the page.
#include "report/people_view.h"

#include <algorithm>

#include "report/cell_text.h"

namespace tidewrack::report {

ShownSections shownSections(const Report& report) {
    ShownSections shown;
    for (const Section& section : report.sections) {
        if (section.record) {
            shown.heading.push_back(&section);
        } else if (!section.absent) {
            shown.body.push_back(&section);
        }
    }
    return shown;
}

std::vector<std::size_t> visibleColumns(const Section& section) {
    if (!section.chosen.empty()) {
        return section.chosen;
    }
    std::vector<std::size_t> visible;
    for (std::size_t i = 0; i < section.columns.size(); ++i) {
        // Columns of names go unseen where no address has a name (classic databases).
        if (section.columns[i].fit != Fit::Hidden &&
            (section.columns[i].nameOf.empty() || section.names != nullptr)) {
            visible.push_back(i);
        }
    }
    return visible;
}

bool mayLeaveOut(const Section& section, std::size_t column) {
    const auto among = [&](const std::vector<std::size_t>& columns) {
        return std::find(columns.begin(), columns.end(), column) != columns.end();
    };
    return section.chosen.empty() && mayGo(section.columns[column]) && !among(section.rankedBy);
}

std::string shownText(const Section& section, const Row& row, std::size_t column,
                      const TimeAxis& axis) {
    const Column& shown = section.columns[column];
    // Blank only where the column it repeats is shown too.
    const std::vector<std::size_t>& chosen = section.chosen;
    const bool withIt = column > 0 && (chosen.empty() || std::find(chosen.begin(), chosen.end(),
                                                                   column - 1) != chosen.end());
    if (shown.blankRepeat && withIt && row[column].text == row[column - 1].text) {
        return "";
    }
    return peopleText(row[column], shown.kind, axis);
}

std::vector<std::size_t> shownFacts(const Section& section, const Row& row) {
    std::vector<std::size_t> facts;
    for (const std::size_t i : visibleColumns(section)) {
        const Column& column = section.columns[i];
        const bool nothing = column.kind == Kind::Names ? row[i].items.empty() : row[i].null;
        if (column.fit != Fit::Drop || !nothing) {
            facts.push_back(i);
        }
    }
    return facts;
}

BarScale::BarScale(const Section& section)
    : first(section.at(section.chart.first)), second(section.at(section.chart.second)),
      share(first >= 0 && section.columns[first].kind == Kind::Share) {}

void BarScale::take(const Row& row) {
    const Values bar = values(row);
    largest = std::max(largest, bar.first + bar.second);
}

BarScale::Values BarScale::values(const Row& row) const {
    if (share) {
        return {row[first].number, 0, row[first].whole};
    }
    return {row[first].number, second < 0 ? 0 : row[second].number, largest};
}

double BarScale::length(std::int64_t value, std::int64_t whole, double units) {
    if (value <= 0 || whole <= 0) {
        return 0;
    }
    return std::min(units, static_cast<double>(value) * units / static_cast<double>(whole));
}

}  // namespace tidewrack::report
