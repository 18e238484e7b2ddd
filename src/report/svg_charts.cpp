// Drawing the bar and line charts.
#include "report/svg_charts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "report/cell_text.h"
#include "report/escaped_text.h"
#include "report/people_view.h"

namespace tidewrack::report {

namespace {

constexpr double plotWidth = 1000, plotHeight = 200;  // the viewBox of a line chart's plot
constexpr std::size_t maxTicks = 7;

std::string number(double n) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", n);
    return text;
}

std::string percent(double share) {
    return number(100 * share) + "%";
}

std::string figure(const char* type, std::string_view title) {
    const std::string label = htmlText(title);
    return std::string("<figure class=\"chart ") + type + "\" role=\"img\" aria-label=\"" + label +
           "\">\n";
}

// A round step for an axis up to `highest` in about four steps: 1, 2 or 5 times a power of ten.
std::uint64_t roundStep(std::uint64_t highest) {
    const double raw = std::max(1.0, static_cast<double>(highest) / 4);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (factor * power >= raw) {
            return static_cast<std::uint64_t>(factor * power);
        }
    }
    return static_cast<std::uint64_t>(10 * power);
}

}  // namespace

void barChart(const Section& section, const TimeAxis& axis, TextSink& out) {
    const Chart& chart = section.chart;
    const auto& columns = section.columns;
    BarScale scale(section);
    const int label = section.at(chart.label), first = scale.firstColumn(),
              second = scale.secondColumn(), text = section.at(chart.text);
    section.eachRow([&](const Row& row) { scale.take(row); });
    out << figure("bars", chart.title);
    if (second >= 0) {
        out << "<figcaption class=\"legend\"><span class=\"key\"></span>" +
                   htmlText(columns[first].title) + " <span class=\"key second\"></span>" +
                   htmlText(columns[second].title) + "</figcaption>\n";
    }
    section.eachRow([&](const Row& row) {
        const BarScale::Values bar = scale.values(row);
        const double one = BarScale::length(bar.first, bar.whole, 1.0);
        const double two = std::min(BarScale::length(bar.second, bar.whole, 1.0), 1.0 - one);
        const Cell total{.number = bar.first + bar.second};
        const std::string after = text >= 0 ? peopleText(row[text], columns[text].kind, axis)
                                            : peopleText(total, columns[first].kind, axis);
        // A bar of any length shows at least a sliver.
        std::string html = "<span class=\"label\">" +
                           htmlText(peopleText(row[label], columns[label].kind, axis)) +
                           "</span><svg viewBox=\"0 0 1000 10\" preserveAspectRatio=\"none\" "
                           "aria-hidden=\"true\"><rect class=\"bar\" width=\"" +
                           number(std::max(one * 1000, one > 0 ? 2.0 : 0.0)) + "\" height=\"10\"/>";
        if (two > 0) {
            html += "<rect class=\"bar second\" x=\"" + number(one * 1000) + "\" width=\"" +
                    number(std::max(two * 1000, 2.0)) + "\" height=\"10\"/>";
        }
        out << html << "</svg><span class=\"value\">" << htmlText(after) << "</span>\n";
    });
    out << "</figure>\n";
}

