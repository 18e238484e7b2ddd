// The report as one JSON document, for scripts. Its members, and what each holds, are listed
// in the manual page (docs/tidewrack-report.1, section JSON); a list holds one object a line.
#pragma once

#include <string>

#include "report/report_sections.h"

namespace tidewrack::report {

std::string jsonReport(const Report& report);

}  // namespace tidewrack::report
