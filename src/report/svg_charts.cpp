// Drawing the bar and line charts.
#include "report/svg_charts.h"

#include <algorithm>
#include <cstdio>

#include "report/escaped_text.h"
#include "report/text_format.h"

namespace tidewrack::report {

namespace {

constexpr int chartWidth = 720;

std::string number(double n) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", n);
    return text;
}

std::string open(const std::string& title, int height) {
    const std::string size = std::to_string(chartWidth) + "\" height=\"" + std::to_string(height);
    return "<svg class=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + size +
           "\" viewBox=\"0 0 " + std::to_string(chartWidth) + ' ' + std::to_string(height) +
           "\" role=\"img\" aria-label=\"" + htmlText(title) + "\"><title>" + htmlText(title) +
           "</title>";
}

std::string text(double x, double y, const std::string& content, const char* anchor = "start") {
    return "<text x=\"" + number(x) + "\" y=\"" + number(y) + "\" text-anchor=\"" + anchor + "\">" +
           htmlText(content) + "</text>";
}

std::string rect(const char* kind, double x, double y, double width, double height) {
    return "<rect class=\"" + std::string(kind) + "\" x=\"" + number(x) + "\" y=\"" + number(y) +
           "\" width=\"" + number(width) + "\" height=\"" + number(height) + "\"/>";
}

}  // namespace

std::string barChart(const std::string& title, const std::vector<Bar>& bars,
                     const std::vector<std::string>& legend) {
    constexpr int row = 24, labelWidth = 170, valueWidth = 130, top = 8;
    const int legendHeight = legend.empty() ? 0 : row;
    const int height = top + legendHeight + row * static_cast<int>(bars.size()) + 4;
    std::uint64_t longest = 1;
    for (const Bar& bar : bars) {
        longest = std::max(longest, bar.first + bar.second);
    }
    const double scale = static_cast<double>(chartWidth - labelWidth - valueWidth) / longest;
    std::string svg = open(title, height);
    for (std::size_t i = 0; i < legend.size() && i < 2; ++i) {
        const double x = labelWidth + 160.0 * i;
        svg += rect(i == 0 ? "bar" : "bar second", x, top + 4, 12, 12) +
               text(x + 18, top + 15, legend[i]);
    }
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const Bar& bar = bars[i];
        const double y = top + legendHeight + row * static_cast<double>(i);
        const double first = bar.first * scale, second = bar.second * scale;
        svg += text(labelWidth - 8, y + 16, bar.label, "end");
        svg += rect("bar", labelWidth, y + 4, std::max(first, 1.0), row - 8);
        if (bar.second > 0) {
            svg += rect("bar second", labelWidth + first, y + 4, second, row - 8);
        }
        svg += text(labelWidth + first + second + 6, y + 16, bar.value);
    }
    return svg + "</svg>";
}

std::string lineChart(const std::string& title, const std::vector<std::uint64_t>& values,
                      const std::vector<std::string>& labels) {
    constexpr int height = 220, left = 90, right = 20, top = 12, bottom = 36;
    constexpr double plotWidth = chartWidth - left - right, plotHeight = height - top - bottom;
    const std::uint64_t highest = std::max<std::uint64_t>(
        1, values.empty() ? 1 : *std::max_element(values.begin(), values.end()));
    const std::size_t steps = values.size() > 1 ? values.size() - 1 : 1;
    const auto x = [&](std::size_t i) { return left + plotWidth * static_cast<double>(i) / steps; };
    const auto y = [&](std::uint64_t v) {
        return top + plotHeight -
               plotHeight * static_cast<double>(v) / static_cast<double>(highest);
    };

    std::string svg = open(title, height);
    for (const std::uint64_t level : {std::uint64_t{0}, highest / 2, highest}) {
        svg += "<line class=\"grid\" x1=\"" + number(left) + "\" x2=\"" + number(left + plotWidth) +
               "\" y1=\"" + number(y(level)) + "\" y2=\"" + number(y(level)) + "\"/>";
        svg += text(left - 8, y(level) + 4, groupDigits(level), "end");
    }
    std::string points;
    for (std::size_t i = 0; i < values.size(); ++i) {
        points += number(x(i)) + ',' + number(y(values[i])) + ' ';
    }
    if (values.size() == 1) {
        svg += "<circle class=\"point\" cx=\"" + number(x(0)) + "\" cy=\"" + number(y(values[0])) +
               "\" r=\"3\"/>";
    } else if (!values.empty()) {
        svg += "<polygon class=\"area\" points=\"" + number(x(0)) + ',' + number(y(0)) + ' ' +
               points + number(x(values.size() - 1)) + ',' + number(y(0)) + "\"/>";
        svg += "<polyline class=\"line\" points=\"" + points + "\"/>";
    }
    if (!labels.empty()) {
        const std::size_t last = labels.size() - 1;
        svg += text(x(0), height - 12, labels.front(), "start");
        if (last >= 2) {
            svg += text(x(last / 2), height - 12, labels[last / 2], "middle");
        }
        if (last >= 1) {
            svg += text(x(last), height - 12, labels.back(), "end");
        }
    }
    return svg + "</svg>";
}

}  // namespace tidewrack::report
