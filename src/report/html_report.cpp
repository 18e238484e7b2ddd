// Writing the sections as HTML.
#include "report/html_report.h"

#include "report/cell_text.h"
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
  body { padding: 0; max-width: none; font-size: 11px; }
  h2, p.note, figcaption { break-after: avoid; }
  figure.chart, tr, .figures { break-inside: avoid; }
  .table { overflow: visible; }
  th, td { padding: 2px 5px; }
  th, td.w { white-space: normal; }
  * { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
}
)";

// Numbers are aligned right; names may wrap in print, where nothing else does.
std::string cellTag(const char* tag, Kind kind, std::string_view text) {
    const char* type = isNumber(kind)                                 ? " class=\"n\">"
                       : kind == Kind::Text || kind == Kind::Protocol ? " class=\"w\">"
                                                                      : ">";
    return std::string("<") + tag + type + htmlText(text) + "</" + tag + ">";
}

void table(const Section& section, const TimeAxis& axis, TextSink& out) {
    const std::vector<std::size_t> columns = visibleColumns(section);
    std::string html = "<div class=\"table\"><table><thead><tr>";
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
        << htmlText(report.subject) << "</title>\n<style>" << style
        << "</style>\n</head>\n<body>\n";
    const ShownSections shown = shownSections(report);
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
