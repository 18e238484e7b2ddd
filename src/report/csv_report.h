// One section of the report as CSV, for spreadsheets and scripts: a heading line of its
// columns' keys (the JSON member names), then its rows, cut at --top as everywhere else. Fields
// hold what the JSON holds: numbers as they are, texts without quotes, nothing for null, a
// list's items joined by blanks. A field with a comma, a double quote or a line break is
// quoted, its double quotes doubled, as RFC 4180 has it; lines end with a line feed. Texts go
// through terminalText, since standard output is often a terminal, and a text that a
// spreadsheet would read as a formula is written after a single quote.
#pragma once

#include "report/report_model.h"
#include "report/text_sink.h"

namespace tidewrack::report {

// Times are written as on `axis`.
void csvReport(const Section& section, const TimeAxis& axis, TextSink& out);

}  // namespace tidewrack::report
