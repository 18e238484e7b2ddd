// The report as one JSON document, for scripts: the generator and --top, then one member per
// section, named by its id. A section's rows are a list of objects, one a line, whose members
// are its columns' keys; a record is one object; a section with facts is an object of the facts
// and of its rows' list. The manual page (docs/tidewrack-report.1, section JSON) lists them.
#pragma once

#include "report/report_model.h"
#include "report/text_sink.h"

namespace tidewrack::report {

void jsonReport(const Report& report, TextSink& out);

}  // namespace tidewrack::report
