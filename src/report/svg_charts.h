// The page's charts of a section, as its chart hint (report_model.h) asks: bars, one a row, or
// lines over the timeline. Shapes are SVG drawn in a viewBox and stretched to the width of the
// page; labels, values and axes are the page's own text beside them, at the size of the tables'
// text, so that a chart fills any screen and stays legible on a narrow one. Byte axes count in
// kB, MB and GB. Colours and fonts come from the page's CSS (its light and dark schemes);
// nothing in a chart runs or fetches.
#pragma once

#include <cstdint>
#include <vector>

#include "report/report_model.h"
#include "report/text_sink.h"

namespace tidewrack::report {

// A <figure> of one bar a row, each as long as its share (for a column of shares) or against
// the longest, with its label before it and its value after it; a bar of two segments has a
// legend of the two columns.
void barChart(const Section& section, const TimeAxis& axis, TextSink& out);

// A <figure> for each column the chart names: a line through the rows' values over an area
// shading, a value axis of round numbers and a time axis of up to seven ticks on round times
// (whole seconds, minutes, hours or days; the text of three on a narrow screen). A row of a
// collapsed stretch of no traffic breaks the lines with a band, labelled with its length below
// the axis when the label stays clear of the one before it (none on a narrow screen); the times
// of `marks` are marked at the foot of the plot.
void lineCharts(const Section& section, const TimeAxis& axis,
                const std::vector<std::int64_t>& marks, TextSink& out);

// The times a section's chart marks (Chart::marks): the first times of the rows of the section
// it names, when that section has more than one row; none otherwise.
std::vector<std::int64_t> chartMarks(const Report& report, const Section& section);

}  // namespace tidewrack::report
