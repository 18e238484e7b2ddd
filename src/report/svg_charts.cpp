// Drawing the bar and line charts.
#include "report/svg_charts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <utility>

#include "report/cell_text.h"
#include "report/escaped_text.h"
#include "report/people_view.h"
#include "report/time_of_day.h"

namespace tidewrack::report {

namespace {

constexpr double plotWidth = 1000, plotHeight = 200;  // the viewBox of a line chart's plot
constexpr std::size_t maxTicks = 7;
// A collapsed gap's label is written under its band when it is this much of the axis or more
// from the one labelled before it, so that no two run into each other.
constexpr double gapLabelSpacing = 0.3;

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

namespace {

// The steps of the time axis's ticks, in seconds: round for people, and each tick on a whole
// multiple of its step from midnight of day 0, so on whole minutes, hours and days as people
// see times (time_axis.h).
constexpr std::int64_t tickSteps[] = {
    1,        2,        5,        10,        15,        30,       60,      120,
    300,      600,      900,      1800,      3600,      7200,     10800,   21600,
    43200,    86400,    172800,   432000,    864000,    1728000,  4320000, 8640000,
    17280000, 43200000, 86400000, 172800000, 432000000, 864000000};

// The rows of a chart over time as places on its axis: row i at place i, a step apart, the
// intervals of a stretch of traffic in runs between the rows of collapsed idle gaps.
class TimePlaces {
  public:
    TimePlaces(const std::vector<std::int64_t>& starts, const std::vector<bool>& idle)
        : starts(starts) {
        for (std::size_t i = 1; i < starts.size(); ++i) {
            if (!idle[i] && !idle[i - 1]) {
                width = width == 0 ? starts[i] - starts[i - 1]
                                   : std::min(width, starts[i] - starts[i - 1]);
            }
        }
        width = width > 0 ? width : microsecondsPerSecond;
        for (std::size_t i = 0; i < starts.size(); ++i) {
            if (idle[i]) {
                continue;
            }
            if (runs.empty() || idle[i - 1]) {
                runs.push_back({i, i});
            }
            runs.back().second = i;
        }
    }

    std::int64_t interval() const { return width; }
    // The runs of interval rows: their first and last rows.
    const std::vector<std::pair<std::size_t, std::size_t>>& stretches() const { return runs; }
    std::int64_t start(std::size_t row) const { return starts[row]; }
    // The place of a time of the axis within a run, in rows; none outside every run.
    std::optional<double> place(std::int64_t time) const {
        for (const auto& [first, last] : runs) {
            if (time >= starts[first] && time < starts[last] + width) {
                const double at =
                    static_cast<double>(first) +
                    static_cast<double>(time - starts[first]) / static_cast<double>(width);
                return std::min(at, static_cast<double>(last));
            }
        }
        return std::nullopt;
    }

