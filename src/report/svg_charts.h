// The page's charts of a section, as its chart hint (report_model.h) asks: bars, one a row, or
// lines over the timeline. Shapes are SVG drawn in a viewBox and stretched to the width of the
// page; labels, values and axes are the page's own text beside them, at the size of the tables'
// text, so that a chart fills any screen and stays legible on a narrow one. Byte axes count in
// kB, MB and GB. Colours and fonts come from the page's CSS (its light and dark schemes);
// nothing in a chart runs or fetches.
#pragma once

#include "report/report_model.h"
#include "report/text_sink.h"

namespace tidewrack::report {

// A <figure> of one bar a row, each as long as its share (for a column of shares) or against
// the longest, with its label before it and its value after it; a bar of two segments has a
// legend of the two columns.
void barChart(const Section& section, const TimeAxis& axis, TextSink& out);

// A <figure> for each column the chart names: a line through the rows' values over an area
// shading, a value axis of round numbers and a time axis of up to seven labels (four on a
// narrow screen).
void lineCharts(const Section& section, const TimeAxis& axis, TextSink& out);

}  // namespace tidewrack::report
