// The report as text for a terminal: the summary's heading, then each section as a heading and
// a table fitted to the width.
//
// No line is longer than the width. Headings wrap at blanks. A table too wide first leaves out
// its droppable columns, the rightmost first (a chart's bar column is the rightmost), then
// shortens its cuttable columns, the widest first, to no fewer than eight columns each, marking
// the cut with '~'; a table still too wide shows each row as a block of "title value" lines
// instead. Every text shown goes through terminalText, so that none can act on the terminal.
#pragma once

#include <cstddef>

#include "report/report_model.h"
#include "report/text_sink.h"

namespace tidewrack::report {

void terminalReport(const Report& report, std::size_t width, TextSink& out);

}  // namespace tidewrack::report