  private:
    const std::vector<std::int64_t>& starts;
    std::int64_t width = 0;
    std::vector<std::pair<std::size_t, std::size_t>> runs;
};

// The ticks of the time axis: on whole multiples of the smallest step no finer than the
// intervals that leaves at most maxTicks of them within the runs; when even the widest step
// leaves more, as many of its ticks spread evenly. With the step, which says how much of a
// tick's time its label needs.
std::pair<std::vector<std::int64_t>, std::int64_t> timeTicks(const TimePlaces& places) {
    const auto ticksOf = [&](std::int64_t step) {
        std::vector<std::int64_t> ticks;
        for (const auto& [first, last] : places.stretches()) {
            const std::int64_t from = places.start(first), to = places.start(last);
            for (std::int64_t t = (from + step - 1) / step * step; t <= to; t += step) {
                ticks.push_back(t);
                if (ticks.size() > maxTicks) {
                    return ticks;
                }
            }
        }
        return ticks;
    };
    std::vector<std::int64_t> found;
    std::int64_t step = 0;
    for (const std::int64_t seconds : tickSteps) {
        const std::int64_t s = seconds * microsecondsPerSecond;
        if (s < places.interval() && seconds != tickSteps[std::size(tickSteps) - 1]) {
            continue;
        }
        std::vector<std::int64_t> ticks = ticksOf(s);
        if (ticks.empty()) {
            break;  // a step so wide that no tick falls in the runs: keep the last
        }
        found = std::move(ticks);
        step = s;
        if (found.size() <= maxTicks) {
            break;
        }
    }
    if (found.size() > maxTicks) {
        std::vector<std::int64_t> spread;
        for (std::size_t k = 0; k < maxTicks; ++k) {
            spread.push_back(found[k * (found.size() - 1) / (maxTicks - 1)]);
        }
        found = std::move(spread);
    }
    return {found, step};
}

// A tick's label: its time to the second, to the minute on a step of minutes, its date alone
// on a step of days (when the traffic spans days).
std::string tickLabel(const TimeAxis& axis, std::int64_t time, std::int64_t step) {
    std::string label = axis.intervalText(time);
    if (step % microsecondsPerDay == 0 && axis.spansDays) {
        label.erase(label.rfind(' '));
    } else if (step % (60 * microsecondsPerSecond) == 0) {
        label.erase(label.size() - 3);
    }
    return label;
}

}  // namespace

void lineCharts(const Section& section, const TimeAxis& axis,
                const std::vector<std::int64_t>& marks, TextSink& out) {
    const int label = section.at(section.chart.label), first = section.at(section.chart.first),
              second = section.at(section.chart.second), gap = section.at(section.chart.gap);
    std::vector<std::int64_t> starts, idleFor;
    std::vector<bool> idle;
    std::vector<std::vector<std::uint64_t>> series(second < 0 ? 1 : 2);
    section.eachRow([&](const Row& row) {
        starts.push_back(row[label].number);
        idle.push_back(gap >= 0 && !row[gap].null);
        idleFor.push_back(gap >= 0 && !row[gap].null ? row[gap].number : 0);
        series[0].push_back(static_cast<std::uint64_t>(row[first].number));
        if (second >= 0) {
            series[1].push_back(static_cast<std::uint64_t>(row[second].number));
        }
    });
    const TimePlaces places(starts, idle);
    const std::size_t last = starts.empty() ? 0 : starts.size() - 1;
    const auto x = [&](double place) { return last == 0 ? 0.0 : plotWidth * place / last; };
    // Named, not bound: clang 14 cannot capture a structured binding in a lambda.
    const std::pair<std::vector<std::int64_t>, std::int64_t> tickList = timeTicks(places);
    const std::vector<std::int64_t>& ticks = tickList.first;
    const std::int64_t tickStep = tickList.second;
    std::vector<double> markPlaces;
    for (const std::int64_t mark : marks) {
        if (const std::optional<double> at = places.place(mark)) {
            markPlaces.push_back(*at);
        }
    }
    std::size_t gaps = 0;
    for (const bool g : idle) {
        gaps += g;
    }
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
        const std::string title = capitalized(column.title);
        std::string html = figure("lines", title + " over time") + "<figcaption>" + htmlText(title);
        if (!markPlaces.empty()) {
            html += "<span class=\"key start\"></span>start of a database";
        }
        html += "</figcaption>\n<div class=\"axis y\">";
        std::string grid;
        for (std::uint64_t level = 0; level <= top; level += step) {
            const std::string text =
                column.kind == Kind::Bytes ? byteSize(level) : groupDigits(level);
            html += "<span style=\"bottom:" + percent(static_cast<double>(level) / top) + "\">" +
                    htmlText(text) + "</span>";
            grid += "<line class=\"grid\" x1=\"0\" x2=\"1000\" y1=\"" + number(y(level)) +
                    "\" y2=\"" + number(y(level)) + "\"/>";
        }
        html += "</div>\n<svg viewBox=\"0 0 1000 200\" preserveAspectRatio=\"none\" "
                "aria-hidden=\"true\">" +
                grid;
        // Each stretch of traffic is a line of its own; one interval is a level line across
        // the plot, or across its step when there are others.
        for (const auto& [from, to] : places.stretches()) {
            std::string points;
            for (std::size_t i = from; i <= to; ++i) {
                points += number(x(static_cast<double>(i))) + ',' + number(y(values[i])) + ' ';
            }
            const double end =
                from == to ? (last == 0 ? plotWidth : std::min(plotWidth, x(from + 0.5))) : x(to);
            const double begin =
                from == to && last > 0 ? x(from - (from > 0 ? 0.5 : 0.0)) : x(from);
            if (from == to) {
                points = number(begin) + ',' + number(y(values[from])) + ' ' + number(end) + ',' +
                         number(y(values[from])) + ' ';
            }
            html += "<polygon class=\"area\" points=\"" + number(begin) + ",200 " + points +
                    number(end) + ",200\"/><polyline class=\"line\" points=\"" + points + "\"/>";
        }
        for (std::size_t i = 0; i < idle.size(); ++i) {
            if (idle[i]) {
                html += "<rect class=\"idle\" x=\"" + number(x(i - 0.5)) + "\" width=\"" +
                        number(x(1)) + "\" height=\"200\"/>";
            }
        }
        if (!markPlaces.empty()) {
            html += "<path class=\"start\" d=\"";
            for (const double at : markPlaces) {
                html.append("M").append(number(x(at))).append(",200V184");
            }
            html += "\"/>";
        }
        html += std::string("</svg>\n<div class=\"axis x") + (gaps > 0 ? " gaps" : "") + "\">";
        // A tick near an end is aligned with it, so that its label stays within the plot. A
        // narrow screen keeps every tick but the text of only the first, the last and the one
        // nearest the middle, when it is within a tenth of the axis of it: a label as wide as a
        // date then stays clear of the others. A label's day or date goes on a line of its own.
        const auto at = [&](std::size_t k) {
            return last == 0 ? 0.0 : *places.place(ticks[k]) / last;
        };
        std::size_t middle = 0;
        for (std::size_t k = 1; k + 1 < ticks.size(); ++k) {
            if (std::abs(at(k) - 0.5) <= 0.1 &&
                (middle == 0 || std::abs(at(k) - 0.5) < std::abs(at(middle) - 0.5))) {
                middle = k;
            }
        }
        for (std::size_t k = 0; k < ticks.size(); ++k) {
            const bool narrow = k == 0 || k + 1 == ticks.size() || k == middle;
            const char* where = at(k) < 0.05 ? "first" : at(k) > 0.95 ? "last" : "middle";
            std::string text = htmlText(tickLabel(axis, ticks[k], tickStep));
            if (const std::size_t time = text.rfind(' '); time != std::string::npos) {
                text.replace(time, 1, "<br>");
            }
            html += std::string("<span class=\"") + where + (narrow ? "" : " wide") +
                    "\" style=\"left:" + percent(at(k)) + "\">" + text + "</span>";
        }
        // The collapsed gaps, each under its band: as many as stay clear of each other (the
        // timeline's note names the longest in any case).
        double labelled = -1;
        for (std::size_t i = 0; i < idle.size(); ++i) {
            const double at = last == 0 ? 0.0 : static_cast<double>(i) / last;
            if (idle[i] && (labelled < 0 || at - labelled >= gapLabelSpacing)) {
                html += "<span class=\"idle\" style=\"left:" + percent(at) + "\">no traffic for " +
                        htmlText(peopleText(Cell{.number = idleFor[i]}, Kind::Duration, axis)) +
                        "</span>";
                labelled = at;
            }
        }
        out << html << "</div>\n</figure>\n";
    }
}

std::vector<std::int64_t> chartMarks(const Report& report, const Section& section) {
    std::vector<std::int64_t> marks;
    const Section* source =
        section.chart.marks.empty() ? nullptr : report.find(section.chart.marks);
    if (source == nullptr || source->total < 2) {
        return marks;
    }
    const int first = source->at("first");
    source->eachRow([&](const Row& row) {
        if (first >= 0 && !row[first].null) {
            marks.push_back(row[first].number);
        }
    });
    return marks;
}

}  // namespace tidewrack::report
