// Writing the sections as HTML.
#include "report/html_report.h"

#include <algorithm>
#include <string>
#include <vector>

#include "report/cell_text.h"
#include "report/display_width.h"
#include "report/escaped_text.h"
#include "report/people_view.h"
#include "report/svg_charts.h"
#include "version.h"

namespace tidewrack::report {

namespace {

constexpr const char* style = R"(
:root { color-scheme: light dark; --paper: #fff; --ink: #1d2733; --muted: #5b6775;
        --rule: #d5dbe1; --stripe: #f5f7f9; --bar: #2f6f9f; --bar2: #e08a2c; }
@media (prefers-color-scheme: dark) {
  :root { --paper: #14191f; --ink: #e2e7ec; --muted: #9ba7b3; --rule: #36404b; --stripe: #1b2229;
          --bar: #64a7da; --bar2: #f0a04b; }
}
body { font: 14px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, "DejaVu Sans", sans-serif;
       color: var(--ink); background: var(--paper); margin: 0 auto; padding: 16px 14px;
       max-width: 1200px; }
@media (min-width: 700px) { body { padding: 24px 32px; } }
h1 { font-size: 24px; margin: 0 0 4px; }
h2 { font-size: 18px; margin: 32px 0 4px; padding-bottom: 4px; border-bottom: 2px solid var(--rule); }
header p, p.note { color: var(--muted); margin: 4px 0 10px; }
.figures { display: flex; flex-wrap: wrap; gap: 10px; margin: 12px 0; padding: 0; }
.figures div { border: 1px solid var(--rule); border-radius: 6px; padding: 6px 12px; }
.figures dt { color: var(--muted); font-size: 12px; text-transform: uppercase; letter-spacing: .04em; }
.figures dd { margin: 0; font-size: 18px; font-weight: 600; font-variant-numeric: tabular-nums; }
.table { overflow-x: auto; margin: 6px 0 12px; }
.table td::before { display: none; }
table { border-collapse: collapse; font-size: 13px; font-variant-numeric: tabular-nums; }
th, td { padding: 3px 8px; border-bottom: 1px solid var(--rule); text-align: left; white-space: nowrap; }
th { font-size: 12px; color: var(--muted); font-weight: 600; }
td.n, th.n { text-align: right; }
tbody tr:nth-child(even) { background: var(--stripe); }
figure.chart { margin: 10px 0 16px; font-size: 13px; font-variant-numeric: tabular-nums; }
figure.chart svg { display: block; width: 100%; }
figure.chart figcaption { color: var(--muted); }
.bars { display: grid; grid-template-columns: minmax(0, max-content) minmax(48px, 1fr) max-content;
        gap: 4px 8px; align-items: center; }
.bars figcaption { grid-column: 1 / -1; }
.bars .label { overflow: hidden; text-overflow: ellipsis; white-space: nowrap; text-align: right; }
.bars svg { height: 14px; }
.bars .value { white-space: nowrap; }
.legend .key { display: inline-block; width: 12px; height: 12px; margin: 0 4px 0 8px;
               vertical-align: -1px; background: var(--bar); }
.legend .key.second { background: var(--bar2); }
.lines { display: grid; grid-template-columns: max-content 1fr; gap: 0 8px; }
.lines figcaption { grid-column: 1 / -1; margin-bottom: 8px; }
.lines svg { height: 180px; }
.axis { position: relative; }
.axis span { position: absolute; white-space: nowrap; }
.axis.y { min-width: 4em; }
.axis.y span { right: 0; transform: translateY(50%); }
.axis.x { grid-column: 2; height: 3em; line-height: 1.2; }
.axis.x span { top: 4px; transform: translateX(-50%); }
.axis.x span.first { transform: none; }
.axis.x span.last { transform: translateX(-100%); }
.axis.x span::before { content: ""; position: absolute; top: -4px; left: 50%; height: 4px;
                       border-left: 1px solid; }
.axis.x span.first::before { left: 0; }
.axis.x span.last::before { left: auto; right: 0; }
.axis.x.gaps { height: 4.4em; }
.axis.x span.idle { top: 3em; transform: translateX(-50%); color: var(--muted); font-size: 12px; }
.axis.x span.idle::before { display: none; }
.lines figcaption .key.start { display: inline-block; width: 2px; height: 12px; margin: 0 4px 0 12px;
                               vertical-align: -1px; background: var(--bar2); }
@media (max-width: 600px) { .axis.x span.wide { visibility: hidden; }
                            .axis.x span.wide::before { visibility: visible; }
                            .axis.x span.idle { display: none; } }
svg .bar { fill: var(--bar); }
svg .second { fill: var(--bar2); }
svg .grid { stroke: var(--rule); stroke-width: 1; vector-effect: non-scaling-stroke; }
svg .line { fill: none; stroke: var(--bar); stroke-width: 2; vector-effect: non-scaling-stroke; }
svg .area { fill: var(--bar); fill-opacity: .15; }
svg .idle { fill: var(--muted); fill-opacity: .18; }
svg .start { stroke: var(--bar2); stroke-width: 2; vector-effect: non-scaling-stroke; }
footer { margin-top: 40px; color: var(--muted); font-size: 12px; }
@media print {
  body { padding: 0; max-width: none; font-size: 9pt; }
  h1 { font-size: 16pt; }
  h2 { font-size: 12pt; margin-top: 18pt; }
  h2, p.note, figcaption { break-after: avoid; }
  figure.chart, tr, .figures { break-inside: avoid; }
  figure.chart, table, th, .figures dt, footer { font-size: 8pt; }
  .figures dd { font-size: 11pt; }
  .table { overflow: visible; }
  th, td { padding: 1px 4px; }
  th, td.w { white-space: normal; }
  * { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
}
)";

// A table wider than the screen, or than the paper, shows each row as a block of its cells,
// each after its column's title (labelRules): on a screen, one cell a line; in print, the cells
// side by side, as many as a line holds. Which tables do is said by their classes (layoutClass).
constexpr const char* screenBlocks = R"( :is(table, tbody, tr, td) { display: block; }
  %1 thead { display: none; }
  %1 tr { padding: 4px 0; }
  %1 td { display: flex; gap: 8px; border: 0; padding: 1px 0; text-align: left;
          white-space: normal; overflow-wrap: anywhere; }
  %1 td::before { display: block; flex: 0 0 8.5em; color: var(--muted); font-size: 12px;
                  font-weight: 600; }
  %1 tr { border-bottom: 1px solid var(--rule); })";
constexpr const char* printBlocks = R"(@media print {
  .p :is(table, tbody) { display: block; }
  .p thead { display: none; }
  .p tr { display: flex; flex-wrap: wrap; gap: 0 14px; padding: 2px 0;
          border-bottom: 1px solid var(--rule); }
  .p td { display: block; border: 0; padding: 0; text-align: left; }
  .p td::before { display: inline; margin-right: 4px; color: var(--muted); }
}
)";

// The widths of screen below which a table turns into blocks, in pixels; a table that fits the
// narrowest never does, and one wider than the widest does at that width and below.
constexpr int blockWidths[] = {320, 360, 400, 440, 480, 520, 560, 600};
static_assert(std::is_sorted(std::begin(blockWidths), std::end(blockWidths)) &&
                  std::end(blockWidths)[-1] == 600,
              "ascending, up to the widest screen on which a table too wide turns into blocks");

// What a table's width is taken to be, reckoned from the characters of its columns: the
// widest of each column's title and cells, in print their longest word where they may wrap.
// The widths of a character and of a cell's padding are those of wide sans-serif faces (DejaVu
// Sans), so that a table estimated to fit does.
constexpr double screenCharacter = 7.9, screenPadding = 16, screenMargins = 28;
constexpr double printCharacter = 6.9, printPadding = 8, paperWidth = 680;

// The longest run of characters without a blank.
std::size_t longestWord(std::string_view text) {
    std::size_t longest = 0;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find(' ', start), text.size());
        longest = std::max(longest, displayWidth(text.substr(start, end - start)));
        start = end + 1;
    }
    return longest;
}

