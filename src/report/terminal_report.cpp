// Laying the sections out as text.
#include "report/terminal_report.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "report/cell_text.h"
#include "report/display_width.h"
#include "report/escaped_text.h"
#include "report/people_view.h"

namespace tidewrack::report {

namespace {

constexpr std::size_t indent = 2, gap = 2, barWidth = 24, minimumCut = 8;

void writeWrapped(const std::string& text, std::size_t width, TextSink& out) {
    for (const std::string& line : wrapToWidth(terminalText(text), width, indent)) {
        out << line << "\n";
    }
}

// A section's rows as people see them (people_view.h): the visible columns, and a bar when it
// shows bars.
class Table {
  public:
    Table(const Section& section, const TimeAxis& axis)
        : section(section), axis(axis), columns(visibleColumns(section)), bars(showsBars(section)),
          scale(section) {}

    void write(std::size_t width, TextSink& out) {
        const std::size_t n = columns.size() + bars;
        std::vector<std::size_t> widths(n, 0);
        for (std::size_t i = 0; i < columns.size(); ++i) {
            widths[i] = displayWidth(section.columns[columns[i]].title);
        }
        section.eachRow([&](const Row& row) {
            const std::vector<std::string> cells = texts(row);
            for (std::size_t i = 0; i < columns.size(); ++i) {
                widths[i] = std::max(widths[i], displayWidth(cells[i]));
            }
            if (bars) {
                scale.take(row);
            }
        });
        if (bars) {
            widths.back() = barWidth;
        }
        shown.assign(n, true);
        const std::size_t whole = total(widths);
        if (fit(widths, width)) {
            rows(widths, out);
        } else {
            blocks(width, out);
        }
        leftOut(whole, width, out);
    }

  private:
    Fit fitOf(std::size_t i) const {
        return i < columns.size() ? section.columns[columns[i]].fit : Fit::Drop;
    }

