// Laying the sections out as text.
#include "report/terminal_report.h"

#include <algorithm>
#include <cmath>

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
        if (fit(widths, width)) {
            rows(widths, out);
        } else {
            blocks(width, out);
        }
    }

  private:
    Fit fitOf(std::size_t i) const {
        return i < columns.size() ? section.columns[columns[i]].fit : Fit::Drop;
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

    // Drops, then cuts, columns until the table fits; false when it cannot.
    bool fit(std::vector<std::size_t>& widths, std::size_t width) {
        for (std::size_t i = widths.size(); i-- > 0 && total(widths) > width;) {
            if (fitOf(i) == Fit::DropPair) {
                shown[i] = false;
                for (std::size_t j = i; j-- > 0;) {
                    if (fitOf(j) == Fit::Drop &&
                        section.columns[columns[j]].kind == section.columns[columns[i]].kind) {
                        shown[j] = false;
                        break;
                    }
                }
            } else if (fitOf(i) == Fit::Drop) {
                shown[i] = false;
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

    // Each row as lines of "title  value", for a table that no width of columns can fit.
    void blocks(std::size_t width, TextSink& out) const {
        std::size_t titleWidth = 0;
        for (const std::size_t c : columns) {
            titleWidth = std::max(titleWidth, displayWidth(section.columns[c].title));
        }
        bool first = true;
        section.eachRow([&](const Row& row) {
            const std::vector<std::string> cells = texts(row);
            out << (first ? "" : "\n");
            first = false;
            for (std::size_t i = 0; i < columns.size(); ++i) {
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