// Where a text may wrap in print: titles, and the names and texts of cells of class "w".
bool wrapsInPrint(Kind kind) {
    return kind == Kind::Text || kind == Kind::Protocol;
}

// The classes of a table's box that say when it turns into blocks: "n480" below 480 pixels
// of screen, say, and "p" in print.
std::string layoutClass(const Section& section, const std::vector<std::size_t>& columns,
                        const TimeAxis& axis) {
    std::vector<std::size_t> screen, print;
    for (const std::size_t i : columns) {
        screen.push_back(displayWidth(section.columns[i].title));
        print.push_back(longestWord(section.columns[i].title));
    }
    section.eachRow([&](const Row& row) {
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const std::string text = shownText(section, row, columns[c], axis);
            screen[c] = std::max(screen[c], displayWidth(text));
            print[c] = std::max(print[c], wrapsInPrint(section.columns[columns[c]].kind)
                                              ? longestWord(text)
                                              : displayWidth(text));
        }
    });
    double onScreen = screenMargins, onPaper = 0;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        onScreen += static_cast<double>(screen[c]) * screenCharacter + screenPadding;
        onPaper += static_cast<double>(print[c]) * printCharacter + printPadding;
    }
    std::string classes;
    if (onScreen > blockWidths[0]) {
        const auto below = std::find_if(std::begin(blockWidths), std::end(blockWidths),
                                        [&](int width) { return onScreen <= width; });
        classes = " n" + std::to_string(below == std::end(blockWidths) ? *std::rbegin(blockWidths)
                                                                       : *below);
    }
    return classes + (onPaper > paperWidth ? " p" : "");
}