    // The order in which columns go from a table too wide: the bar first, then each column
    // that may be left out by its step, the rightmost first within one.
    std::vector<std::size_t> goingOrder() const {
        std::vector<std::size_t> order;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (mayLeaveOut(section, columns[i])) {
                order.push_back(i);
            }
        }
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            const std::uint8_t x = section.columns[columns[a]].goes,
                               y = section.columns[columns[b]].goes;
            return x != y ? x < y : a > b;
        });
        if (bars) {
            order.insert(order.begin(), columns.size());
        }
        return order;
    }

    std::size_t total(const std::vector<std::size_t>& widths) const {
        std::size_t sum = indent, count = 0;
        for (std::size_t i = 0; i < widths.size(); ++i) {
            if (shown[i]) {
                sum += widths[i];
                ++count;
            }
        }
        return sum + (count > 1 ? (count - 1) * gap : 0);
    }

    // Leaves columns out, then cuts them, until the table fits; false when it cannot, with every
    // column that may go left out. A wider table thus never shows fewer columns than a narrower
    // one: it leaves out the first few of the same order, or none, and shown as blocks the rows
    // keep only the columns that never go.
    bool fit(std::vector<std::size_t>& widths, std::size_t width) {
        for (const std::size_t i : goingOrder()) {
            if (total(widths) <= width) {
                break;
            }
            shown[i] = false;
            if (i < columns.size()) {
                const int pair = pairedWith(section.columns, columns[i]);
                for (std::size_t j = 0; j < columns.size() && pair >= 0; ++j) {
                    shown[j] = shown[j] && columns[j] != static_cast<std::size_t>(pair);
                }
            }
        }
        while (total(widths) > width) {
            std::size_t widest = widths.size();
            for (std::size_t i = 0; i < widths.size(); ++i) {
                const Fit f = fitOf(i);
                if (shown[i] && (f == Fit::Cut || f == Fit::CutFront) && widths[i] > minimumCut &&
                    (widest == widths.size() || widths[i] > widths[widest])) {
                    widest = i;
                }
            }
            if (widest == widths.size()) {
                return false;
            }
            --widths[widest];
        }
        return true;
    }

    std::vector<std::string> texts(const Row& row) const {
        std::vector<std::string> cells;
        for (const std::size_t c : columns) {
            cells.push_back(terminalText(shownText(section, row, c, axis)));
        }
        return cells;
    }

    // The first segment in '#', the second after it in '=', each rounded to whole characters.
    std::string bar(const Row& row) const {
        const BarScale::Values bar = scale.values(row);
        const auto characters = [&](std::int64_t value) {
            return static_cast<std::size_t>(
                std::round(BarScale::length(value, bar.whole, static_cast<double>(barWidth))));
        };
        const std::size_t one = characters(bar.first), both = characters(bar.first + bar.second);
        return std::string(one, '#') + std::string(both - std::min(both, one), '=');
    }

    void rows(const std::vector<std::size_t>& widths, TextSink& out) const {
        std::vector<std::string> titles;
        for (const std::size_t c : columns) {
            titles.push_back(terminalText(section.columns[c].title));
        }
        if (bars) {
            titles.emplace_back();
        }
        const auto line = [&](const std::vector<std::string>& cells) {
            std::string text(indent, ' ');
            for (std::size_t i = 0; i < cells.size(); ++i) {
                if (!shown[i]) {
                    continue;
                }
                const Fit f = fitOf(i);
                const std::string cell = fitToWidth(cells[i], widths[i], f == Fit::CutFront);
                const std::string padding(widths[i] - displayWidth(cell), ' ');
                const bool right = i < columns.size() && isNumber(section.columns[columns[i]].kind);
                text += (right ? padding + cell : cell + padding) + std::string(gap, ' ');
            }
            text.erase(text.find_last_not_of(' ') + 1);
            out << text << "\n";
        };
        line(titles);
        section.eachRow([&](const Row& row) {
            std::vector<std::string> cells = texts(row);
            if (bars) {
                cells.push_back(bar(row));
            }
            line(cells);
        });
    }

    // Each row as lines of "title  value", for a table that no width of columns can fit: the
    // columns that never go.
    void blocks(std::size_t width, TextSink& out) const {
        std::size_t titleWidth = 0;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (shown[i]) {
                titleWidth = std::max(titleWidth, displayWidth(section.columns[columns[i]].title));
            }
        }
        bool first = true;
        section.eachRow([&](const Row& row) {
            const std::vector<std::string> cells = texts(row);
            out << (first ? "" : "\n");
            first = false;
            for (std::size_t i = 0; i < columns.size(); ++i) {
                if (!shown[i]) {
                    continue;
                }
                const std::string title = terminalText(section.columns[columns[i]].title);
                const bool front = fitOf(i) == Fit::CutFront;
                std::string line = std::string(indent, ' ') + title;
                if (indent + titleWidth + gap + displayWidth(cells[i]) <= width) {
                    line += std::string(titleWidth - displayWidth(title) + gap, ' ') + cells[i];
                } else {  // the value on a line of its own, further in
                    line = fitToWidth(line, width) + "\n" + std::string(2 * indent, ' ') +
                           fitToWidth(cells[i], width > 2 * indent ? width - 2 * indent : 1, front);
                }
                out << fitToWidth(line, line.find('\n') == std::string::npos ? width : line.size())
                    << "\n";
            }
        });
    }

    // The note under a table that left columns out: which, and how to see them (`whole` is the
    // width of the table with all its columns).
    void leftOut(std::size_t whole, std::size_t width, TextSink& out) const {
        std::string titles;
        std::size_t count = 0;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (!shown[i]) {
                titles.append(titles.empty() ? "" : ", ").append(section.columns[columns[i]].title);
                ++count;
            }
        }
        if (count == 0) {
            return;
        }
        const std::string note = "left out for width: " + titles +
                                 "; COLUMNS=" + std::to_string(whole) + " or --columns " +
                                 std::string(section.id) + "=KEY,... shows " +
                                 (count == 1 ? "it" : "them") + " (--columns list names the keys)";
        for (const std::string& line :
             wrapToWidth(terminalText(note), width > indent ? width - indent : 1, indent)) {
            out << std::string(indent, ' ') << line << "\n";
        }
    }

    const Section& section;
    const TimeAxis& axis;
    std::vector<std::size_t> columns;  // the columns people see
    bool bars = false;
    BarScale scale;
    std::vector<bool> shown;
};

// The record's title and note, which gives its figures, then the facts it shows in words (its
// lists and texts) on lines of their own.
void writeRecord(const Section& section, const TimeAxis& axis, std::size_t width, TextSink& out) {
    writeWrapped(section.title + ": " + section.note, width, out);
    section.eachRow([&](const Row& row) {
        for (const std::size_t i : shownFacts(section, row)) {
            const Column& column = section.columns[i];
            if (column.kind == Kind::Names || column.kind == Kind::Text) {
                writeWrapped(capitalized(column.title) + ": " + shownText(section, row, i, axis),
                             width, out);
            }
        }
    });
}

}  // namespace

void terminalReport(const Report& report, std::size_t width, TextSink& out) {
    const ShownSections shown = shownSections(report);
    for (const Section* section : shown.heading) {
        writeRecord(*section, report.axis, width, out);
    }
    for (const Section* section : shown.body) {
        out << "\n";
        // A list without rows still says what it left out.
        writeWrapped(section->note.empty() ? section->title
                                           : section->title + " (" + section->note + ")",
                     width, out);
        if (section->shown == 0) {
            out << "  none\n";
            continue;
        }
        if (showsTable(*section)) {
            Table(*section, report.axis).write(width, out);
        }
    }
}

}  // namespace tidewrack::report
