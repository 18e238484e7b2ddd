// Charts as inline SVG elements for the HTML report: horizontal bars for shares, a line for a
// series over time. Each chart is one <svg class="chart"> with its own width and height, drawn
// in the page's fonts and colours (the classes are styled by the page's CSS), and titled for
// screen readers. Nothing in them runs or fetches.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tidewrack::report {

struct Bar {
    std::string label;
    std::uint64_t first;   // the bar's first segment
    std::uint64_t second;  // and its second, drawn after it (0 for a bar of one segment)
    std::string value;     // the text written after the bar
};

// One bar a row, scaled to the longest; `legend` names the two segments (empty for none).
std::string barChart(const std::string& title, const std::vector<Bar>& bars,
                     const std::vector<std::string>& legend = {});

// A line through `values`, one a step from left to right, over an area shading; the x axis is
// labelled with `labels` at the first, middle and last step, the y axis with 0, half and the
// highest value.
std::string lineChart(const std::string& title, const std::vector<std::uint64_t>& values,
                      const std::vector<std::string>& labels);

}  // namespace tidewrack::report