// A CSS string of a column's title.
std::string cssString(std::string_view text) {
    std::string css = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\' || c == '<' || static_cast<unsigned char>(c) < 0x20) {
            static constexpr char hex[] = "0123456789abcdef";
            css += std::string("\\") + hex[(c >> 4) & 0xF] + hex[c & 0xF] + ' ';
        } else {
            css += c;
        }
    }
    return css + '"';
}

// The stylesheet's rules that depend on the report: each title that a cell shows before it
// when its table turns into blocks, and when tables do.
std::string labelRules(const std::vector<const Section*>& sections) {
    std::string css;
    for (const Section* s : sections) {
        if (!showsTable(*s) || s->shown == 0) {
            continue;
        }
        const std::vector<std::size_t> columns = visibleColumns(*s);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            css.append("#")
                .append(s->id)
                .append(" td:nth-child(")
                .append(std::to_string(c + 1))
                .append(")::before { content: ")
                .append(cssString(s->columns[columns[c]].title))
                .append("; }\n");
        }
    }
    for (const int below : blockWidths) {
        const std::string name = ".n" + std::to_string(below);
        std::string rules = screenBlocks;
        for (std::size_t at; (at = rules.find("%1")) != std::string::npos;) {
            rules.replace(at, 2, name);
        }
        css += "@media (max-width: " + std::to_string(below) + "px) {\n  " + name + rules + "\n}\n";
    }
    return css + printBlocks;
}

// Numbers are aligned right; names may wrap in print, where nothing else does.
std::string cellTag(const char* tag, Kind kind, std::string_view text) {
    const char* type = isNumber(kind)                                 ? " class=\"n\">"
                       : kind == Kind::Text || kind == Kind::Protocol ? " class=\"w\">"
                                                                      : ">";
    return std::string("<") + tag + type + htmlText(text) + "</" + tag + ">";
}

void table(const Section& section, const TimeAxis& axis, TextSink& out) {
    const std::vector<std::size_t> columns = visibleColumns(section);
    std::string html =
        "<div class=\"table" + layoutClass(section, columns, axis) + "\"><table><thead><tr>";
    for (const std::size_t i : columns) {
        html += cellTag("th", section.columns[i].kind, section.columns[i].title);
    }
    out << html << "</tr></thead><tbody>\n";
    section.eachRow([&](const Row& row) {
        html = "<tr>";
        for (const std::size_t i : columns) {
            html += cellTag("td", section.columns[i].kind, shownText(section, row, i, axis));
        }
        out << html << "</tr>\n";
    });
    out << "</tbody></table></div>\n";
}

// The summary: the page's title, the traffic's span, and each figure it shows.
std::string header(const Section& section, const TimeAxis& axis) {
    std::string html = "<header id=\"" + std::string(section.id) + "\">\n<h1>" +
                       htmlText(section.title) + "</h1>\n<p>" + htmlText(section.note) +
                       "</p>\n<dl class=\"figures\">";
    section.eachRow([&](const Row& row) {
        for (const std::size_t i : shownFacts(section, row)) {
            const Column& column = section.columns[i];
            html += "<div><dt>" + htmlText(column.title) + "</dt><dd id=\"" +
                    std::string(column.key) + "\">" + htmlText(shownText(section, row, i, axis)) +
                    "</dd></div>";
        }
    });
    return html + "</dl>\n</header>\n";
}

void section(const Section& s, const TimeAxis& axis, const std::vector<std::int64_t>& marks,
             TextSink& out) {
    out << "<section id=\"" << s.id << "\">\n<h2>" << htmlText(s.title) << "</h2>\n";
    if (s.shown == 0) {
        // A list without rows still says what it left out.
        out << "<p class=\"note\">None" << (s.note.empty() ? "" : ": " + htmlText(s.note))
            << ".</p>\n</section>\n";
        return;
    }
    if (!s.note.empty()) {
        out << "<p class=\"note\">" << htmlText(s.note) << "</p>\n";
    }
    if (showsBars(s)) {
        barChart(s, axis, out);
    } else if (s.chart.type == Chart::Type::Lines) {
        lineCharts(s, axis, marks, out);
    }
    if (showsTable(s)) {
        table(s, axis, out);
    }
    out << "</section>\n";
}

}  // namespace

void htmlReport(const Report& report, TextSink& out) {
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
           "style-src 'unsafe-inline'\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<meta name=\"color-scheme\" content=\"light dark\">\n"
           "<meta name=\"generator\" content=\"tidewrack-report " TIDEWRACK_VERSION "\">\n"
           "<title>Traffic report: "
        << htmlText(report.subject) << "</title>\n<style>" << style;
    const ShownSections shown = shownSections(report);
    out << labelRules(shown.body) << "</style>\n</head>\n<body>\n";
    for (const Section* s : shown.heading) {
        out << header(*s, report.axis);
    }
    for (const Section* s : shown.body) {
        section(*s, report.axis, chartMarks(report, *s), out);
    }
    out << "<footer>Made by tidewrack-report " TIDEWRACK_VERSION
           " from databases written by tidewrack.</footer>\n</body>\n</html>\n";
}

}  // namespace tidewrack::report