void lineCharts(const Section& section, const TimeAxis& axis, TextSink& out) {
    const int label = section.at(section.chart.label), first = section.at(section.chart.first),
              second = section.at(section.chart.second);
    std::vector<std::string> labels;
    std::vector<std::vector<std::uint64_t>> series(second < 0 ? 1 : 2);
    section.eachRow([&](const Row& row) {
        labels.push_back(peopleText(row[label], section.columns[label].kind, axis));
        series[0].push_back(static_cast<std::uint64_t>(row[first].number));
        if (second >= 0) {
            series[1].push_back(static_cast<std::uint64_t>(row[second].number));
        }
    });
    for (std::size_t s = 0; s < series.size(); ++s) {
        const Column& column = section.columns[s == 0 ? first : second];
        const std::vector<std::uint64_t>& values = series[s];
        const std::uint64_t highest =
            values.empty() ? 0 : *std::max_element(values.begin(), values.end());
        const std::uint64_t step = roundStep(highest);
        const std::uint64_t top = std::max<std::uint64_t>(step, (highest + step - 1) / step * step);
        const auto y = [&](std::uint64_t v) {
            return plotHeight - plotHeight * static_cast<double>(v) / static_cast<double>(top);
        };
        const std::size_t last = values.empty() ? 0 : values.size() - 1;
        const auto x = [&](std::size_t i) {
            return last == 0 ? (i == 0 ? 0.0 : plotWidth) : plotWidth * i / last;
        };
        const std::string title = capitalized(column.title);
        std::string html = figure("lines", title + " over time") + "<figcaption>" +
                           htmlText(title) + "</figcaption>\n<div class=\"axis y\">";
        std::string grid;
        for (std::uint64_t level = 0; level <= top; level += step) {
            const std::string text =
                column.kind == Kind::Bytes ? byteSize(level) : groupDigits(level);
            html += "<span style=\"bottom:" + percent(static_cast<double>(level) / top) + "\">" +
                    htmlText(text) + "</span>";
            grid += "<line class=\"grid\" x1=\"0\" x2=\"1000\" y1=\"" + number(y(level)) +
                    "\" y2=\"" + number(y(level)) + "\"/>";
        }
        // One value is a level line across the plot.
        std::string points;
        for (std::size_t i = 0; i < values.size(); ++i) {
            points += number(x(i)) + ',' + number(y(values[i])) + ' ';
        }
        if (values.size() == 1) {
            points += number(plotWidth) + ',' + number(y(values[0])) + ' ';
        }
        html += "</div>\n<svg viewBox=\"0 0 1000 200\" preserveAspectRatio=\"none\" "
                "aria-hidden=\"true\">" +
                grid;
        if (!values.empty()) {
            html += "<polygon class=\"area\" points=\"0,200 " + points + "1000,200\"/>" +
                    "<polyline class=\"line\" points=\"" + points + "\"/>";
        }
        html += "</svg>\n<div class=\"axis x\">";
        // Up to seven labels spread evenly, each with its tick; a narrow screen keeps every
        // tick but the text of only the first, the last and the one nearest the middle, when it
        // is within a tenth of the axis of it: a label as wide as a date then stays clear of the
        // others. A label's day or date goes on a line of its own.
        const std::size_t ticks = std::min(labels.size(), maxTicks);
        const auto place = [&](std::size_t k) {
            const std::size_t i = ticks < 2 ? 0 : (k * last + (ticks - 1) / 2) / (ticks - 1);
            return std::pair(i, last == 0 ? 0.0 : static_cast<double>(i) / last);
        };
        std::size_t middle = 0;
        for (std::size_t k = 1; k + 1 < ticks; ++k) {
            if (std::abs(place(k).second - 0.5) <= 0.1 &&
                (middle == 0 ||
                 std::abs(place(k).second - 0.5) < std::abs(place(middle).second - 0.5))) {
                middle = k;
            }
        }
        for (std::size_t k = 0; k < ticks; ++k) {
            const auto [i, at] = place(k);
            const bool narrow = k == 0 || k + 1 == ticks || k == middle;
            const char* where = k == 0 ? "first" : k + 1 == ticks ? "last" : "middle";
            std::string label = htmlText(labels[i]);
            if (const std::size_t time = label.rfind(' '); time != std::string::npos) {
                label.replace(time, 1, "<br>");
            }
            html += std::string("<span class=\"") + where + (narrow ? "" : " wide") +
                    "\" style=\"left:" + percent(at) + "\">" + label + "</span>";
        }
        out << html << "</div>\n</figure>\n";
    }
}

}  // namespace tidewrack::report
